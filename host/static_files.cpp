#include "host/static_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "host/http_response.h"
#include "platform/kernel/file_descriptor.h"

namespace host {

namespace {

// Opens a regular file for reading; its size in `size`.
bool OpenRegularFile(FileDescriptor& file, off_t* size) {
  struct stat status {};
  if (file.Get() < 0 || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  *size = status.st_size;
  return true;
}

std::string Lowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower;
}

}  // namespace

std::string_view ContentTypeFor(std::string_view fileName) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 18> kTypes = {{
      {"html", "text/html; charset=utf-8"},
      {"htm", "text/html; charset=utf-8"},
      {"css", "text/css"},
      {"txt", "text/plain; charset=utf-8"},
      {"json", "application/json"},
      {"svg", "image/svg+xml"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"bmp", "image/bmp"},
      {"tif", "image/tiff"},
      {"tiff", "image/tiff"},
      {"pcx", "image/pcx"},
      {"psd", "image/psd"},
      {"ico", "image/x-icon"},
      {"webp", "image/webp"},
      {"avif", "image/avif"},
  }};
  const size_t dot = fileName.rfind('.');
  const size_t slash = fileName.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return "application/octet-stream";
  }
  const std::string extension = Lowercase(fileName.substr(dot + 1));
  for (const auto& [known, type] : kTypes) {
    if (known == extension) return type;
  }
  return "application/octet-stream";
}

Resolution ResolveInSite(const std::string& realSite, const std::string& relative,
                         std::string* realPath) {
  const std::string joined = relative.empty() ? realSite : realSite + "/" + relative;
  char resolved[PATH_MAX];
  if (realpath(joined.c_str(), resolved) == nullptr) return Resolution::kMissing;
  const std::string_view path(resolved);
  if (!path.starts_with(realSite) || path.size() <= realSite.size() ||
      path[realSite.size()] != '/') {
    return Resolution::kOutside;
  }
  struct stat status {};
  if (stat(resolved, &status) != 0 || !S_ISREG(status.st_mode)) return Resolution::kMissing;
  *realPath = resolved;
  return Resolution::kFound;
}

bool SendFile(Connection& connection, const std::string& path, bool headOnly, size_t* sent) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  off_t size = 0;
  if (!OpenRegularFile(file, &size)) return false;
  const HeaderList headers = {{"Content-Type", std::string(ContentTypeFor(path))},
                              {"Content-Length", std::to_string(size)}};
  connection.Send(ResponseHead(200, headers));
  *sent = 0;
  if (headOnly) return true;
  char piece[64 * 1024];
  while (*sent < static_cast<size_t>(size)) {
    const ssize_t got = read(file.Get(), piece, sizeof piece);
    if (got < 0 && errno == EINTR) continue;
    // A file that shrank while it was sent leaves the response short; the client sees that.
    if (got <= 0 || !connection.Send(std::string_view(piece, static_cast<size_t>(got)))) break;
    *sent += static_cast<size_t>(got);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, size_t limit, std::string* content) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  off_t size = 0;
  if (!OpenRegularFile(file, &size) || static_cast<uint64_t>(size) > limit) return false;
  content->resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < content->size()) {
    const ssize_t got = read(file.Get(), content->data() + done, content->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  content->resize(done);
  return true;
}

}  // namespace host
