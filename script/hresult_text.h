// Texts for HRESULTs in the tools' messages: the name of a code and its value in hex.
#pragma once

#include <string>

#include "platform/com/hresult.h"

// "DISP_E_EXCEPTION (0x80020009)"; a code of the Win32 facility is named by its errno
// ("HRESULT_FROM_WIN32(ENOENT) (0x80070002)"); "0x80040200" for a code without a name.
std::string HresultText(HRESULT hr);
