#include "vellum/pixelops/text_render.h"

#include <climits>
#include <optional>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/handle_owners.h"
#include "vellum/core/blend.h"
#include "vellum/core/conversions.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/image_buffer.h"
#include "vellum/core/metafile.h"
#include "vellum/core/resample.h"
#include "vellum/pixelops/pixel_fill.h"

namespace vellum {

namespace {

constexpr COLORREF kBlack = 0x000000;
constexpr COLORREF kWhite = 0xFFFFFF;
// Hard-edged text replaces the pixels it covers.
constexpr double kTextOpacity = 1.0;

// A memory device context with a font made from a description selected into it;
// everything is released when it goes.
class FontContext {
 public:
  FontContext(OpContext& ctx, const LOGFONTA& font)
      : dc_(CreateCompatibleDC(nullptr)), font_(dc_ ? CreateFontIndirectA(&font) : nullptr) {
    // A context that cannot take the font fails as one that cannot be made.
    if (!dc_) {  // NOLINT(bugprone-branch-clone)
      ctx.Fail(kErrDeviceContext);
    } else if (!font_) {
      ctx.Fail(kErrFontCreation);
    } else if (!selection_.emplace(dc_.Get(), font_.Get()).Ok()) {
      ctx.Fail(kErrDeviceContext);
    }
  }
  bool Ok() const { return selection_ && selection_->Ok(); }
  HDC Dc() const { return dc_.Get(); }

