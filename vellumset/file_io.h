// Files as the collection server reads and writes them, named by BSTR paths, through the
// platform's file access (regular files inside the allowed folders, never blocking,
// written whole or not at all). Every failure is a system error code (an errno value).
#pragma once

#include <string>
#include <string_view>

#include "platform/com/bstr.h"
#include "platform/com/interfaces.h"
#include "platform/kernel/last_error.h"

namespace vellumset {

// The file-system path a BSTR names (UTF-8). ERROR_NO_UNICODE_TRANSLATION for text
// that has no UTF-8 form, ERROR_INVALID_PARAMETER for one holding a NUL (the system
// would read a shorter name).
DWORD PathFromBstr(BSTR name, std::string* path);

// What a failure says when the path lies outside the folders the process allows.
constexpr std::u16string_view kOutsideAllowedFolders =
    u"Access is denied: the file is outside the folders this server may open files in";

// Reports a failed file operation on `path`: a path outside the allowed folders says
// so, any other failure is the system error (ReportSystemError).
HRESULT ReportFileError(REFCLSID source, REFIID iid, const std::string& path, DWORD code);

}  // namespace vellumset
