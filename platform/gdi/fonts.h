// Fonts: a LOGFONTA-shaped description resolved through fontconfig ("Arial"
// finds a metric-compatible face) and rasterised with FreeType without
// anti-aliasing, as the platform draws text. All FreeType work runs under one
// lock, so fonts may be used from any thread.
#pragma once

#include <string_view>
#include <vector>

#include "platform/gdi/gdi_types.h"

namespace gdi {

// A logical font at a device scale: the font's logical sizes are multiplied by
// scaleX and scaleY (the mapping of the context that draws with it).
struct FontScale {
  double x = 1;
  double y = 1;
};

struct FontMetrics {
  double ascent = 0;             // pixels above the baseline
  double descent = 0;            // pixels below it
  double underlinePosition = 0;  // below the baseline
  double strikeoutPosition = 0;  // above it
  double lineThickness = 1;
  double Height() const { return ascent + descent; }
};

// Metrics and per-character advances (pixels) of a text; false when no face
// can be had or the size is beyond what is drawn.
bool MeasureText(const LOGFONTA& font, FontScale scale, std::u32string_view text,
                 FontMetrics* metrics, std::vector<double>* advances);

// An aliased rendering of a text: a coverage mask (one byte per pixel, 0 or 255)
// and where in it the first character's baseline origin lies.
struct TextMask {
  int width = 0;
  int height = 0;
  double originX = 0;
  double originY = 0;
  std::vector<uint8_t> pixels;
};

// Renders the text with the given advances (pixels along the baseline, one per
// character), the baseline turned `angle` radians counter-clockwise.
bool RenderTextMask(const LOGFONTA& font, FontScale scale, std::u32string_view text,
                    const std::vector<double>& advances, double angle, TextMask* mask);

// While one lives on a thread, text is drawn within the bounds meant for hostile
// metafiles: sizes above 1024 pixels per em and masks above 16 M pixels are not drawn.
// Elsewhere the bounds are those of a bitmap (32767 pixels per em, 64 M pixels a mask),
// so that the image generator's own text, enlarged for anti-aliasing, is drawn.
class MetafileTextBounds {
 public:
  MetafileTextBounds();
  ~MetafileTextBounds();
  MetafileTextBounds(const MetafileTextBounds&) = delete;
  MetafileTextBounds& operator=(const MetafileTextBounds&) = delete;
};

// Text in the "ANSI code page" (UTF-8 here) as code points; invalid bytes are
// taken one by one as Latin-1.
std::u32string DecodeAnsiText(std::string_view text);
// Metafile text of a single-byte character set (Windows-1252 for the usual
// ones, the symbol area for symbol fonts).
std::u32string DecodeCodePageText(std::string_view bytes, BYTE charset);

}  // namespace gdi
