// Text layout and rendering of arbitrary byte strings (invalid UTF-8, prefixes,
// line breaks) in arbitrary boxes: no read or write may leave its buffer, and a
// text cut with the word ellipsis never grows wider than a box that holds "...".
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "vellum/pixelops/text_render.h"

namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 32;
constexpr UINT kFormats[] = {0, DT_NOPREFIX | DT_WORD_ELLIPSIS, DT_SINGLELINE, DT_WORD_ELLIPSIS,
                             DT_SINGLELINE | DT_WORD_ELLIPSIS | DT_NOCLIP};

LOGFONTA FontOfHeight(LONG height) {
  LOGFONTA font{};
  font.lfHeight = height;
  font.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(font.lfFaceName, "Arial");
  return font;
}

// Lays the text out with DT_CALCRECT and checks the width the ellipsis promises.
void CheckLayout(const std::string& text, const LOGFONTA& font, UINT format, LONG boxWidth) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT handle = CreateFontIndirectA(&font);
  HGDIOBJ previous = SelectObject(dc, handle);
  RECT dots{0, 0, 0, 0};
  DrawTextExA(dc, "...", 3, &dots, DT_CALCRECT | DT_SINGLELINE, nullptr);
  RECT box{0, 0, boxWidth, 0};
  const int height = DrawTextExA(dc, text.data(), static_cast<int>(text.size()), &box,
                                 format | DT_CALCRECT, nullptr);
  if (height <= 0 || box.bottom != height) __builtin_trap();
  if ((format & DT_WORD_ELLIPSIS) && boxWidth >= dots.right + 1 && box.right > boxWidth) {
    __builtin_trap();
  }
  SelectObject(dc, previous);
  DeleteObject(handle);
  DeleteDC(dc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const UINT format = kFormats[data[0] % std::size(kFormats)];
  const int32_t factor = data[1] % 9;  // 0 draws hard-edged text
  const LOGFONTA font = FontOfHeight(-(1 + data[2] % 40));
  const int32_t left = static_cast<int8_t>(data[3]) / 2;
  const int32_t top = static_cast<int8_t>(data[4]) / 4;
  const int32_t boxWidth = data[5];
  const std::string text(reinterpret_cast<const char*>(data + 6), size - 6);

  std::vector<uint8_t> image(kWidth * kHeight * 3, 0x80);
  if (factor == 0) {
    vellum::RenderText(image.data(), kWidth, kHeight, text.c_str(), &font, left, top,
                       left + boxWidth, top + 16, format, 0x3366CC);
  } else {
    vellum::RenderTextSmooth(image.data(), kWidth, kHeight, text.c_str(), &font, factor, left, top,
                             0x3366CC);
  }
  SIZE extent{};
  vellum::MeasureText(text.c_str(), &font, &extent);
  CheckLayout(text, font, format, boxWidth);
  return 0;
}
