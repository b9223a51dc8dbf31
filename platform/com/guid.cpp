#include "platform/com/guid.h"

#include <cstdio>

#include "platform/kernel/code_page.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at text[pos]; false when one is missing.
bool ReadHex(std::string_view text, size_t& pos, int digits, uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i, ++pos) {
    if (pos >= text.size()) return false;
    const int digit = HexDigit(text[pos]);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return true;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::string GuidToString(const GUID& guid) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::optional<GUID> GuidFromString(std::string_view text) {
  if (text.size() != 38) return std::nullopt;
  GUID guid{};
  size_t pos = 0;
  uint64_t value = 0;
  if (!Expect(text, pos, '{') || !ReadHex(text, pos, 8, value)) return std::nullopt;
  guid.Data1 = static_cast<uint32_t>(value);
  if (!Expect(text, pos, '-') || !ReadHex(text, pos, 4, value)) return std::nullopt;
  guid.Data2 = static_cast<uint16_t>(value);
  if (!Expect(text, pos, '-') || !ReadHex(text, pos, 4, value)) return std::nullopt;
  guid.Data3 = static_cast<uint16_t>(value);
  if (!Expect(text, pos, '-')) return std::nullopt;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, pos, '-')) return std::nullopt;
    if (!ReadHex(text, pos, 2, value)) return std::nullopt;
    guid.Data4[i] = static_cast<uint8_t>(value);
  }
  if (!Expect(text, pos, '}')) return std::nullopt;
  return guid;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
  const std::string text = GuidToString(guid);
  if (buffer == nullptr || capacity < static_cast<int>(text.size()) + 1) return 0;
  for (size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
  buffer[text.size()] = 0;
  return static_cast<int>(text.size()) + 1;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
  const std::optional<std::string> narrow = Utf16ToUtf8(text);
  const std::optional<GUID> guid = narrow ? GuidFromString(*narrow) : std::nullopt;
  if (!guid) return CO_E_CLASSSTRING;
  *clsid = *guid;
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) { return CLSIDFromString(text, iid); }
