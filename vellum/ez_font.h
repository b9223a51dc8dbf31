// EZFont: the font of an Easel's text, a thin automation wrapper around a font record
// laid out as the GDI's LOGFONTA, plus a text colour.
#pragma once

#include <string>

#include "platform/automation/dispatch.h"
#include "platform/com/object.h"
#include "platform/server/server_module.h"
#include "vellum/interfaces.h"
#include "vellum/library_description.h"

namespace vellum {

constexpr size_t kFaceNameBytes = 32;  // with the terminator

// The fields and layout of the GDI's LOGFONTA record.
struct FontRecord {
  LONG lfHeight = 0;
  LONG lfWidth = 0;
  LONG lfEscapement = 0;
  LONG lfOrientation = 0;
  LONG lfWeight = 0;
  BYTE lfItalic = 0;
  BYTE lfUnderline = 0;
  BYTE lfStrikeOut = 0;
  BYTE lfCharSet = 1;       // DEFAULT_CHARSET
  BYTE lfOutPrecision = 4;  // OUT_TT_PRECIS
  BYTE lfClipPrecision = 0;
  BYTE lfQuality = 0;
  BYTE lfPitchAndFamily = 0;
  CHAR lfFaceName[kFaceNameBytes] = "Arial";
};

class EZFont final
    : public ComObject<DispatchImpl<IEZFont, &EZFontInterface>, SupportErrorInfoFor<IEZFont>> {
 public:
  explicit EZFont(IUnknown* outer);

  // What the Easel reads when it measures and draws text.
  const FontRecord& Record() const { return record_; }
  COLORREF Color() const { return color_; }

  HRESULT get_Height(LONG* value) override;
  HRESULT put_Height(LONG value) override;
  HRESULT get_Width(LONG* value) override;
  HRESULT put_Width(LONG value) override;
  HRESULT get_Orientation(LONG* value) override;
  HRESULT put_Orientation(LONG value) override;
  HRESULT get_Weight(LONG* value) override;
  HRESULT put_Weight(LONG value) override;
  HRESULT get_Italic(LONG* value) override;
  HRESULT put_Italic(LONG value) override;
  HRESULT get_Underline(LONG* value) override;
  HRESULT put_Underline(LONG value) override;
  HRESULT get_StrikeOut(LONG* value) override;
  HRESULT put_StrikeOut(LONG value) override;
  HRESULT get_Name(BSTR* value) override;
  HRESULT put_Name(BSTR value) override;
  HRESULT get_Color(LONG* value) override;
  HRESULT put_Color(LONG value) override;
  HRESULT get_FontFamily(EZIFontFamily* value) override;
  HRESULT put_FontFamily(EZIFontFamily value) override;

 private:
  ModuleLockHolder moduleLock_;
  FontRecord record_;
  COLORREF color_ = 0;
  std::u16string name_;  // reads as empty until set, while the face stays "Arial"
};

}  // namespace vellum
