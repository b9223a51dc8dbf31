#include "platform/gdi/device.h"

#include <mutex>
#include <unordered_map>

#include "platform/gdi/gdi.h"
#include "platform/gdi/metafile_recorder.h"
#include "platform/kernel/last_error.h"

namespace gdi {

namespace {

// Device contexts by handle; handles count up and are never reused. The screen
// context is one shared object that ReleaseDC does not destroy.
class DcTable {
 public:
  static DcTable& Instance() {
    static DcTable table;
    return table;
  }
  HDC Add(std::unique_ptr<DeviceContext> dc) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uintptr_t id = next_++;
    contexts_.emplace(id, std::move(dc));
    return reinterpret_cast<HDC>(id);
  }
  DeviceContext* Find(HDC handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = contexts_.find(reinterpret_cast<uintptr_t>(handle));
    return it == contexts_.end() ? nullptr : it->second.get();
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return contexts_.size();
  }
  std::unique_ptr<DeviceContext> Take(HDC handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = contexts_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == contexts_.end()) return nullptr;
    std::unique_ptr<DeviceContext> dc = std::move(it->second);
    contexts_.erase(it);
    return dc;
  }

 private:
  std::mutex mutex_;
  uintptr_t next_ = 0x20000;
  std::unordered_map<uintptr_t, std::unique_ptr<DeviceContext>> contexts_;
};

// A screen context per thread, so that callers on different threads never share
// one context's state; it goes when its thread ends.
struct ThreadScreen {
  HDC handle =
      DcTable::Instance().Add(std::make_unique<DeviceContext>(DeviceContext::Kind::kScreen));
  ~ThreadScreen() { DcTable::Instance().Take(handle); }
};

HDC ScreenHandle() {
  thread_local ThreadScreen screen;
  return screen.handle;
}

// Units of the fixed mapping modes per millimetre.
double UnitsPerMillimetre(int mode) {
  switch (mode) {
    case MM_LOMETRIC:
      return 10;
    case MM_HIMETRIC:
      return 100;
    case MM_LOENGLISH:
      return 100 / 25.4;
    case MM_HIENGLISH:
      return 1000 / 25.4;
    case MM_TWIPS:
      return 1440 / 25.4;
    default:
      return 0;
  }
}

bool StoreState(DeviceContext* dc) {
  return dc != nullptr && dc->kind != DeviceContext::Kind::kScreen;
}

}  // namespace

DeviceContext::DeviceContext(Kind k) : kind(k) {
  state.pen = StockPen(BLACK_PEN);
  state.brush = StockBrush(WHITE_BRUSH);
  state.font = StockFont(SYSTEM_FONT);
  if (kind == Kind::kMemory) bitmap = MakeBitmap(1, 1, true);
}

DeviceContext::~DeviceContext() {
  if (cairo_ != nullptr) cairo_destroy(cairo_);
}

Affine DeviceContext::PageTransform() const {
  double sx = 1;
  double sy = 1;
  const int mode = state.mapMode;
  if (mode == MM_ISOTROPIC || mode == MM_ANISOTROPIC) {
    sx = static_cast<double>(state.viewportExt.cx) / state.windowExt.cx;
    sy = static_cast<double>(state.viewportExt.cy) / state.windowExt.cy;
    if (mode == MM_ISOTROPIC) {
      const double magnitude = std::min(std::fabs(sx), std::fabs(sy));
      sx = std::copysign(magnitude, sx);
      sy = std::copysign(magnitude, sy);
    }
  } else if (const double units = UnitsPerMillimetre(mode); units > 0) {
    sx = metrics.pixelsX / (metrics.millimetersX * units);
    sy = -metrics.pixelsY / (metrics.millimetersY * units);
  }
  return {sx,
          0,
          0,
          sy,
          state.viewportOrg.x - state.windowOrg.x * sx,
          state.viewportOrg.y - state.windowOrg.y * sy};
}

Affine DeviceContext::ToDevice() const { return state.world.Then(PageTransform()).Then(base); }

void DeviceContext::SelectBitmap(std::shared_ptr<Bitmap> selected) {
  if (cairo_ != nullptr) {
    cairo_destroy(cairo_);
    cairo_ = nullptr;
  }
  bitmap = std::move(selected);
  clipDirty_ = true;
}

cairo_t* DeviceContext::Cairo() {
  if (bitmap == nullptr || Exhausted()) return nullptr;
  if (cairo_ == nullptr) {
    cairo_ = cairo_create(bitmap->surface);
    cairo_set_antialias(cairo_, CAIRO_ANTIALIAS_NONE);
    clipDirty_ = true;
  }
  if (clipDirty_) ApplyClip();
  return cairo_;
}

