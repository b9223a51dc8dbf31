// How VellumSet objects report failures: automation error information whose source is
// the object's class, and the failure code as the call's result.
#pragma once

#include <string_view>

#include "platform/com/interfaces.h"

namespace vellumset {

// Sets the message as error information and returns `result`, or DISP_E_EXCEPTION
// when `result` is 0.
HRESULT ReportError(REFCLSID source, REFIID iid, std::u16string_view message, HRESULT result = 0);

// Reports a system error: the system's message text for the code, and the code as an
// HRESULT of the Win32 facility (E_FAIL should a failure come without a code).
HRESULT ReportSystemError(REFCLSID source, REFIID iid, DWORD code);

}  // namespace vellumset
