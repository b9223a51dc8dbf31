#include "host/http_request.h"

#include <algorithm>

#include "host/request_target.h"

namespace host {

namespace {

bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// A header value may hold blanks and any byte but the other control characters.
bool IsValueChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Lowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// "METHOD SP target SP HTTP/1.d"
bool ParseRequestLine(std::string_view line, HttpRequest& request) {
  const size_t firstSpace = line.find(' ');
  if (firstSpace == std::string_view::npos) return false;
  const size_t secondSpace = line.find(' ', firstSpace + 1);
  if (secondSpace == std::string_view::npos) return false;
  const std::string_view method = line.substr(0, firstSpace);
  const std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  const std::string_view version = line.substr(secondSpace + 1);
  if (!IsToken(method)) return false;
  if (version.size() != 8 || !version.starts_with("HTTP/1.") || version[7] < '0' ||
      version[7] > '9') {
    return false;
  }
  std::optional<RequestTarget> split = SplitTarget(target);
  if (!split) return false;
  request.method = method;
  request.target = target;
  request.path = std::move(split->path);
  request.query = std::move(split->query);
  request.minorVersion = version[7] - '0';
  return true;
}

// "name: value"
bool ParseHeaderLine(std::string_view line, HttpRequest& request) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return false;
  const std::string_view value = TrimBlanks(line.substr(colon + 1));
  if (!std::all_of(value.begin(), value.end(), IsValueChar)) return false;
  request.headers.emplace_back(Lowercase(line.substr(0, colon)), std::string(value));
  return true;
}

}  // namespace

std::optional<std::string_view> HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key == name) return value;
  }
  return std::nullopt;
}

ParseResult ParseRequestHead(std::string_view bytes) {
  ParseResult result;
  size_t start = 0;
  bool firstLine = true;
  while (true) {
    const size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos || end >= kMaxHeadBytes) {
      const bool overLimit = bytes.size() >= kMaxHeadBytes;
      result.status = overLimit ? ParseStatus::kTooLarge : ParseStatus::kIncomplete;
      return result;
    }
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    if (line.find('\r') != std::string_view::npos) {
      result.status = ParseStatus::kMalformed;
      return result;
    }
    if (line.empty() && !firstLine) break;
    if (!firstLine && result.request.headers.size() == kMaxHeaderCount) {
      result.status = ParseStatus::kTooLarge;
      return result;
    }
    const bool parsed =
        firstLine ? ParseRequestLine(line, result.request) : ParseHeaderLine(line, result.request);
    if (!parsed) {
      result.status = ParseStatus::kMalformed;
      return result;
    }
    firstLine = false;
  }
  result.status = ParseStatus::kComplete;
  result.headBytes = start;
  return result;
}

}  // namespace host
