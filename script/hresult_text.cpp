#include "script/hresult_text.h"

#include <cstdio>

namespace {

struct NamedCode {
  HRESULT code;
  const char* name;
};

constexpr NamedCode kNames[] = {
    {E_NOTIMPL, "E_NOTIMPL"},
    {E_NOINTERFACE, "E_NOINTERFACE"},
    {E_POINTER, "E_POINTER"},
    {E_FAIL, "E_FAIL"},
    {E_UNEXPECTED, "E_UNEXPECTED"},
    {E_ACCESSDENIED, "E_ACCESSDENIED"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
    {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
    {REGDB_E_READREGDB, "REGDB_E_READREGDB (the registry cannot be read)"},
    {REGDB_E_WRITEREGDB, "REGDB_E_WRITEREGDB (the registry cannot be written)"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG (class not registered)"},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING (no such ProgID)"},
    {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND (the class's module cannot be loaded)"},
    {CO_E_ERRORINDLL, "CO_E_ERRORINDLL"},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND (member not found)"},
    {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND (parameter not found)"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH (type mismatch)"},
    {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME (unknown name)"},
    {DISP_E_EXCEPTION, "DISP_E_EXCEPTION"},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW (overflow)"},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT (wrong number of arguments)"},
    {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL (parameter not optional)"},
    {TYPE_E_CANTLOADLIBRARY, "TYPE_E_CANTLOADLIBRARY (the type library cannot be loaded)"},
    {TYPE_E_REGISTRYACCESS, "TYPE_E_REGISTRYACCESS"},
};

}  // namespace

std::string HresultText(HRESULT hr) {
  char value[16];
  std::snprintf(value, sizeof value, "0x%08X", static_cast<uint32_t>(hr));
  for (const NamedCode& named : kNames) {
    if (named.code == hr) return std::string(named.name) + " [" + value + "]";
  }
  return value;
}
