// Texts for HRESULTs in the tools' messages: the name of a standard code and its value.
#pragma once

#include <string>

#include "platform/com/hresult.h"

// "DISP_E_EXCEPTION (0x80020009)", or "0x80070002" for a code without a name here.
std::string HresultText(HRESULT hr);
