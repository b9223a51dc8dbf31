// The site's files as the host sends them: where a request path leads (never out of
// the site, never to a denied name), their content types, their validators, and how a
// conditional or ranged request for one is answered.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/exchange.h"

namespace host {

struct SiteEntry {
  enum class Kind {
    kFile,     // a regular file inside the site
    kMissing,  // nothing there, a denied name, or a folder without an index file
    kOutside,  // a symbolic link leads out of the site
    kFolder,   // a folder named without its trailing slash (redirect to it)
  };
  Kind kind = Kind::kMissing;
  std::string realPath;  // with kFile
  std::string sitePath;  // with kFile: "/" and the path below the site ("/index.asp" for "/")
};

class SiteFiles {
 public:
  // `realSite` is the site's real path; `deny` holds shell patterns matched against
  // every segment of a path (case ignored); `hidden` are real paths never sent (the
  // host's configuration file).
  SiteFiles(std::string realSite, std::vector<std::string> deny, std::vector<std::string> hidden);

  // Where a site-relative path (from SiteRelativePath) leads. A folder leads to the
  // first of `indexNames` it holds when the request path ended in '/' (or named the site).
  SiteEntry Resolve(const std::string& relative, bool namesFolder,
                    const std::vector<std::string>& indexNames) const;

  const std::string& Root() const { return realSite_; }

 private:
  bool Denied(std::string_view relative) const;

  std::string realSite_;
  std::vector<std::string> deny_;
  std::vector<std::string> hidden_;
};

// Content types by file name extension, from the system's table (/etc/mime.types) with a
// small built-in one beneath; text types say they are UTF-8.
class ContentTypes {
 public:
  // Reads the table at `path`; when it cannot, only the built-in types are known.
  explicit ContentTypes(const std::string& path = "/etc/mime.types");
  std::string For(std::string_view fileName) const;

 private:
  std::map<std::string, std::string> types_;
};

// The validators of a file: a strong entity tag made from its size and modification
// time, and that time as an HTTP date.
struct FileValidators {
  uint64_t size = 0;
  std::time_t modified = 0;
  std::string etag;
  std::string lastModified;
};
FileValidators ValidatorsOf(const struct stat& status);

// How a GET or HEAD of a file is answered, after If-None-Match, If-Modified-Since,
// Range and If-Range.
struct FileAnswer {
  int status = 200;  // 200, 206, 304 or 416
  uint64_t offset = 0;
  uint64_t length = 0;       // bytes of the body
  std::string contentRange;  // with 206 and 416
};
FileAnswer AnswerFor(const RequestRecord& request, const FileValidators& file);

}  // namespace host
