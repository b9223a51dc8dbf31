// Text on RGB buffers, rasterised by the platform's font engine into a two-level
// bitmap: hard-edged text in a box, anti-aliased text rendered `factor` times
// larger and shrunk back into coverage, and the extent of a text on one line.
// Texts are in the ANSI code page; colours are 0x00BBGGRR.
#pragma once

#include <cstdint>

#include "platform/gdi/gdi_types.h"
#include "platform/kernel/win_types.h"

namespace vellum {

// The anti-aliasing factors RenderTextSmooth accepts.
constexpr int32_t kMinTextFactor = 1;
constexpr int32_t kMaxTextFactor = 8;

// Draws the text in the box (left, top)-(right, bottom) with DrawTextExA `format`
// (left and top aligned); every touched pixel takes exactly `color`. A box reaching
// beyond the image draws nothing and succeeds, as does a null or empty text. Code 5
// for a null image, a null font or an inverted box; 10 when a device context or
// bitmap cannot be had, 18 when the font cannot be made or realised, 25 and 26 when
// the bitmap cannot be read back, 1 when memory runs out.
BOOL RenderText(uint8_t* image, uint32_t width, uint32_t height, const char* text,
                const LOGFONTA* font, int32_t left, int32_t top, int32_t right, int32_t bottom,
                UINT format, COLORREF color);

// Draws the text on one line with its top left at (left, top), anti-aliased: the
// text is rendered with the font's height times `factor`, shrunk by box reduction,
// and its coverage blends `color` into the image. A font of the default height (0)
// is enlarged from the default size. Code 5 for a null image or font or a factor
// outside kMinTextFactor..kMaxTextFactor; other codes as RenderText.
BOOL RenderTextSmooth(uint8_t* image, uint32_t width, uint32_t height, const char* text,
                      const LOGFONTA* font, int32_t factor, int32_t left, int32_t top,
                      COLORREF color);

// The width and height of the text drawn on one line (DT_CALCRECT | DT_SINGLELINE);
// an empty or null text measures 0 x 0. Code 5 for a null font or size.
BOOL MeasureText(const char* text, const LOGFONTA* font, SIZE* size);

}  // namespace vellum
