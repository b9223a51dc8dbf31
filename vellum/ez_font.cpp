#include "vellum/ez_font.h"

#include <cstring>

#include "platform/kernel/code_page.h"
#include "vellum/module_lock.h"

namespace vellum {

namespace {

constexpr LONG kMaxWeight = 1000;
constexpr COLORREF kMaxColor = 0xFFFFFF;
constexpr LONG kLastFamily = eziDecorative;

LOGFONTA DefaultLogFont() {
  LOGFONTA font{};
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_TT_PRECIS;
  std::strcpy(font.lfFaceName, "Arial");
  return font;
}

}  // namespace

EZFont::EZFont(IUnknown* outer)
    : ComObject(outer), moduleLock_(ModuleLocks()), logFont_(DefaultLogFont()) {}

HRESULT EZFont::get_Height(LONG* value) { return StoreOut(value, logFont_.lfHeight); }

HRESULT EZFont::put_Height(LONG value) {
  logFont_.lfHeight = value;
  return S_OK;
}

HRESULT EZFont::get_Width(LONG* value) { return StoreOut(value, logFont_.lfWidth); }

HRESULT EZFont::put_Width(LONG value) {
  logFont_.lfWidth = value;
  return S_OK;
}

HRESULT EZFont::get_Orientation(LONG* value) { return StoreOut(value, logFont_.lfOrientation); }

// Text is drawn along its baseline angle, so escapement follows orientation.
HRESULT EZFont::put_Orientation(LONG value) {
  logFont_.lfOrientation = value;
  logFont_.lfEscapement = value;
  return S_OK;
}

HRESULT EZFont::get_Weight(LONG* value) { return StoreOut(value, logFont_.lfWeight); }

HRESULT EZFont::put_Weight(LONG value) {
  if (value < 0 || value > kMaxWeight) return E_INVALIDARG;
  logFont_.lfWeight = value;
  return S_OK;
}

HRESULT EZFont::get_Italic(LONG* value) { return StoreOut<LONG>(value, logFont_.lfItalic); }

HRESULT EZFont::put_Italic(LONG value) {
  logFont_.lfItalic = static_cast<BYTE>(value);
  return S_OK;
}

HRESULT EZFont::get_Underline(LONG* value) { return StoreOut<LONG>(value, logFont_.lfUnderline); }

HRESULT EZFont::put_Underline(LONG value) {
  logFont_.lfUnderline = static_cast<BYTE>(value);
  return S_OK;
}

HRESULT EZFont::get_StrikeOut(LONG* value) { return StoreOut<LONG>(value, logFont_.lfStrikeOut); }

HRESULT EZFont::put_StrikeOut(LONG value) {
  logFont_.lfStrikeOut = static_cast<BYTE>(value);
  return S_OK;
}

HRESULT EZFont::get_Name(BSTR* value) {
  if (value == nullptr) return E_POINTER;
  *value = AllocBstr(name_);
  return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

// 1 to 31 characters whose ANSI form fits the face-name field with its terminator.
HRESULT EZFont::put_Name(BSTR value) {
  const std::u16string_view name = BstrView(value);
  if (name.empty() || name.size() >= LF_FACESIZE) return E_INVALIDARG;
  const std::optional<std::string> ansi = Utf16ToUtf8(name);
  if (!ansi || ansi->size() >= LF_FACESIZE || ansi->find('\0') != std::string::npos) {
    return E_INVALIDARG;
  }
  name_ = name;
  std::memset(logFont_.lfFaceName, 0, sizeof logFont_.lfFaceName);
  std::memcpy(logFont_.lfFaceName, ansi->data(), ansi->size());
  return S_OK;
}

HRESULT EZFont::get_Color(LONG* value) { return StoreOut(value, static_cast<LONG>(color_)); }

HRESULT EZFont::put_Color(LONG value) {
  if (static_cast<COLORREF>(value) > kMaxColor) return E_INVALIDARG;
  color_ = static_cast<COLORREF>(value);
  return S_OK;
}

HRESULT EZFont::get_FontFamily(EZIFontFamily* value) {
  return StoreOut(value, static_cast<EZIFontFamily>(logFont_.lfPitchAndFamily >> 4));
}

// Stored as the GDI's FF_ family constant (value times 16), pitch bits cleared.
HRESULT EZFont::put_FontFamily(EZIFontFamily value) {
  if (value < eziDefault || value > kLastFamily) return E_INVALIDARG;
  logFont_.lfPitchAndFamily = static_cast<BYTE>(value << 4);
  return S_OK;
}

}  // namespace vellum