void DeviceContext::ApplyClip() {
  clipDirty_ = false;
  cairo_reset_clip(cairo_);
  std::vector<const ClipStep*> steps;
  for (const ClipStep* step = state.clip.get(); step != nullptr; step = step->parent.get()) {
    steps.push_back(step);
  }
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    const ClipStep& step = **it;
    Spend(static_cast<int64_t>(step.figures.size()) + 1);
    cairo_new_path(cairo_);
    if (step.exclude) {
      const double limit = kCoordinateLimit;
      cairo_rectangle(cairo_, -limit, -limit, 2 * limit, 2 * limit);
    }
    for (const Figure& figure : step.figures) {
      if (figure.points.empty()) continue;
      cairo_move_to(cairo_, figure.points[0].x, figure.points[0].y);
      for (size_t i = 1; i < figure.points.size(); ++i) {
        cairo_line_to(cairo_, figure.points[i].x, figure.points[i].y);
      }
      cairo_close_path(cairo_);
    }
    cairo_set_fill_rule(
        cairo_, step.evenOdd || step.exclude ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_clip(cairo_);
  }
}

COLORREF DeviceContext::DeviceColor(COLORREF color) const {
  color &= 0xFFFFFF;
  if (!Monochrome()) return color;
  const int sum = GetRValue(color) + GetGValue(color) + GetBValue(color);
  return sum >= 3 * 128 ? RGB(255, 255, 255) : 0;
}

bool DeviceContext::Spend(int64_t units) {
  if (workLeft_ < 0) return true;
  if (workLeft_ == 0) return false;
  workLeft_ = units >= workLeft_ ? 0 : workLeft_ - units;
  return workLeft_ > 0;
}

DeviceContext* LookupDc(HDC dc) { return DcTable::Instance().Find(dc); }

size_t LiveDcCount() { return DcTable::Instance().Count(); }

void AddClip(DeviceContext& dc, Figures figures, bool evenOdd, bool exclude) {
  const int depth = dc.state.clip ? dc.state.clip->depth + 1 : 1;
  if (depth > kMaxClipDepth) return;
  auto step = std::make_shared<ClipStep>();
  step->parent = dc.state.clip;
  step->figures = std::move(figures);
  step->evenOdd = evenOdd;
  step->exclude = exclude;
  step->depth = depth;
  dc.state.clip = std::move(step);
  dc.ClipChanged();
}

void ReplaceClip(DeviceContext& dc, Figures figures, bool evenOdd) {
  dc.state.clip = dc.clipFloor;
  if (!figures.empty()) AddClip(dc, std::move(figures), evenOdd, false);
  dc.ClipChanged();
}

Figure RectFigure(const DeviceContext& dc, const RECT& r) {
  const Affine m = dc.ToDevice();
  Figure figure;
  figure.closed = true;
  const double xs[4] = {double(r.left), double(r.right), double(r.right), double(r.left)};
  const double ys[4] = {double(r.top), double(r.top), double(r.bottom), double(r.bottom)};
  for (int i = 0; i < 4; ++i) {
    const PointD p = m.Apply({xs[i], ys[i]});
    figure.points.push_back({ClampCoordinate(p.x), ClampCoordinate(p.y)});
  }
  return figure;
}

HDC RegisterDc(std::unique_ptr<DeviceContext> dc) { return DcTable::Instance().Add(std::move(dc)); }

std::unique_ptr<DeviceContext> TakeDc(HDC dc) {
  if (dc == ScreenHandle()) return nullptr;
  return DcTable::Instance().Take(dc);
}

}  // namespace gdi

using namespace gdi;

HDC GetDC(HWND window) {
  if (window != nullptr) return nullptr;  // there are no windows
  return ScreenHandle();
}

int ReleaseDC(HWND, HDC dc) { return dc == ScreenHandle() ? 1 : 0; }

HDC CreateCompatibleDC(HDC reference) {
  if (reference != nullptr && LookupDc(reference) == nullptr) return nullptr;
  auto dc = std::make_unique<DeviceContext>(DeviceContext::Kind::kMemory);
  if (dc->bitmap == nullptr) return nullptr;
  return RegisterDc(std::move(dc));
}

BOOL DeleteDC(HDC dc) {
  if (LookupDc(dc) == nullptr || LookupDc(dc)->kind == DeviceContext::Kind::kScreen) return FALSE;
  return TakeDc(dc) != nullptr;
}

int GetDeviceCaps(HDC handle, int index) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr) return 0;
  const DeviceMetrics& m = dc->metrics;
  switch (index) {
    case TECHNOLOGY:
      return DT_RASDISPLAY;
    case HORZSIZE:
      return m.millimetersX;
    case VERTSIZE:
      return m.millimetersY;
    case HORZRES:
      return m.pixelsX;
    case VERTRES:
      return m.pixelsY;
    case BITSPIXEL:
      return dc->Monochrome() ? 1 : 32;
    case PLANES:
      return 1;
    case NUMCOLORS:
      return -1;
    case RASTERCAPS:
      return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    case LOGPIXELSX:
      return m.logPixelsX;
    case LOGPIXELSY:
      return m.logPixelsY;
    case SIZEPALETTE:  // never palette-based
    default:
      return 0;
  }
}

