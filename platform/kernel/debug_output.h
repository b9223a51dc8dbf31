// Debugger output. Nothing reads it; it is written to standard error only while
// the layer's debug switch is on (SetDebugOutput, or VELLUM_DEBUG=1 at start-up).
#pragma once

#include "platform/kernel/win_types.h"

void OutputDebugStringA(LPCSTR text);
void SetDebugOutput(bool on);
