#include "platform/policy/file_access.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "platform/kernel/file_descriptor.h"
#include "platform/kernel/last_error.h"

namespace policy {

namespace {

static_assert(kOutsideAllowedFolders == EACCES);

using FolderList = std::vector<std::string>;

struct AllowedFolderState {
  std::mutex lock;
  std::shared_ptr<const FolderList> folders = std::make_shared<const FolderList>();
};

AllowedFolderState& State() {
  static AllowedFolderState state;
  return state;
}

std::shared_ptr<const FolderList> CurrentFolders() {
  AllowedFolderState& state = State();
  const std::lock_guard<std::mutex> guard(state.lock);
  return state.folders;
}

DWORD LastErrno() { return static_cast<DWORD>(errno); }

// The real path of an existing file or folder; false with errno set otherwise.
bool RealPath(const std::string& path, std::string* resolved) {
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  if (!real) return false;
  *resolved = real.get();
  return true;
}

// The folder part of a path ("." when it has none) and its last name.
std::pair<std::string, std::string> SplitLastName(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The real path of a file that may not exist yet: its own, or its folder's and its name.
bool ResolveFile(const std::string& path, std::string* resolved) {
  if (RealPath(path, resolved)) return true;
  if (errno != ENOENT) return false;
  const auto [folder, name] = SplitLastName(path);
  if (name.empty() || name == "." || name == ".." || !RealPath(folder, resolved)) return false;
  if (resolved->back() != '/') *resolved += '/';
  *resolved += name;
  return true;
}

bool Inside(const std::string& resolved, const FolderList& folders) {
  for (const std::string& folder : folders) {
    if (folder == "/" || resolved == folder ||
        (resolved.size() > folder.size() && resolved.compare(0, folder.size(), folder) == 0 &&
         resolved[folder.size()] == '/')) {
      return true;
    }
  }
  return false;
}

// The name the components open for `path`: the path itself without a restriction,
// else its real path once that lies inside an allowed folder.
DWORD ResolveName(const std::string& path, std::string* name, bool* restricted) {
  const std::shared_ptr<const FolderList> folders = CurrentFolders();
  *restricted = !folders->empty();
  if (!*restricted) {
    *name = path;
    return NO_ERROR;
  }
  if (!ResolveFile(path, name)) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : LastErrno();
  return Inside(*name, *folders) ? NO_ERROR : kOutsideAllowedFolders;
}

// Refuses what exists and is not a regular file, before anything opens it.
DWORD RefuseIrregular(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return EISDIR;
  if (!S_ISREG(status.st_mode)) return ERROR_INVALID_PARAMETER;
  return NO_ERROR;
}

// Checks what was opened (it may have changed since it was looked at) and turns
// blocking back on.
DWORD AcceptOpened(int descriptor) {
  struct stat status {};
  if (fstat(descriptor, &status) != 0) return LastErrno();
  if (const DWORD refused = RefuseIrregular(status)) return refused;
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) return LastErrno();
  return NO_ERROR;
}

DWORD OpenRegular(const std::string& path, int flags, int* descriptor) {
  std::string name;
  bool restricted = false;
  if (const DWORD error = ResolveName(path, &name, &restricted)) return error;
  struct stat status {};
  if (stat(name.c_str(), &status) == 0) {
    if (const DWORD refused = RefuseIrregular(status)) return refused;
  } else if (errno != ENOENT || (flags & O_CREAT) == 0) {
    return LastErrno();
  }
  // Inside allowed folders the resolved name must not turn into a link that leads out.
  const int extra = restricted ? O_NOFOLLOW : 0;
  FileDescriptor file(open(name.c_str(), flags | extra | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
  if (file.Get() < 0) return LastErrno();
  if (const DWORD error = AcceptOpened(file.Get())) return error;
  if ((flags & O_ACCMODE) != O_RDONLY && ftruncate(file.Get(), 0) != 0) return LastErrno();
  *descriptor = file.Release();
  return NO_ERROR;
}

// Six letters and digits for a new file's name.
std::string RandomSuffix() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    const auto mixed = static_cast<unsigned>(reinterpret_cast<uintptr_t>(&bytes)) ^
                       static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(clock());
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mixed >> i);
  }
  std::string suffix;
  for (const unsigned char byte : bytes) suffix += kLetters[byte % (sizeof kLetters - 1)];
  return suffix;
}

// Long names are cut in the new file's name, which must stay a valid name.
constexpr size_t kMaxNameInTemporary = 200;
constexpr int kTemporaryNameAttempts = 16;

}  // namespace

