#include "vellumset/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/kernel/code_page.h"
#include "platform/kernel/file_descriptor.h"

namespace vellumset {

namespace {

DWORD LastErrno() { return static_cast<DWORD>(errno); }

constexpr DWORD ERROR_WRITE_FAULT = EIO;

}  // namespace

DWORD PathFromBstr(BSTR name, std::string* path) {
  std::optional<std::string> converted = Utf16ToUtf8(BstrView(name));
  if (!converted) return ERROR_NO_UNICODE_TRANSLATION;
  if (converted->find('\0') != std::string::npos) return ERROR_INVALID_PARAMETER;
  *path = std::move(*converted);
  return NO_ERROR;
}

DWORD ReadWholeFile(const std::string& path, size_t limit, std::string* content) {
  // Not blocking, so that opening a named pipe cannot hang; it is refused below.
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.Get() < 0) return LastErrno();
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) return LastErrno();
  if (S_ISDIR(status.st_mode)) return ERROR_DIRECTORY_NOT_A_FILE;
  if (!S_ISREG(status.st_mode)) return ERROR_INVALID_PARAMETER;
  if (static_cast<uint64_t>(status.st_size) > limit) return ERROR_FILE_TOO_LARGE;
  try {
    content->clear();
    content->reserve(static_cast<size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
      const ssize_t count = read(file.Get(), buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) return LastErrno();
      if (count == 0) return NO_ERROR;
      // The file may have grown since it was measured.
      if (content->size() + static_cast<size_t>(count) > limit) return ERROR_FILE_TOO_LARGE;
      content->append(buffer, static_cast<size_t>(count));
    }
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

DWORD WriteWholeFile(const std::string& path, std::span<const BYTE> bytes) {
  FileDescriptor file(
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
  if (file.Get() < 0) return LastErrno();
  while (!bytes.empty()) {
    const ssize_t count = write(file.Get(), bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return LastErrno();
    if (count == 0) return ERROR_WRITE_FAULT;
    bytes = bytes.subspan(static_cast<size_t>(count));
  }
  return file.Close() == 0 ? NO_ERROR : LastErrno();
}

}  // namespace vellumset
