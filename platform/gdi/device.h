// Device contexts: the reference screen, memory contexts drawing onto a bitmap,
// and recording contexts. A context's state (mapping, world transform,
// selections, colours, modes, clipping) lives in DcState so that SaveDC and
// RestoreDC, and metafile playback, can keep and restore it whole.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi/gdi_types.h"
#include "platform/gdi/geometry.h"
#include "platform/gdi/objects.h"

namespace gdi {

struct DeviceMetrics {
  int pixelsX = 1920;
  int pixelsY = 1080;
  int millimetersX = 480;
  int millimetersY = 270;
  int logPixelsX = 96;
  int logPixelsY = 96;
};

// The reference "screen". Its pixel pitch is exactly 0.25 mm, so frames in
// 0.01 mm and pixel sizes convert into each other without loss.
inline const DeviceMetrics& ReferenceScreen() {
  static const DeviceMetrics screen;
  return screen;
}

// Clipping is a chain of steps applied in order from the root: each keeps what
// lies inside (or, for an exclusion, outside) its figures. Chains are immutable
// and shared, so saving a context's state costs nothing.
struct ClipStep {
  std::shared_ptr<const ClipStep> parent;
  Figures figures;  // device coordinates
  bool evenOdd = false;
  bool exclude = false;
  int depth = 1;
};
using ClipChain = std::shared_ptr<const ClipStep>;
// Steps beyond this depth are not added (a guard against hostile metafiles).
constexpr int kMaxClipDepth = 256;

struct DcState {
  int mapMode = MM_TEXT;
  POINT windowOrg{0, 0};
  SIZE windowExt{1, 1};
  POINT viewportOrg{0, 0};
  SIZE viewportExt{1, 1};
  int graphicsMode = GM_COMPATIBLE;
  Affine world;
  std::shared_ptr<Pen> pen;
  std::shared_ptr<Brush> brush;
  std::shared_ptr<Font> font;
  COLORREF textColor = 0;
  COLORREF bkColor = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  int polyFillMode = ALTERNATE;
  int rop2 = R2_COPYPEN;
  UINT textAlign = TA_LEFT | TA_TOP;
  int arcDirection = AD_COUNTERCLOCKWISE;
  double miterLimit = 10;
  PointD position;  // logical
  ClipChain clip;
};

class Recorder;

class DeviceContext {
 public:
  enum class Kind { kScreen, kMemory, kRecording };
  explicit DeviceContext(Kind kind);
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  const Kind kind;
  DeviceMetrics metrics = ReferenceScreen();
  DcState state;
  std::vector<DcState> saved;
  std::shared_ptr<Bitmap> bitmap;  // memory contexts
  Affine base;                     // applied after the viewport (metafile playback)
  ClipChain clipFloor;             // where a metafile's own clipping starts
  std::unique_ptr<Recorder> recorder;

  // The path bracket: while open, drawing adds figures instead of painting.
  bool pathOpen = false;
  bool pathReady = false;
  bool figureOpen = false;  // the last figure of the path can be extended
  Figures path;

  // Logical to page space to device space (the world transform only counts in
  // the advanced graphics mode or when it was set by a metafile).
  Affine PageTransform() const;
  Affine ToDevice() const;
  PointD ToDevicePoint(PointD logical) const { return ToDevice().Apply(logical); }

  // The cairo context of the selected bitmap with the clipping applied, or null
  // when nothing can be drawn. Callers save and restore around their changes.
  cairo_t* Cairo();
  void ClipChanged() { clipDirty_ = true; }
  void SelectBitmap(std::shared_ptr<Bitmap> selected);
  bool Monochrome() const { return bitmap != nullptr && bitmap->monochrome; }
  // A colour as the selected bitmap holds it (black or white on monochrome ones).
  COLORREF DeviceColor(COLORREF color) const;

  // Work accounting for metafile playback: drawing spends units (pixels touched,
  // points processed); once the allowance is gone, drawing stops.
  void SetAllowance(int64_t units) { workLeft_ = units; }
  bool Spend(int64_t units);
  bool Exhausted() const { return workLeft_ == 0; }

 private:
  void ApplyClip();
  cairo_t* cairo_ = nullptr;
  bool clipDirty_ = true;
  int64_t workLeft_ = -1;  // negative: unlimited
};

DeviceContext* LookupDc(HDC dc);
// How many device contexts exist (each thread's screen context included); for
// leak checks.
size_t LiveDcCount();

// Adds a clip step to the context's chain.
void AddClip(DeviceContext& dc, Figures figures, bool evenOdd, bool exclude);
// Replaces the metafile-level clip (RGN_COPY): the new chain starts at clipFloor.
void ReplaceClip(DeviceContext& dc, Figures figures, bool evenOdd);
// The device-space figure of a logical rectangle.
Figure RectFigure(const DeviceContext& dc, const RECT& logical);

}  // namespace gdi