int SaveDC(HDC handle) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc) || dc->saved.size() >= 1024) return 0;
  dc->saved.push_back(dc->state);
  if (dc->recorder) dc->recorder->SaveDC();
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC handle, int which) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc)) return FALSE;
  const int depth = static_cast<int>(dc->saved.size());
  const int target = which < 0 ? depth + which + 1 : which;  // the level to return to
  if (target < 1 || target > depth) return FALSE;
  dc->state = dc->saved[target - 1];
  dc->saved.resize(target - 1);
  dc->ClipChanged();
  if (dc->recorder) dc->recorder->RestoreDC(which);
  return TRUE;
}

int SetMapMode(HDC handle, int mode) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc) || mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  const int previous = dc->state.mapMode;
  dc->state.mapMode = mode;
  if (dc->recorder) dc->recorder->SetMapMode(mode);
  return previous;
}

int GetMapMode(HDC handle) {
  DeviceContext* dc = LookupDc(handle);
  return dc == nullptr ? 0 : dc->state.mapMode;
}

namespace {

// Shared by the four extent and origin calls: stores the pair and reports the old one.
template <typename Pair, typename Record>
BOOL SetPair(HDC handle, Pair DcState::*member, int x, int y, Pair* previous, bool extent,
             Record record) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc) || (extent && (x == 0 || y == 0))) return FALSE;
  Pair& pair = dc->state.*member;
  if (previous != nullptr) *previous = pair;
  pair = Pair{x, y};
  if (dc->recorder) record(*dc->recorder);
  return TRUE;
}

}  // namespace

BOOL SetWindowExtEx(HDC dc, int x, int y, SIZE* previous) {
  return SetPair(dc, &DcState::windowExt, x, y, previous, true,
                 [&](Recorder& r) { r.SetWindowExtEx(x, y); });
}

BOOL SetWindowOrgEx(HDC dc, int x, int y, POINT* previous) {
  return SetPair(dc, &DcState::windowOrg, x, y, previous, false,
                 [&](Recorder& r) { r.SetWindowOrgEx(x, y); });
}

BOOL SetViewportExtEx(HDC dc, int x, int y, SIZE* previous) {
  return SetPair(dc, &DcState::viewportExt, x, y, previous, true,
                 [&](Recorder& r) { r.SetViewportExtEx(x, y); });
}

BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* previous) {
  return SetPair(dc, &DcState::viewportOrg, x, y, previous, false,
                 [&](Recorder& r) { r.SetViewportOrgEx(x, y); });
}

int SetGraphicsMode(HDC handle, int mode) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc) || (mode != GM_COMPATIBLE && mode != GM_ADVANCED)) return 0;
  const int previous = dc->state.graphicsMode;
  dc->state.graphicsMode = mode;
  return previous;
}

BOOL SetWorldTransform(HDC handle, const XFORM* transform) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc) || transform == nullptr || dc->state.graphicsMode != GM_ADVANCED)
    return FALSE;
  const Affine world = Affine::FromXform(*transform);
  if (!world.IsFinite() || !world.Invertible()) return FALSE;
  dc->state.world = world;
  return TRUE;
}

BOOL ModifyWorldTransform(HDC handle, const XFORM* transform, DWORD mode) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc) || dc->state.graphicsMode != GM_ADVANCED) return FALSE;
  if (mode == MWT_IDENTITY) {
    dc->state.world = Affine{};
    return TRUE;
  }
  if (transform == nullptr) return FALSE;
  const Affine given = Affine::FromXform(*transform);
  Affine result;
  switch (mode) {
    case MWT_LEFTMULTIPLY:
      result = given.Then(dc->state.world);
      break;
    case MWT_RIGHTMULTIPLY:
      result = dc->state.world.Then(given);
      break;
    case MWT_SET:
      result = given;
      break;
    default:
      return FALSE;
  }
  if (!result.IsFinite() || !result.Invertible()) return FALSE;
  dc->state.world = result;
  return TRUE;
}

namespace {

BOOL MapPoints(HDC handle, POINT* points, int count, bool toDevice) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr || points == nullptr || count < 0) return FALSE;
  Affine m = dc->ToDevice();
  if (!toDevice) {
    if (!m.Invertible()) return FALSE;
    m = m.Inverse();
  }
  for (int i = 0; i < count; ++i) {
    const PointD p = m.Apply({double(points[i].x), double(points[i].y)});
    points[i] = {static_cast<LONG>(std::lround(ClampCoordinate(p.x))),
                 static_cast<LONG>(std::lround(ClampCoordinate(p.y)))};
  }
  return TRUE;
}

