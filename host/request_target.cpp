#include "host/request_target.h"

#include <algorithm>

namespace host {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Printable ASCII without the space: what a request target may hold.
bool IsTargetChar(char c) { return c > 0x20 && c < 0x7F; }

// The part of an absolute-form target ("http://authority/path?query") after its
// authority; the target itself when it is not one.
std::string_view WithoutSchemeAndAuthority(std::string_view target) {
  const size_t colon = target.find("://");
  if (colon == std::string_view::npos) return target;
  std::string scheme(target.substr(0, colon));
  for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (scheme != "http" && scheme != "https") return target;
  const size_t authority = colon + 3;
  const size_t end = target.find_first_of("/?", authority);
  return end == std::string_view::npos ? std::string_view() : target.substr(end);
}

}  // namespace

std::optional<RequestTarget> SplitTarget(std::string_view target) {
  if (target.empty() || !std::all_of(target.begin(), target.end(), IsTargetChar)) {
    return std::nullopt;
  }
  const std::string_view rest = WithoutSchemeAndAuthority(target);
  const bool absoluteForm = rest.size() != target.size();
  target = rest;
  if (absoluteForm && (target.empty() || target.starts_with('?'))) {
    // "http://host" and "http://host?q" name the site's root.
    RequestTarget root;
    root.path = "/";
    if (!target.empty()) root.query = target.substr(1);
    return root;
  }
  if (target.front() != '/') return std::nullopt;
  const size_t question = target.find('?');
  std::optional<std::string> path = PercentDecode(target.substr(0, question), false);
  if (!path || path->find('\0') != std::string::npos) return std::nullopt;
  RequestTarget split;
  split.path = std::move(*path);
  if (question != std::string_view::npos) split.query = target.substr(question + 1);
  return split;
}

std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (text.size() - i < 3) return std::nullopt;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += plusIsSpace && c == '+' ? ' ' : c;
    }
  }
  return decoded;
}

std::string QueryParameter(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    const size_t equals = pair.find('=');
    const std::string_view rawName = pair.substr(0, equals);
    const std::string_view rawValue =
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    if (PercentDecode(rawName, true).value_or(std::string(rawName)) == name) {
      return PercentDecode(rawValue, true).value_or(std::string(rawValue));
    }
  }
  return "";
}

std::optional<std::string> SiteRelativePath(std::string_view decodedPath) {
  if (decodedPath.find('\0') != std::string_view::npos) return std::nullopt;
  std::string relative;
  while (!decodedPath.empty()) {
    const size_t slash = decodedPath.find('/');
    const std::string_view segment = decodedPath.substr(0, slash);
    decodedPath =
        slash == std::string_view::npos ? std::string_view() : decodedPath.substr(slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") return std::nullopt;
    if (!relative.empty()) relative += '/';
    relative += segment;
  }
  return relative;
}

}  // namespace host
