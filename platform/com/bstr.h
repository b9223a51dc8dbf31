// BSTR: the strings of the automation layer. A BSTR points at UTF-16 characters
// preceded by their length in bytes (so a BSTR may hold NULs) and followed by a NUL.
// A null BSTR is a valid empty string.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/com/guid.h"

using BSTR = OLECHAR*;

// The longest BSTR the layer allocates, in bytes. Longer requests fail (null).
constexpr uint32_t kMaxBstrBytes = 0x7FFFFFF0;

// Each returns null when memory runs out or the length passes the limit.
BSTR SysAllocString(LPCOLESTR text);
// `text` may be null: the characters are then zero.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// A string of `bytes` bytes (possibly odd) copied from `data` (zeroes when null).
BSTR SysAllocStringByteLen(LPCSTR data, UINT bytes);
// Replace *target with a new copy; FALSE (target unchanged) when allocation fails.
INT SysReAllocString(BSTR* target, LPCOLESTR text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// The characters of a BSTR (empty for null).
inline std::u16string_view BstrView(BSTR text) { return {text, SysStringLen(text)}; }

// A new BSTR holding the given characters, or null when allocation fails.
BSTR AllocBstr(std::u16string_view text);
// A new BSTR from UTF-8 text; null when allocation or the conversion fails.
BSTR AllocBstrFromUtf8(std::string_view text);
// The UTF-8 form of a BSTR; nothing when it holds an unpaired surrogate.
std::optional<std::string> BstrToUtf8(BSTR text);

// Owns one BSTR and frees it when it goes.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text) : text_(AllocBstr(text)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.text_, nullptr));
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  // Takes ownership of an existing BSTR.
  static Bstr Attach(BSTR text) {
    Bstr owner;
    owner.text_ = text;
    return owner;
  }

  BSTR Get() const { return text_; }
  // The address to receive a BSTR from a call; frees the current one first.
  BSTR* Receive() {
    Reset(nullptr);
    return &text_;
  }
  BSTR Detach() { return std::exchange(text_, nullptr); }
  void Reset(BSTR text) {
    SysFreeString(text_);
    text_ = text;
  }
  std::u16string_view View() const { return BstrView(text_); }

 private:
  BSTR text_ = nullptr;
};
