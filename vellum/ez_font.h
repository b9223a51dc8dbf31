// EZFont: the font of an Easel's text, a thin automation wrapper around the GDI's
// LOGFONTA record plus a text colour.
#pragma once

#include <string>

#include "platform/automation/dispatch.h"
#include "platform/com/object.h"
#include "platform/gdi/gdi_types.h"
#include "platform/server/module_lock.h"
#include "vellum/interfaces.h"
#include "vellum/type_library.h"

namespace vellum {

class EZFont final
    : public ComObject<DispatchImpl<IEZFont, &EZFontInterface>, SupportErrorInfoFor<IEZFont>> {
 public:
  explicit EZFont(IUnknown* outer);

  // What the Easel reads when it measures and draws text.
  const LOGFONTA& LogFont() const { return logFont_; }
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
  LOGFONTA logFont_;  // face "Arial" until Name is set
  COLORREF color_ = 0;
  std::u16string name_;  // reads as empty until set, while the face stays "Arial"
};

}  // namespace vellum
