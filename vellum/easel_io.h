// What the loading and saving methods of the Easel share: path arguments, the ANSI
// form of a path and the locale of field calls.
#pragma once

#include <optional>
#include <string>

#include "platform/com/variant.h"

namespace vellum {

// The locale the Easel passes to a database field's GetIDsOfNames and Invoke.
constexpr LCID kFieldLocale = 0x800;

// The string of a path argument: VT_BSTR, or VT_BYREF | VT_VARIANT holding one; null
// for any other value.
const BSTR* PathArgument(const VARIANT& value);

// The path in the ANSI code page, as the file functions take it: nothing (with the
// last error set) when it does not convert, needs more than 2046 bytes or holds a NUL
// character, which would make the file functions open a shorter path.
std::optional<std::string> PathToAnsi(BSTR path);

}  // namespace vellum
