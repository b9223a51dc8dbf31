// How the components open the files callers name: only inside the folders the process
// allows (all of them unless it says otherwise), only regular files, never blocking on
// a pipe or a device, and writing a file whole or not at all. Every failure is a system
// error code (an errno value).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/kernel/win_types.h"

namespace policy {

// A file outside the allowed folders is refused with this code (EACCES).
constexpr DWORD kOutsideAllowedFolders = 13;

// Restricts the files the components open to these folders and what lies below them,
// compared by their real paths (symbolic links resolved). An empty list lifts the
// restriction, which is how a process starts. A folder that cannot be resolved fails
// the call with its error and changes nothing.
DWORD SetAllowedFolders(const std::vector<std::string>& folders);
// The allowed folders as real paths; empty when every folder is.
std::vector<std::string> AllowedFolders();

// The name to open for `path`: the path as it is without a restriction; otherwise its
// real path (for a file that does not exist yet, its folder's real path and its name),
// which must lie inside an allowed folder (else kOutsideAllowedFolders). A path that
// cannot be resolved fails with the system's error.
DWORD ResolveAllowedPath(const std::string& path, std::string* name);

// Whether a path is not refused for lying outside the allowed folders.
bool IsAllowedPath(const std::string& path);

// Opens a regular file for reading and hands out its descriptor. A directory is
// EISDIR, any other kind of file (a pipe, a device, a socket) EINVAL; opening never
// blocks; kOutsideAllowedFolders outside the allowed folders.
DWORD OpenFileForReading(const std::string& path, int* descriptor);

// Opens a regular file for reading and writing, created when missing and emptied
// otherwise, with the same refusals.
DWORD OpenFileForWriting(const std::string& path, int* descriptor);

// Reads a whole regular file of at most `limit` bytes (else EFBIG).
DWORD ReadWholeFile(const std::string& path, size_t limit, std::string* content);

// Writes a file whole or not at all: the bytes go to a new file in the target's folder,
// which takes the target's place (keeping its permissions) only on Commit. Until then,
// and whenever anything fails, the target stays as it was; a replacement that is not
// committed removes its file. A symbolic link as the target is followed, so the file it
// leads to is replaced and the link stays.
class FileReplacement {
 public:
  FileReplacement() = default;
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Creates the new file for `path`: kOutsideAllowedFolders outside the allowed folders,
  // EISDIR when the target is a directory, EINVAL when it is another kind of file that
  // is not regular.
  DWORD Begin(const std::string& path);
  // The new file's name (in the target's folder) and its open descriptor.
  const std::string& TemporaryPath() const { return temporary_; }
  int Descriptor() const { return descriptor_; }
  // Flushes the new file to the disk and renames it over the target.
  DWORD Commit();

 private:
  void Discard();

  std::string target_;
  std::string temporary_;
  int descriptor_ = -1;
};

// Writes the bytes as the file's whole content through a FileReplacement.
DWORD WriteWholeFile(const std::string& path, std::span<const BYTE> bytes);

}  // namespace policy