// Shared by the setters of one value: stores it and returns the previous one.
template <typename T>
T SetValue(HDC handle, T DcState::*member, T value, T failure) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc)) return failure;
  T previous = dc->state.*member;
  dc->state.*member = value;
  return previous;
}

int ClipRect(HDC handle, int left, int top, int right, int bottom, bool exclude) {
  DeviceContext* dc = LookupDc(handle);
  if (!StoreState(dc)) return RGN_ERROR;
  AddClip(*dc, {RectFigure(*dc, RECT{left, top, right, bottom})}, false, exclude);
  return COMPLEXREGION;
}

}  // namespace

BOOL LPtoDP(HDC dc, POINT* points, int count) { return MapPoints(dc, points, count, true); }
BOOL DPtoLP(HDC dc, POINT* points, int count) { return MapPoints(dc, points, count, false); }

COLORREF SetTextColor(HDC dc, COLORREF color) {
  return SetValue<COLORREF>(dc, &DcState::textColor, color & 0xFFFFFF, CLR_INVALID);
}
COLORREF SetBkColor(HDC dc, COLORREF color) {
  return SetValue<COLORREF>(dc, &DcState::bkColor, color & 0xFFFFFF, CLR_INVALID);
}
int SetBkMode(HDC dc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return SetValue(dc, &DcState::bkMode, mode, 0);
}
int SetPolyFillMode(HDC dc, int mode) {
  if (mode != ALTERNATE && mode != WINDING) return 0;
  return SetValue(dc, &DcState::polyFillMode, mode, 0);
}
int SetROP2(HDC dc, int mode) {
  if (mode < R2_BLACK || mode > R2_WHITE) return 0;
  return SetValue(dc, &DcState::rop2, mode, 0);
}
UINT SetTextAlign(HDC dc, UINT align) {
  return SetValue<UINT>(dc, &DcState::textAlign, align, 0xFFFFFFFF);
}
int SetArcDirection(HDC dc, int direction) {
  if (direction != AD_COUNTERCLOCKWISE && direction != AD_CLOCKWISE) return 0;
  return SetValue(dc, &DcState::arcDirection, direction, 0);
}

int IntersectClipRect(HDC dc, int left, int top, int right, int bottom) {
  return ClipRect(dc, left, top, right, bottom, false);
}
int ExcludeClipRect(HDC dc, int left, int top, int right, int bottom) {
  return ClipRect(dc, left, top, right, bottom, true);
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
  DeviceContext* dc = LookupDc(handle);
  std::shared_ptr<GdiObject> selected = LookupObject(object);
  if (!StoreState(dc) || selected == nullptr) return nullptr;
  switch (selected->kind) {
    case ObjectKind::kPen: {
      HGDIOBJ previous = HandleOf(dc->state.pen);
      dc->state.pen = std::static_pointer_cast<Pen>(selected);
      return previous;
    }
    case ObjectKind::kBrush: {
      HGDIOBJ previous = HandleOf(dc->state.brush);
      dc->state.brush = std::static_pointer_cast<Brush>(selected);
      return previous;
    }
    case ObjectKind::kFont: {
      HGDIOBJ previous = HandleOf(dc->state.font);
      dc->state.font = std::static_pointer_cast<Font>(selected);
      return previous;
    }
    case ObjectKind::kBitmap: {
      if (dc->kind != DeviceContext::Kind::kMemory) return nullptr;
      // A context's initial 1 x 1 bitmap is its own; it is handed out as the
      // stock default bitmap, and selecting that gives the context a fresh one.
      HGDIOBJ previous = HandleOf(dc->bitmap);
      if (previous == nullptr) previous = GetStockObject(kDefaultBitmap);
      if (IsStockHandle(object)) {
        dc->SelectBitmap(MakeBitmap(1, 1, true));
      } else {
        dc->SelectBitmap(std::static_pointer_cast<Bitmap>(selected));
      }
      return previous;
    }
    default:
      return nullptr;
  }
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL) {
  if (LookupDc(dc) == nullptr ||
      LookupObjectAs<Palette>(palette, ObjectKind::kPalette) == nullptr) {
    return nullptr;
  }
  return GetStockObject(DEFAULT_PALETTE);
}

UINT RealizePalette(HDC dc) { return LookupDc(dc) == nullptr ? 0xFFFFFFFF : 0; }

HBITMAP CreateCompatibleBitmap(HDC handle, int width, int height) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr) return nullptr;
  return RegisterObject(MakeBitmap(width, height, dc->Monochrome()));
}
