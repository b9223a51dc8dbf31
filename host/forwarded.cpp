#include "host/forwarded.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace host {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The comma-separated items of every header of that name, in order.
std::vector<std::string> HeaderItems(const RequestRecord& record, std::string_view name) {
  std::vector<std::string> items;
  for (const auto& [headerName, value] : record.headers) {
    if (headerName != name) continue;
    std::string_view rest = value;
    while (true) {
      const size_t comma = rest.find(',');
      const std::string_view item = Trimmed(rest.substr(0, comma));
      if (!item.empty()) items.emplace_back(item);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  return items;
}

std::string_view WithoutMappedPrefix(std::string_view address) {
  constexpr std::string_view kMapped = "::ffff:";
  if (address.size() > kMapped.size() && address.find('.') != std::string_view::npos &&
      std::equal(kMapped.begin(), kMapped.end(), address.begin(),
                 [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); })) {
    address.remove_prefix(kMapped.size());
  }
  return address;
}

}  // namespace

bool IsIpAddress(const std::string& text) {
  in6_addr v6{};
  in_addr v4{};
  return inet_pton(AF_INET, text.c_str(), &v4) == 1 || inet_pton(AF_INET6, text.c_str(), &v6) == 1;
}

bool IsTrustedProxy(const std::string& address, const std::vector<std::string>& trusted) {
  const std::string_view peer = WithoutMappedPrefix(address);
  return std::any_of(trusted.begin(), trusted.end(),
                     [&](const std::string& proxy) { return WithoutMappedPrefix(proxy) == peer; });
}

void ApplyForwardedHeaders(const std::vector<std::string>& trusted, RequestRecord* record) {
  if (!IsTrustedProxy(record->remoteAddress, trusted)) return;
  const std::vector<std::string> protocols = HeaderItems(*record, "x-forwarded-proto");
  if (!protocols.empty()) {
    std::string last = protocols.back();
    std::transform(last.begin(), last.end(), last.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    record->secure = last == "https";
  }
  // From the nearest hop back: the first address no trusted proxy added is the client.
  const std::vector<std::string> hops = HeaderItems(*record, "x-forwarded-for");
  for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
    if (!IsIpAddress(*hop)) return;
    record->remoteAddress = *hop;
    record->remotePort = 0;
    if (!IsTrustedProxy(*hop, trusted)) return;
  }
}

}  // namespace host
