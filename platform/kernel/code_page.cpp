#include "platform/kernel/code_page.h"

#include <cstring>

#include "platform/kernel/last_error.h"

namespace {

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// Decodes one UTF-8 sequence starting at text[i]; 0xFFFFFFFF when it is invalid
// (overlong forms, surrogates and values above U+10FFFF included).
char32_t DecodeUtf8(std::string_view text, size_t& i) {
  constexpr char32_t kInvalid = 0xFFFFFFFF;
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int extra;
  char32_t c;
  char32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, c = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, c = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, c = lead & 0x07, minimum = 0x10000;
  } else {
    return kInvalid;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size()) return kInvalid;
    const auto next = static_cast<unsigned char>(text[i++]);
    if ((next & 0xC0) != 0x80) return kInvalid;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) return kInvalid;
  return c;
}

bool IsSupportedCodePage(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

// Copies a converted text into a caller's buffer by the rules of the platform calls.
template <typename Char>
int DeliverConverted(const std::basic_string<Char>& converted, Char* output, int outputSize) {
  const size_t needed = converted.size();
  if (needed > 0x7FFFFFFF) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (outputSize == 0) return static_cast<int>(needed);
  if (output == nullptr || outputSize < 0 || static_cast<size_t>(outputSize) < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(output, converted.data(), needed * sizeof(Char));
  return static_cast<int>(needed);
}

template <typename Char>
std::basic_string_view<Char> InputView(const Char* input, int length) {
  if (length >= 0) return {input, static_cast<size_t>(length)};
  size_t n = 0;
  while (input[n] != 0) ++n;
  return {input, n + 1};  // the terminator is part of what is converted
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return std::nullopt;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t c = DecodeUtf8(text, i);
    if (c == 0xFFFFFFFF) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return std::nullopt;
    }
    AppendUtf16(out, c);
  }
  return out;
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR input, int inputLength, LPSTR output,
                        int outputSize, LPCSTR, LPBOOL) {
  if (!IsSupportedCodePage(codePage) || input == nullptr || inputLength == 0 || inputLength < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::optional<std::string> converted = Utf16ToUtf8(InputView(input, inputLength));
  if (!converted) return 0;
  return DeliverConverted(*converted, output, outputSize);
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR input, int inputLength, LPWSTR output,
                        int outputSize) {
  if (!IsSupportedCodePage(codePage) || input == nullptr || inputLength == 0 || inputLength < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::optional<std::u16string> converted = Utf8ToUtf16(InputView(input, inputLength));
  if (!converted) return 0;
  return DeliverConverted(*converted, output, outputSize);
}
