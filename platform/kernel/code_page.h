// Text conversion between UTF-16 (the strings of the automation layer) and the
// "ANSI code page", which is UTF-8 on this platform.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/kernel/win_types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

// Strict conversions: an unpaired surrogate or an invalid UTF-8 sequence yields
// nothing (last error ERROR_NO_UNICODE_TRANSLATION). Embedded NULs are kept.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);
// Appends the UTF-8 form of one code point (a surrogate value is encoded as it is).
void AppendUtf8(std::string& out, char32_t codePoint);
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// The platform calls, for CP_ACP and CP_UTF8. A length of -1 means a
// zero-terminated input whose terminator is converted too. With an output size of
// 0 the call returns the size needed; otherwise the count written, or 0 with
// ERROR_INSUFFICIENT_BUFFER when the output is too small (nothing useful is
// written then). Flags, default character and the used-default flag are ignored.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR input, int inputLength, LPSTR output,
                        int outputSize, LPCSTR defaultChar, LPBOOL usedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR input, int inputLength, LPWSTR output,
                        int outputSize);
