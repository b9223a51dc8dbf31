// The head of an HTTP/1.x request, parsed from the bytes a client sent, and the
// texts a page takes from it: the decoded path, the site-relative file it names, the
// query parameters. Pure functions over bytes; nothing here touches a socket or a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

// The longest head (request line and header lines) a client may send.
constexpr size_t kMaxHeadBytes = 16 * 1024;
constexpr size_t kMaxHeaderCount = 100;

struct HttpRequest {
  std::string method;
  std::string target;    // as sent
  std::string path;      // the target's path, %-decoded once
  std::string query;     // the target's query (after '?'), as sent
  int minorVersion = 1;  // HTTP/1.minorVersion
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case

  // The value of the first header of that (lower-case) name, or nothing.
  std::optional<std::string_view> Header(std::string_view name) const;
};

enum class ParseStatus {
  kComplete,    // the head ends within the bytes
  kIncomplete,  // more bytes are needed
  kMalformed,   // the bytes are no HTTP/1.x request head
  kTooLarge,    // the head exceeds kMaxHeadBytes or kMaxHeaderCount
};

struct ParseResult {
  ParseStatus status = ParseStatus::kIncomplete;
  size_t headBytes = 0;  // with kComplete: the bytes of the head, blank line included
  HttpRequest request;   // with kComplete
};

// Parses the request head at the start of `bytes`. Lines end with CRLF (a bare LF is
// accepted); header values lose their surrounding blanks.
ParseResult ParseRequestHead(std::string_view bytes);

}  // namespace host
