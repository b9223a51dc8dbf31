// The texts a request's target holds: its path, decoded once, the site file it names,
// and its query parameters. Pure functions over bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

struct RequestTarget {
  std::string path;   // %-decoded once
  std::string query;  // after '?', as sent
};

// Splits an origin-form target ("/path?query"), or an absolute-form one
// ("http://authority/path?query", whose authority is passed over); nothing when it
// is neither, holds a byte that is no visible ASCII character, has a broken escape in
// its path, or a path that decodes to a NUL.
std::optional<RequestTarget> SplitTarget(std::string_view target);

// Decodes %XX escapes (and '+' as a space when `plusIsSpace`); nothing for a broken
// escape.
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace);

// The decoded value of the first `name=value` pair of a query with that decoded name;
// an empty text when there is none.
std::string QueryParameter(std::string_view query, std::string_view name);

// The path of a file below the site directory that a decoded request path names,
// without leading, doubled or "." segments ("" for the site itself); nothing for a
// path that would leave the site (a ".." segment) or holds a NUL.
std::optional<std::string> SiteRelativePath(std::string_view decodedPath);

}  // namespace host
