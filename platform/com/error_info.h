// Error information: the description, source and GUID of the last failure, kept per
// thread between the object that fails and the caller that asks.
#pragma once

#include "platform/com/interfaces.h"

// A new, empty error-information object; E_OUTOFMEMORY when it cannot be made.
HRESULT CreateErrorInfo(ICreateErrorInfo** info);
// Installs (null: clears) the calling thread's error information.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands the calling thread's error information to the caller and clears it; S_FALSE
// with a null pointer when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);

// Creates error information with the given GUID, source (skipped when null) and
// description and installs it for the calling thread. Returns the first failure.
HRESULT ReportErrorInfo(REFGUID guid, LPCOLESTR source, LPCOLESTR description);

// The helper objects report a failure with: error information whose source is the
// ProgID registered for `clsid` (no source when none is registered), with the given
// description and GUID. Returns `result`, or DISP_E_EXCEPTION when it is 0.
HRESULT SetErrorInfoForClass(REFCLSID clsid, LPCOLESTR description, REFGUID guid, HRESULT result);
