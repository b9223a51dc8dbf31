#include "script/hresult_text.h"

#include <cstdio>
#include <cstring>

namespace {

struct NamedCode {
  HRESULT code;
  const char* name;
};

#define NAMED(code) \
  { code, #code }
constexpr NamedCode kNames[] = {
    NAMED(S_OK),
    NAMED(S_FALSE),
    NAMED(E_NOTIMPL),
    NAMED(E_NOINTERFACE),
    NAMED(E_POINTER),
    NAMED(E_ABORT),
    NAMED(E_FAIL),
    NAMED(E_UNEXPECTED),
    NAMED(E_ACCESSDENIED),
    NAMED(E_HANDLE),
    NAMED(E_OUTOFMEMORY),
    NAMED(E_INVALIDARG),
    NAMED(CLASS_E_NOAGGREGATION),
    NAMED(CLASS_E_CLASSNOTAVAILABLE),
    NAMED(REGDB_E_READREGDB),
    NAMED(REGDB_E_WRITEREGDB),
    NAMED(REGDB_E_KEYMISSING),
    NAMED(REGDB_E_INVALIDVALUE),
    NAMED(REGDB_E_CLASSNOTREG),
    NAMED(CO_E_CLASSSTRING),
    NAMED(CO_E_DLLNOTFOUND),
    NAMED(CO_E_ERRORINDLL),
    NAMED(DISP_E_UNKNOWNINTERFACE),
    NAMED(DISP_E_MEMBERNOTFOUND),
    NAMED(DISP_E_PARAMNOTFOUND),
    NAMED(DISP_E_TYPEMISMATCH),
    NAMED(DISP_E_UNKNOWNNAME),
    NAMED(DISP_E_NONAMEDARGS),
    NAMED(DISP_E_BADVARTYPE),
    NAMED(DISP_E_EXCEPTION),
    NAMED(DISP_E_OVERFLOW),
    NAMED(DISP_E_BADINDEX),
    NAMED(DISP_E_ARRAYISLOCKED),
    NAMED(DISP_E_BADPARAMCOUNT),
    NAMED(DISP_E_PARAMNOTOPTIONAL),
    NAMED(TYPE_E_REGISTRYACCESS),
    NAMED(TYPE_E_LIBNOTREGISTERED),
    NAMED(TYPE_E_INVDATAREAD),
    NAMED(TYPE_E_UNSUPFORMAT),
    NAMED(TYPE_E_ELEMENTNOTFOUND),
    NAMED(TYPE_E_CANTLOADLIBRARY),
};
#undef NAMED

constexpr uint32_t kWin32Facility = 0x80070000;

}  // namespace

std::string HresultText(HRESULT hr) {
  const auto bits = static_cast<uint32_t>(hr);
  char value[16];
  std::snprintf(value, sizeof value, "0x%08X", bits);
  for (const NamedCode& named : kNames) {
    if (named.code == hr) return std::string(named.name) + " (" + value + ")";
  }
  if ((bits & 0xFFFF0000) == kWin32Facility) {
    const char* errnoName = strerrorname_np(static_cast<int>(bits & 0xFFFF));
    if (errnoName != nullptr) {
      return std::string("HRESULT_FROM_WIN32(") + errnoName + ") (" + value + ")";
    }
  }
  return value;
}
