// Parses the input as a request head. A head that parses must keep the parser's
// promises: within the limits, an origin-form target, no NUL in the decoded path, and
// a site path without ".." segments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/http_request.h"
#include "host/request_target.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckSitePath(std::string_view decodedPath) {
  const std::optional<std::string> relative = host::SiteRelativePath(decodedPath);
  if (!relative) return;
  std::string_view rest = *relative;
  Require(!rest.starts_with('/'));
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    Require(!segment.empty() && segment != "." && segment != "..");
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const host::ParseResult parsed = host::ParseRequestHead(bytes);
  if (parsed.status != host::ParseStatus::kComplete) return 0;
  const host::HttpRequest& request = parsed.request;
  Require(parsed.headBytes <= size && parsed.headBytes <= host::kMaxHeadBytes);
  Require(request.headers.size() <= host::kMaxHeaderCount);
  Require(request.target.starts_with('/'));
  Require(request.path.find('\0') == std::string::npos);
  CheckSitePath(request.path);
  host::QueryParameter(request.query, "text");
  for (const auto& [name, value] : request.headers) {
    Require(!name.empty() && value.find_first_of("\r\n") == std::string::npos);
  }
  return 0;
}
