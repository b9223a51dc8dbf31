// The few header texts the host reads itself (the engine parses everything else):
// byte ranges, entity tags, HTTP dates, and the lines of a mime.types file. Pure
// functions over bytes.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace host {

struct ByteRange {
  enum class Kind {
    kWhole,          // no usable Range header: send the whole file
    kPart,           // send bytes first..last (inclusive)
    kUnsatisfiable,  // the one range lies past the end: 416
  };
  Kind kind = Kind::kWhole;
  uint64_t first = 0;
  uint64_t last = 0;
};

// A Range header against a file of `size` bytes. Only one range of bytes is honoured
// ("bytes=a-b", "bytes=a-", "bytes=-n"); a list of ranges or a header that does not
// parse asks for the whole file.
ByteRange ParseRange(std::string_view header, uint64_t size);

// Whether an If-None-Match list ("*", or tags separated by commas) holds `etag`, by
// weak comparison (W/ prefixes ignored).
bool EtagListMatches(std::string_view list, std::string_view etag);

// An HTTP date in the preferred form ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string FormatHttpDate(std::time_t time);
// The preferred form and the two obsolete ones (RFC 850 and asctime); nothing for
// anything else.
std::optional<std::time_t> ParseHttpDate(std::string_view text);

// The extension-to-type table of a mime.types file: "type ext ext ..." lines, '#'
// comments; extensions in lower case, the first line that names one wins.
std::map<std::string, std::string> ParseMimeTypes(std::string_view text);

}  // namespace host