DWORD SetAllowedFolders(const std::vector<std::string>& folders) {
  try {
    auto resolved = std::make_shared<FolderList>();
    for (const std::string& folder : folders) {
      std::string real;
      if (!RealPath(folder, &real)) return LastErrno();
      struct stat status {};
      if (stat(real.c_str(), &status) != 0) return LastErrno();
      if (!S_ISDIR(status.st_mode)) return ENOTDIR;
      resolved->push_back(std::move(real));
    }
    AllowedFolderState& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    state.folders = std::move(resolved);
    return NO_ERROR;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::vector<std::string> AllowedFolders() { return *CurrentFolders(); }

DWORD ResolveAllowedPath(const std::string& path, std::string* name) {
  bool restricted = false;
  return ResolveName(path, name, &restricted);
}

bool IsAllowedPath(const std::string& path) {
  std::string name;
  return ResolveAllowedPath(path, &name) != kOutsideAllowedFolders;
}

DWORD OpenFileForReading(const std::string& path, int* descriptor) {
  return OpenRegular(path, O_RDONLY, descriptor);
}

DWORD OpenFileForWriting(const std::string& path, int* descriptor) {
  return OpenRegular(path, O_RDWR | O_CREAT, descriptor);
}

DWORD ReadWholeFile(const std::string& path, size_t limit, std::string* content) {
  int descriptor = -1;
  if (const DWORD error = OpenFileForReading(path, &descriptor)) return error;
  FileDescriptor file(descriptor);
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) return LastErrno();
  if (static_cast<uint64_t>(status.st_size) > limit) return EFBIG;
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
      if (content->size() + static_cast<size_t>(count) > limit) return EFBIG;
      content->append(buffer, static_cast<size_t>(count));
    }
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
  if (descriptor_ >= 0) close(std::exchange(descriptor_, -1));
  if (!temporary_.empty()) unlink(std::exchange(temporary_, std::string()).c_str());
}

DWORD FileReplacement::Begin(const std::string& path) {
  Discard();
  try {
    std::string name;
    bool restricted = false;
    if (const DWORD error = ResolveName(path, &name, &restricted)) return error;
    struct stat status {};
    const bool exists = stat(name.c_str(), &status) == 0;
    if (exists) {
      if (const DWORD refused = RefuseIrregular(status)) return refused;
      // An existing target is replaced where it really is, so a link to it stays a link.
      if (!RealPath(name, &target_)) return LastErrno();
    } else if (errno == ENOENT) {
      target_ = name;
    } else {
      return LastErrno();
    }
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string last = target_.substr(slash == std::string::npos ? 0 : slash + 1);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
      std::string candidate =
          folder + "." + last.substr(0, kMaxNameInTemporary) + "." + RandomSuffix();
      const int descriptor =
          open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW,
               0666);  // less the process's umask, as for any new file
      if (descriptor >= 0) {
        descriptor_ = descriptor;
        temporary_ = std::move(candidate);
        if (exists && fchmod(descriptor_, status.st_mode & 07777) != 0) {
          const DWORD error = LastErrno();
          Discard();
          return error;
        }
        return NO_ERROR;
      }
      if (errno != EEXIST) return LastErrno();
    }
    return EEXIST;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

DWORD FileReplacement::Commit() {
  if (descriptor_ < 0) return ERROR_INVALID_HANDLE;
  DWORD error = fsync(descriptor_) == 0 ? NO_ERROR : LastErrno();
  if (close(std::exchange(descriptor_, -1)) != 0 && error == NO_ERROR) error = LastErrno();
  if (error == NO_ERROR && rename(temporary_.c_str(), target_.c_str()) != 0) error = LastErrno();
  if (error == NO_ERROR) temporary_.clear();
  Discard();
  return error;
}

DWORD WriteWholeFile(const std::string& path, std::span<const BYTE> bytes) {
  FileReplacement replacement;
  if (const DWORD error = replacement.Begin(path)) return error;
  while (!bytes.empty()) {
    const ssize_t count = write(replacement.Descriptor(), bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return LastErrno();
    if (count == 0) return EIO;
    bytes = bytes.subspan(static_cast<size_t>(count));
  }
  return replacement.Commit();
}

}  // namespace policy
