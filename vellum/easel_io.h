// What the loading and saving methods of the Easel share: path arguments, the ANSI
// form of a path and the locale of field calls.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/variant.h"

namespace vellum {

// The locale the Easel passes to a database field's GetIDsOfNames and Invoke.
constexpr LCID kFieldLocale = 0x800;

// Said before the usual message when a path lies outside the folders the process allows.
constexpr std::u16string_view kOutsideAllowedFolders =
    u"The file is outside the folders this server may open files in";

// The string of a path argument: VT_BSTR, or VT_BYREF | VT_VARIANT holding one; null
// for any other value.
const BSTR* PathArgument(const VARIANT& value);

// The path in the ANSI code page, as the file functions take it: nothing (with the
// last error set) when it does not convert, needs more than 2046 bytes or holds a NUL
// character, which would make the file functions open a shorter path.
std::optional<std::string> PathToAnsi(BSTR path);

}  // namespace vellum
