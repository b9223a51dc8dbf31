// A POSIX file descriptor closed when its owner goes.
#pragma once

#include <unistd.h>

#include <utility>

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd_; }
  // Hands the descriptor over; the owner no longer closes it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes now, for callers that must see the result.
  int Close() { return close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};
