#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>

#include "platform/kernel/code_page.h"

namespace {

// The allocation: an 8-byte header whose second word is the byte length, so that the
// characters stay 8-byte aligned, then the characters and two terminating zero bytes.
constexpr size_t kHeaderBytes = 8;

uint32_t* LengthWord(BSTR text) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

char* Allocation(BSTR text) { return reinterpret_cast<char*>(text) - kHeaderBytes; }

// A new string of `bytes` bytes, contents copied from `data` or zeroed when it is null.
BSTR AllocateBytes(const void* data, uint64_t bytes) {
  if (bytes > kMaxBstrBytes) return nullptr;
  char* block = static_cast<char*>(std::malloc(kHeaderBytes + bytes + 2));
  if (block == nullptr) return nullptr;
  const auto length = static_cast<uint32_t>(bytes);
  std::memcpy(block + kHeaderBytes - sizeof length, &length, sizeof length);
  char* characters = block + kHeaderBytes;
  if (data != nullptr) {
    std::memcpy(characters, data, bytes);
  } else {
    std::memset(characters, 0, bytes);
  }
  characters[bytes] = 0;
  characters[bytes + 1] = 0;
  return reinterpret_cast<BSTR>(characters);
}

}  // namespace

BSTR SysAllocString(LPCOLESTR text) {
  if (text == nullptr) return nullptr;
  return AllocBstr(std::u16string_view(text));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return AllocateBytes(text, static_cast<uint64_t>(length) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR data, UINT bytes) { return AllocateBytes(data, bytes); }

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (target == nullptr) return FALSE;
  BSTR copy = SysAllocStringLen(text, length);
  if (copy == nullptr) return FALSE;
  SysFreeString(*target);
  *target = copy;
  return TRUE;
}

INT SysReAllocString(BSTR* target, LPCOLESTR text) {
  if (text == nullptr) return SysReAllocStringLen(target, nullptr, 0);
  const std::u16string_view view(text);
  return SysReAllocStringLen(target, view.data(), static_cast<UINT>(view.size()));
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(Allocation(text));
}

UINT SysStringByteLen(BSTR text) { return text == nullptr ? 0 : *LengthWord(text); }

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

BSTR AllocBstr(std::u16string_view text) {
  return AllocateBytes(text.data(), static_cast<uint64_t>(text.size()) * sizeof(OLECHAR));
}

BSTR AllocBstrFromUtf8(std::string_view text) {
  const std::optional<std::u16string> wide = Utf8ToUtf16(text);
  return wide ? AllocBstr(*wide) : nullptr;
}

std::optional<std::string> BstrToUtf8(BSTR text) { return Utf16ToUtf8(BstrView(text)); }