 private:
  gdi::OwnedDc dc_;
  gdi::OwnedObject font_;
  std::optional<gdi::Selection> selection_;
};

bool IsEmpty(const char* text) { return text == nullptr || *text == '\0'; }

// The extent of a non-empty text on one line.
bool MeasureLine(OpContext& ctx, const char* text, const LOGFONTA& font, SIZE* size) {
  const FontContext context(ctx, font);
  if (!context.Ok()) return false;
  RECT box{0, 0, INT_MIN, INT_MIN};
  if (DrawTextExA(context.Dc(), text, -1, &box, DT_CALCRECT | DT_SINGLELINE, nullptr) == 0) {
    return ctx.Fail(kErrFontCreation);  // the font cannot be realised at its size
  }
  *size = {box.right - box.left, box.bottom - box.top};
  return true;
}

// The text drawn in `textColor` over `background` on a monochrome bitmap of the
// size DT_CALCRECT gives for a box of boxWidth x boxHeight. Null without a code
// when the text covers no area.
HBITMAP DrawTextBitmap(OpContext& ctx, const char* text, const LOGFONTA& font, LONG boxWidth,
                       LONG boxHeight, UINT format, COLORREF textColor, COLORREF background) {
  const FontContext context(ctx, font);
  if (!context.Ok()) return nullptr;
  const HDC dc = context.Dc();
  RECT box{0, 0, boxWidth, boxHeight};
  if (DrawTextExA(dc, text, -1, &box, format | DT_CALCRECT, nullptr) == 0) {
    ctx.Fail(kErrFontCreation);
    return nullptr;
  }
  if (box.right <= 0 || box.bottom <= 0) return nullptr;
  gdi::OwnedObject bitmap(CreateCompatibleBitmap(dc, box.right, box.bottom));
  if (!bitmap) {
    ctx.Fail(kErrDeviceContext);
    return nullptr;
  }
  const gdi::Selection selected(dc, bitmap.Get());
  const gdi::OwnedObject brush(CreateSolidBrush(background));
  if (!selected.Ok() || !brush) {
    ctx.Fail(kErrDeviceContext);
    return nullptr;
  }
  FillRect(dc, &box, brush.Get());
  SetBkColor(dc, background);
  SetTextColor(dc, textColor);
  SetBkMode(dc, TRANSPARENT);
  if (DrawTextExA(dc, text, -1, &box, format, nullptr) == 0) {
    ctx.Fail(kErrFontCreation);
    return nullptr;
  }
  return bitmap.Take();
}

bool DrawHardText(OpContext& ctx, uint8_t* image, uint32_t width, uint32_t height, const char* text,
                  const LOGFONTA* font, int32_t left, int32_t top, int32_t right, int32_t bottom,
                  UINT format, COLORREF color) {
  if (image == nullptr) return ctx.Fail(kErrInvalidArgument);
  if (right > int64_t{width} || left > int64_t{width} || bottom > int64_t{height} ||
      top > int64_t{height}) {
    return true;  // a box beyond the image draws nothing
  }
  const int64_t boxWidth = int64_t{right} - left;
  const int64_t boxHeight = int64_t{bottom} - top;
  if (font == nullptr || boxWidth < 0 || boxHeight < 0 || boxWidth > INT_MAX ||
      boxHeight > INT_MAX) {
    return ctx.Fail(kErrInvalidArgument);
  }
  if (IsEmpty(text)) return true;
  // The bitmap holds two levels; black text is drawn black on white, any other
  // colour white on black and recoloured.
  const COLORREF textColor = color == kBlack ? kBlack : kWhite;
  const COLORREF background = color == kBlack ? kWhite : kBlack;
  gdi::OwnedObject bitmap(DrawTextBitmap(ctx, text, *font, static_cast<LONG>(boxWidth),
                                         static_cast<LONG>(boxHeight), format, textColor,
                                         background));
  if (!bitmap) return !ctx.Failed();
  int32_t textWidth = 0;
  int32_t textHeight = 0;
  const GlobalBlock pixels(BitmapToRgb(ctx, bitmap.Get(), &textWidth, &textHeight));
  if (!pixels) return false;
  const auto w = static_cast<uint32_t>(textWidth);
  const auto h = static_cast<uint32_t>(textHeight);
  if (!ReplaceColor(ctx, pixels.Data(), w, h, textColor, color, 0)) return false;
  if (!BlendWithOpacity(image, width, height, pixels.Data(), w, h, left, top, kTextOpacity,
                        background, 0)) {
    return ctx.Fail(kErrNoMemory);
  }
  return true;
}

// The font `factor` times larger in both directions. The default height (0) stands
// for the face's default size, so that size's cell height is what grows.
bool EnlargeFont(OpContext& ctx, const LOGFONTA& font, int32_t factor, LOGFONTA* enlarged) {
  int64_t height = font.lfHeight;
  if (height == 0) {
    SIZE cell{};
    if (!MeasureLine(ctx, " ", font, &cell)) return false;
    height = cell.cy;
  }
  const int64_t newHeight = height * factor;
  const int64_t newWidth = int64_t{font.lfWidth} * factor;
  if (newHeight < INT_MIN || newHeight > INT_MAX || newWidth < INT_MIN || newWidth > INT_MAX) {
    return ctx.Fail(kErrFontCreation);
  }
  *enlarged = font;
  enlarged->lfHeight = static_cast<LONG>(newHeight);
  enlarged->lfWidth = static_cast<LONG>(newWidth);
  return true;
}

bool DrawSmoothText(OpContext& ctx, uint8_t* image, uint32_t width, uint32_t height,
                    const char* text, const LOGFONTA* font, int32_t factor, int32_t left,
                    int32_t top, COLORREF color) {
  if (image == nullptr || font == nullptr || factor < kMinTextFactor || factor > kMaxTextFactor) {
    return ctx.Fail(kErrInvalidArgument);
  }
  if (IsEmpty(text)) return true;
  LOGFONTA enlarged{};
  SIZE large{};
  if (!EnlargeFont(ctx, *font, factor, &enlarged) || !MeasureLine(ctx, text, enlarged, &large)) {
    return false;
  }
  const auto largeWidth = static_cast<uint32_t>(large.cx);
  const auto largeHeight = static_cast<uint32_t>(large.cy);
  const uint32_t w = largeWidth / static_cast<uint32_t>(factor);
  const uint32_t h = largeHeight / static_cast<uint32_t>(factor);
  if (w == 0 || h == 0) return true;  // smaller than one pixel of the result
  if (large.cx > kMaxBitmapSide || large.cy > kMaxBitmapSide ||
      int64_t{large.cx} * large.cy > kMaxBitmapPixels) {
    return ctx.Fail(kErrDeviceContext);  // no bitmap of that size can be had
  }
  const GlobalBlock canvas = AllocateImageBuffer(ctx, ImageBytes(large.cx, large.cy, 3));
  if (!canvas) return false;
  if (!DrawHardText(ctx, canvas.Data(), largeWidth, largeHeight, text, &enlarged, 0, 0, 0, 0, 0,
                    kWhite)) {
    return false;
  }
  std::vector<uint8_t> shrunk(size_t{w} * h * 3);
  std::vector<uint8_t> coverage(size_t{w} * h);
  if (!ReduceBox(canvas.Data(), largeWidth, largeHeight, shrunk.data(), w, h)) {
    return ctx.Fail(CoreLastError());
  }
  if (!RgbToGray(ctx, shrunk.data(), w, h, coverage.data())) return false;
  FillPixels(shrunk.data(), coverage.size(), ColorBytes(color).data(), 3);
  if (!OverlayWithMask(image, width, height, shrunk.data(), w, h, coverage.data(), left, top)) {
    return ctx.Fail(CoreLastError());
  }
  return true;
}

}  // namespace

BOOL RenderText(uint8_t* image, uint32_t width, uint32_t height, const char* text,
                const LOGFONTA* font, int32_t left, int32_t top, int32_t right, int32_t bottom,
                UINT format, COLORREF color) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    return DrawHardText(ctx, image, width, height, text, font, left, top, right, bottom, format,
                        color);
  });
}

BOOL RenderTextSmooth(uint8_t* image, uint32_t width, uint32_t height, const char* text,
                      const LOGFONTA* font, int32_t factor, int32_t left, int32_t top,
                      COLORREF color) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    return DrawSmoothText(ctx, image, width, height, text, font, factor, left, top, color);
  });
}

BOOL MeasureText(const char* text, const LOGFONTA* font, SIZE* size) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (font == nullptr || size == nullptr) return ctx.Fail(kErrInvalidArgument);
    *size = {0, 0};
    return IsEmpty(text) || MeasureLine(ctx, text, *font, size);
  });
}

}  // namespace vellum
