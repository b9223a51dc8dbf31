// The Easel's text members: measuring a text in the font of its EZFont, and drawing
// the Text property into the working image through the imaging core.
#include <climits>
#include <string>

#include "platform/com/error_info.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/handle_owners.h"
#include "platform/kernel/code_page.h"
#include "platform/kernel/last_error.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/image_buffer.h"
#include "vellum/easel.h"
#include "vellum/pixelops/text_render.h"

namespace vellum {

namespace {

// Hard-edged text is cut with an ellipsis at the box's width; "&" is drawn as it is.
constexpr UINT kBoxedTextFormat = DT_NOPREFIX | DT_WORD_ELLIPSIS;

bool IsLeadSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsTrailSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The text in the ANSI code page. An unpaired surrogate has no form there and
// becomes U+FFFD, so that the rest of the text still reaches the font.
std::string AnsiText(std::u16string_view text) {
  std::u16string paired(text);
  for (size_t i = 0; i < paired.size(); ++i) {
    if (IsLeadSurrogate(paired[i]) && i + 1 < paired.size() && IsTrailSurrogate(paired[i + 1])) {
      ++i;
    } else if (IsLeadSurrogate(paired[i]) || IsTrailSurrogate(paired[i])) {
      paired[i] = u'\uFFFD';
    }
  }
  return Utf16ToUtf8(paired).value_or(std::string());
}

std::u16string DimensionsError(DWORD systemError) {
  const std::string text = "Could not get text dimensions.  Win32 Error: " +
                           std::to_string(static_cast<int32_t>(systemError));
  return std::u16string(text.begin(), text.end());
}

}  // namespace

HRESULT Easel::get_TextWidth(BSTR Text, LONG* value) {
  return MeasureTextDimension(Text, true, value);
}

HRESULT Easel::get_TextHeight(BSTR Text, LONG* value) {
  return MeasureTextDimension(Text, false, value);
}

HRESULT Easel::MeasureTextDimension(BSTR text, bool wantWidth, LONG* value) {
  if (value == nullptr) {
    return SetErrorInfoForClass(CLSID_Easel, u"out pointer is invalid", IID_IEasel, E_POINTER);
  }
  const std::u16string_view given = BstrView(text);
  const int32_t cached = wantWidth ? measuredWidth_ : measuredHeight_;
  if (given.empty() && cached != -1) {
    *value = cached;
    return S_OK;
  }
  const gdi::OwnedObject font(CreateFontIndirectA(&font_->LogFont()));
  if (!font) return ReportArgumentError(u"Could not create font");
  const gdi::OwnedDc dc(CreateCompatibleDC(nullptr));
  if (!dc) return ReportArgumentError(u"Could not create device context");
  const gdi::Selection selected(dc.Get(), font.Get());
  if (!selected.Ok()) return ReportArgumentError(u"Could not select font");
  const std::u16string_view measured = given.empty() ? std::u16string_view(text_) : given;
  if (measured.empty()) return ReportArgumentError(u"The Text property has not been set");
  try {
    const std::string ansi = AnsiText(measured);
    const int length = ansi.size() <= INT_MAX ? static_cast<int>(ansi.size()) : -1;
    SIZE size{};
    if (!GetTextExtentPointA(dc.Get(), ansi.data(), length, &size)) {
      return ReportArgumentError(DimensionsError(GetLastError()));
    }
    measuredWidth_ = size.cx;
    measuredHeight_ = size.cy;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *value = wantWidth ? measuredWidth_ : measuredHeight_;
  return S_OK;
}

HRESULT Easel::DrawTextOnImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight,
                               BSTR p_sText) {
  if (p_lLeft < 0) return ReportArgumentError(u"Left must be greater than 0");
  if (p_lWidth < 0) return ReportArgumentError(u"Width must be greater than 0");
  if (p_lHeight < 0) return ReportArgumentError(u"Height must be greater than 0");
  // Compared as unsigned 32-bit sums: a box reaching above the image is refused too.
  if (static_cast<uint32_t>(p_lLeft) + static_cast<uint32_t>(p_lWidth) > width_) {
    return ReportArgumentError(
        u"The specified Width is too great for the specified Left position and image size");
  }
  if (static_cast<uint32_t>(p_lTop) + static_cast<uint32_t>(p_lHeight) >
      static_cast<uint32_t>(height_)) {
    return ReportArgumentError(
        u"The specified Height is too great for the specified Top position and image size");
  }
  return RunEditing([&]() -> HRESULT {
    const std::u16string_view given = BstrView(p_sText);
    if (!given.empty()) {
      text_ = given;
      measuredHeight_ = -1;
      measuredWidth_ = -1;
    } else if (text_.empty()) {
      return ReportArgumentError(u"The Text property has not been set");
    }
    NormalizeForEditing();
    const BlockLock pixels(image_);
    const std::string ansi = AnsiText(text_);
    const LOGFONTA& font = font_->LogFont();
    const auto height = static_cast<uint32_t>(height_);
    const BOOL drawn =
        antiAliasFactor_ != ezAntiAliasNone
            ? RenderTextSmooth(pixels.Data(), width_, height, ansi.c_str(), &font, antiAliasFactor_,
                               p_lLeft, p_lTop, font_->Color())
            : RenderText(pixels.Data(), width_, height, ansi.c_str(), &font, p_lLeft, p_lTop,
                         p_lLeft + p_lWidth, static_cast<int32_t>(int64_t{p_lTop} + p_lHeight),
                         kBoxedTextFormat, font_->Color());
    if (!drawn) ReportFailure(u"Can not draw the text", 0, CoreLastError());
    return S_OK;
  });
}

}  // namespace vellum
