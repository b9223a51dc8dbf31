// Files that make opening or writing fail: pipes, and a process-wide limit on the size
// of files written, under which a write past the limit fails as on a full disk.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <string>

namespace testing_support {

// Writes that would make any file larger than `bytes` fail (EFBIG) while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t previousHandler_ = SIG_DFL;
};

// A named pipe at `path`: opening it for reading waits for a writer, forever.
inline bool MakeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

}  // namespace testing_support
