// Whole files, as the collection server reads and writes them, named by BSTR paths.
// Every failure is a system error code (an errno value).
#pragma once

#include <span>
#include <string>

#include "platform/com/bstr.h"
#include "platform/kernel/last_error.h"

namespace vellumset {

// The file-system path a BSTR names (UTF-8). ERROR_NO_UNICODE_TRANSLATION for text
// that has no UTF-8 form, ERROR_INVALID_PARAMETER for one holding a NUL (the system
// would read a shorter name).
DWORD PathFromBstr(BSTR name, std::string* path);

// Reads a whole regular file (a directory is ERROR_DIRECTORY_NOT_A_FILE, any other kind
// of file ERROR_INVALID_PARAMETER) of at most `limit` bytes (else ERROR_FILE_TOO_LARGE).
constexpr DWORD ERROR_DIRECTORY_NOT_A_FILE = EISDIR;
constexpr DWORD ERROR_FILE_TOO_LARGE = EFBIG;
DWORD ReadWholeFile(const std::string& path, size_t limit, std::string* content);

// Creates the file, or empties an existing one, and writes the bytes.
DWORD WriteWholeFile(const std::string& path, std::span<const BYTE> bytes);

}  // namespace vellumset
