#include "host/site_files.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/http_texts.h"

namespace host {

namespace {

// Calls `visit` with each segment of a '/'-separated path until it returns true.
template <typename Visit>
bool AnySegment(std::string_view path, Visit visit) {
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view segment = path.substr(0, slash);
    if (!segment.empty() && visit(segment)) return true;
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return false;
}

bool IsFolder(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

SiteFiles::SiteFiles(std::string realSite, std::vector<std::string> deny,
                     std::vector<std::string> hidden)
    : realSite_(std::move(realSite)), deny_(std::move(deny)), hidden_(std::move(hidden)) {}

bool SiteFiles::Denied(std::string_view relative) const {
  return AnySegment(relative, [this](std::string_view segment) {
    const std::string name(segment);
    for (const std::string& pattern : deny_) {
      if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
    }
    return false;
  });
}

SiteEntry SiteFiles::Resolve(const std::string& relative, bool namesFolder,
                             const std::vector<std::string>& indexNames) const {
  SiteEntry entry;
  if (Denied(relative)) return entry;
  std::string wanted = relative.empty() ? realSite_ : realSite_ + "/" + relative;
  std::string sitePath = "/" + relative;
  if (IsFolder(wanted)) {
    if (!namesFolder && !relative.empty()) {
      entry.kind = SiteEntry::Kind::kFolder;
      return entry;
    }
    if (!sitePath.ends_with('/')) sitePath += '/';
    std::string index;
    for (const std::string& name : indexNames) {
      if (access((wanted + "/" + name).c_str(), F_OK) == 0) {
        index = name;
        break;
      }
    }
    if (index.empty()) return entry;
    wanted += "/" + index;
    sitePath += index;
  }
  char resolved[PATH_MAX];
  if (realpath(wanted.c_str(), resolved) == nullptr) return entry;
  const std::string_view real(resolved);
  if (!real.starts_with(realSite_) || real.size() <= realSite_.size() ||
      real[realSite_.size()] != '/') {
    entry.kind = SiteEntry::Kind::kOutside;
    return entry;
  }
  // A link inside the site may still lead to a denied name.
  if (Denied(real.substr(realSite_.size() + 1))) return entry;
  for (const std::string& path : hidden_) {
    if (real == path) return entry;
  }
  struct stat status {};
  if (stat(resolved, &status) != 0 || !S_ISREG(status.st_mode)) return entry;
  entry.kind = SiteEntry::Kind::kFile;
  entry.realPath = resolved;
  entry.sitePath = std::move(sitePath);
  return entry;
}

ContentTypes::ContentTypes(const std::string& path) {
  std::ifstream file(path);
  if (file) {
    std::stringstream text;
    text << file.rdbuf();
    types_ = ParseMimeTypes(text.str());
  }
  // Beneath the system's table: what a site of pictures needs when there is none.
  static constexpr std::string_view kBuiltIn =
      "text/html html htm\ntext/css css\ntext/plain txt\ntext/javascript js mjs\n"
      "application/json json\nimage/svg+xml svg\nimage/png png\nimage/jpeg jpg jpeg\n"
      "image/gif gif\nimage/bmp bmp\nimage/tiff tif tiff\nimage/webp webp\nimage/avif avif\n"
      "image/vnd.microsoft.icon ico\nimage/vnd.adobe.photoshop psd\nimage/x-pcx pcx\n";
  types_.merge(ParseMimeTypes(kBuiltIn));
}

std::string ContentTypes::For(std::string_view fileName) const {
  const size_t dot = fileName.rfind('.');
  const size_t slash = fileName.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return "application/octet-stream";
  }
  std::string extension(fileName.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  const auto found = types_.find(extension);
  if (found == types_.end()) return "application/octet-stream";
  if (found->second.starts_with("text/")) return found->second + "; charset=utf-8";
  return found->second;
}

FileValidators ValidatorsOf(const struct stat& status) {
  FileValidators file;
  file.size = static_cast<uint64_t>(status.st_size);
  file.modified = status.st_mtim.tv_sec;
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(file.size),
                static_cast<unsigned long long>(status.st_mtim.tv_sec) * 1000000000ull +
                    static_cast<unsigned long long>(status.st_mtim.tv_nsec));
  file.etag = etag;
  file.lastModified = FormatHttpDate(file.modified);
  return file;
}

FileAnswer AnswerFor(const RequestRecord& request, const FileValidators& file) {
  FileAnswer answer;
  answer.length = file.size;
  if (const auto ifNoneMatch = request.Header("if-none-match")) {
    if (EtagListMatches(*ifNoneMatch, file.etag)) answer.status = 304;
  } else if (const auto ifModifiedSince = request.Header("if-modified-since")) {
    const std::optional<std::time_t> since = ParseHttpDate(*ifModifiedSince);
    if (since && file.modified <= *since) answer.status = 304;
  }
  if (answer.status == 304) {
    answer.length = 0;
    return answer;
  }
  const auto rangeHeader = request.Header("range");
  if (!rangeHeader || request.method != "GET") return answer;
  // If-Range: the range only while the file is still the one the client has part of.
  if (const auto ifRange = request.Header("if-range")) {
    const bool same = ifRange->starts_with('"')
                          ? *ifRange == file.etag
                          : ParseHttpDate(*ifRange) == std::optional<std::time_t>(file.modified);
    if (!same) return answer;
  }
  const ByteRange range = ParseRange(*rangeHeader, file.size);
  const std::string size = std::to_string(file.size);
  switch (range.kind) {
    case ByteRange::Kind::kWhole:
      break;
    case ByteRange::Kind::kUnsatisfiable:
      answer.status = 416;
      answer.length = 0;
      answer.contentRange = "bytes */" + size;
      break;
    case ByteRange::Kind::kPart:
      answer.status = 206;
      answer.offset = range.first;
      answer.length = range.last - range.first + 1;
      answer.contentRange =
          "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + size;
      break;
  }
  return answer;
}

}  // namespace host
