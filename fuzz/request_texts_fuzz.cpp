// The request texts the host still reads itself (libmicrohttpd parses the rest): the
// target and the site path it names, query parameters, byte ranges, entity tag lists,
// HTTP dates and mime.types lines. The input picks the reader and a file size; the rest
// is the text. Each reader must keep its promises.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/http_texts.h"
#include "host/request_target.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckTarget(std::string_view text) {
  const std::optional<host::RequestTarget> target = host::SplitTarget(text);
  if (!target) return;
  Require(text.starts_with('/') || text.find("://") != std::string_view::npos);
  Require(target->path.starts_with('/') && target->path.find('\0') == std::string::npos);
  host::QueryParameter(target->query, "name");
  const std::optional<std::string> relative = host::SiteRelativePath(target->path);
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

void CheckRange(std::string_view text, uint64_t size) {
  const host::ByteRange range = host::ParseRange(text, size);
  if (range.kind == host::ByteRange::Kind::kPart) {
    Require(range.first <= range.last && range.last < size);
  }
}

void CheckDate(std::string_view text) {
  const std::optional<std::time_t> time = host::ParseHttpDate(text);
  if (!time) return;
  Require(host::ParseHttpDate(host::FormatHttpDate(*time)) == time);
}

void CheckMimeTypes(std::string_view text) {
  for (const auto& [extension, type] : host::ParseMimeTypes(text)) {
    Require(!extension.empty() && type.find('/') != std::string::npos);
    for (const char c : extension) Require(!(c >= 'A' && c <= 'Z') && c != ' ' && c != '\n');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const auto reader = input.ConsumeIntegral<uint8_t>();
  const auto fileSize = input.ConsumeIntegral<uint64_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();
  switch (reader % 5) {
    case 0:
      CheckTarget(text);
      break;
    case 1:
      CheckRange(text, fileSize);
      break;
    case 2:
      host::EtagListMatches(text, "\"1f-2a\"");
      break;
    case 3:
      CheckDate(text);
      break;
    case 4:
      CheckMimeTypes(text);
      break;
  }
  return 0;
}
