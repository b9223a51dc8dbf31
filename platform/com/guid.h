// Globally unique identifiers: the names of classes, interfaces and type libraries.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/kernel/win_types.h"

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_NULL = GUID_NULL;
constexpr CLSID CLSID_NULL = GUID_NULL;

// The registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::string GuidToString(const GUID& guid);
// Accepts the registry form in either letter case; nothing for any other text.
std::optional<GUID> GuidFromString(std::string_view text);

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

// The platform calls. StringFromGUID2 returns the characters written including the
// terminator, or 0 when the buffer is too small. CLSIDFromString and IIDFromString
// return CO_E_CLASSSTRING (E_INVALIDARG for a null pointer) for a malformed text.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
