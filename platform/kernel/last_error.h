// Per-thread last error of the platform layer. On this platform the error codes
// are errno values: GetLastError after a failed call is the errno of the system
// call that failed, and the ERROR_ names below are the errno values they match.
#pragma once

#include <cerrno>
#include <string>

#include "platform/kernel/win_types.h"

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = ENOENT;
constexpr DWORD ERROR_ACCESS_DENIED = EACCES;
constexpr DWORD ERROR_INVALID_HANDLE = EBADF;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = ENOMEM;
constexpr DWORD ERROR_OUTOFMEMORY = ENOMEM;
constexpr DWORD ERROR_INVALID_PARAMETER = EINVAL;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = ERANGE;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = EILSEQ;
constexpr DWORD ERROR_NOT_LOCKED = ENOLCK;
constexpr DWORD ERROR_TOO_MANY_POSTS = EOVERFLOW;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = ENAMETOOLONG;

DWORD GetLastError();
void SetLastError(DWORD code);

// Sets the last error from errno; for the failure paths of calls into the C library.
void SetLastErrorFromErrno();

// The system's message text for an error code, ending in "\r\n", or an empty
// string when the system has no message for it. Stands in for FormatMessageA
// with FORMAT_MESSAGE_FROM_SYSTEM.
std::string SystemMessageText(DWORD code);
