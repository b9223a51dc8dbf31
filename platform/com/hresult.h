// Result codes of the object runtime: HRESULT values with the severity bit set for
// failures, the standard codes the interfaces return, and the macros that test them.
#pragma once

#include "platform/kernel/win_types.h"

using HRESULT = int32_t;
using SCODE = int32_t;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT MakeHresult(uint32_t value) { return static_cast<HRESULT>(value); }

constexpr uint32_t FACILITY_WIN32 = 7;

// A system error code (an errno value on this platform) as an HRESULT of the Win32
// facility; 0 stays S_OK.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD code) {
  return code == 0 ? 0 : MakeHresult((code & 0xFFFF) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002);
constexpr HRESULT E_POINTER = MakeHresult(0x80004003);
constexpr HRESULT E_ABORT = MakeHresult(0x80004004);
constexpr HRESULT E_FAIL = MakeHresult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeHresult(0x80070005);
constexpr HRESULT E_HANDLE = MakeHresult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057);

constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHresult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHresult(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = MakeHresult(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MakeHresult(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = MakeHresult(0x80040152);
constexpr HRESULT REGDB_E_INVALIDVALUE = MakeHresult(0x80040153);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = MakeHresult(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeHresult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MakeHresult(0x800401F9);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHresult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHresult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHresult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHresult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHresult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = MakeHresult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHresult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = MakeHresult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = MakeHresult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MakeHresult(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHresult(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHresult(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHresult(0x8002000F);

constexpr HRESULT TYPE_E_REGISTRYACCESS = MakeHresult(0x8002801C);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeHresult(0x8002801D);
constexpr HRESULT TYPE_E_INVDATAREAD = MakeHresult(0x80028018);
constexpr HRESULT TYPE_E_UNSUPFORMAT = MakeHresult(0x80028019);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHresult(0x8002802B);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeHresult(0x80029C4A);
