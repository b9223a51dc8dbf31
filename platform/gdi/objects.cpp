#include "platform/gdi/objects.h"

#include <array>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/gdi/gdi.h"
#include "platform/kernel/last_error.h"

namespace gdi {

namespace {

// Stock objects have the handles 1 to 21 (index + 1); other objects count up
// from kFirstHandle and handles are never reused.
constexpr uintptr_t kStockCount = kDefaultBitmap + 1;
constexpr uintptr_t kFirstHandle = 0x10000;

class ObjectTable {
 public:
  static ObjectTable& Instance() {
    static ObjectTable table;
    return table;
  }

  HGDIOBJ Add(std::shared_ptr<GdiObject> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uintptr_t id = next_++;
    byObject_[object.get()] = id;
    objects_.emplace(id, std::move(object));
    return reinterpret_cast<HGDIOBJ>(id);
  }

  std::shared_ptr<GdiObject> Find(uintptr_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(id);
    return it == objects_.end() ? nullptr : it->second;
  }

  uintptr_t IdOf(const GdiObject* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = byObject_.find(object);
    return it == byObject_.end() ? 0 : it->second;
  }

  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return objects_.size();
  }

  bool Remove(uintptr_t id) {
    std::shared_ptr<GdiObject> released;  // destroyed outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(id);
    if (it == objects_.end()) return false;
    released = std::move(it->second);
    byObject_.erase(released.get());
    objects_.erase(it);
    return true;
  }

 private:
  std::mutex mutex_;
  uintptr_t next_ = kFirstHandle;
  std::unordered_map<uintptr_t, std::shared_ptr<GdiObject>> objects_;
  std::unordered_map<const GdiObject*, uintptr_t> byObject_;
};

LOGFONTA StockLogFont(LONG height, LONG weight, BYTE pitchAndFamily) {
  LOGFONTA font{};
  font.lfHeight = height;
  font.lfWeight = weight;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfPitchAndFamily = pitchAndFamily;
  return font;
}

std::array<std::shared_ptr<GdiObject>, kStockCount> MakeStockObjects() {
  std::array<std::shared_ptr<GdiObject>, kStockCount> stock{};
  const std::array<COLORREF, 5> brushColors = {RGB(255, 255, 255), RGB(192, 192, 192),
                                               RGB(128, 128, 128), RGB(64, 64, 64), RGB(0, 0, 0)};
  for (int i = 0; i < 5; ++i) stock[i] = MakeBrush({BS_SOLID, brushColors[i], 0});
  stock[NULL_BRUSH] = MakeBrush({BS_NULL, 0, 0});
  stock[WHITE_PEN] = MakePen(PS_SOLID, 0, RGB(255, 255, 255));
  stock[BLACK_PEN] = MakePen(PS_SOLID, 0, 0);
  stock[NULL_PEN] = MakePen(PS_NULL, 0, 0);
  const LOGFONTA fixed = StockLogFont(16, FW_NORMAL, FF_MODERN | FIXED_PITCH);
  stock[OEM_FIXED_FONT] = MakeFont(fixed);
  stock[ANSI_FIXED_FONT] = MakeFont(fixed);
  stock[ANSI_VAR_FONT] = MakeFont(StockLogFont(16, FW_NORMAL, FF_SWISS));
  stock[SYSTEM_FONT] = MakeFont(StockLogFont(16, FW_BOLD, FF_SWISS));
  stock[DEVICE_DEFAULT_FONT] = MakeFont(StockLogFont(16, FW_BOLD, FF_SWISS));
  stock[DEFAULT_PALETTE] = std::make_shared<Palette>();
  stock[SYSTEM_FIXED_FONT] = MakeFont(fixed);
  stock[DEFAULT_GUI_FONT] = MakeFont(StockLogFont(-11, FW_NORMAL, FF_SWISS));
  stock[DC_BRUSH] = MakeBrush({BS_SOLID, RGB(255, 255, 255), 0});
  stock[DC_PEN] = MakePen(PS_SOLID, 0, 0);
  stock[kDefaultBitmap] = MakeBitmap(1, 1, true);
  return stock;
}

const std::array<std::shared_ptr<GdiObject>, kStockCount>& StockObjects() {
  static const auto stock = MakeStockObjects();
  return stock;
}

uintptr_t HandleId(HGDIOBJ handle) { return reinterpret_cast<uintptr_t>(handle); }

}  // namespace

HGDIOBJ RegisterObject(std::shared_ptr<GdiObject> object) {
  if (object == nullptr) return nullptr;
  return ObjectTable::Instance().Add(std::move(object));
}

std::shared_ptr<GdiObject> LookupObject(HGDIOBJ handle) {
  const uintptr_t id = HandleId(handle);
  if (id >= 1 && id <= kStockCount) return StockObjects()[id - 1];
  return ObjectTable::Instance().Find(id);
}

HGDIOBJ HandleOf(const std::shared_ptr<GdiObject>& object) {
  if (object == nullptr) return nullptr;
  const auto& stock = StockObjects();
  for (uintptr_t i = 0; i < kStockCount; ++i) {
    if (stock[i] == object) return reinterpret_cast<HGDIOBJ>(i + 1);
  }
  return reinterpret_cast<HGDIOBJ>(ObjectTable::Instance().IdOf(object.get()));
}

size_t LiveObjectCount() { return ObjectTable::Instance().Count(); }

bool IsStockHandle(HGDIOBJ handle) {
  const uintptr_t id = HandleId(handle);
  return id >= 1 && id <= kStockCount && StockObjects()[id - 1] != nullptr;
}

bool UnregisterObject(HGDIOBJ handle) {
  if (IsStockHandle(handle)) return true;  // deleting a stock object is harmless
  return ObjectTable::Instance().Remove(HandleId(handle));
}

std::shared_ptr<GdiObject> StockObject(int index) {
  if (index < 0 || index >= static_cast<int>(kStockCount)) return nullptr;
  return StockObjects()[index];
}

std::shared_ptr<Pen> StockPen(int index) {
  auto object = StockObject(index);
  return object && object->kind == ObjectKind::kPen ? std::static_pointer_cast<Pen>(object)
                                                    : nullptr;
}

std::shared_ptr<Brush> StockBrush(int index) {
  auto object = StockObject(index);
  return object && object->kind == ObjectKind::kBrush ? std::static_pointer_cast<Brush>(object)
                                                      : nullptr;
}

std::shared_ptr<Font> StockFont(int index) {
  auto object = StockObject(index);
  return object && object->kind == ObjectKind::kFont ? std::static_pointer_cast<Font>(object)
                                                     : nullptr;
}

std::shared_ptr<Pen> MakePen(UINT style, double width, COLORREF color) {
  auto pen = std::make_shared<Pen>();
  pen->style = style;
  pen->width = std::fabs(width);
  pen->color = color & 0xFFFFFF;
  return pen;
}

std::shared_ptr<Brush> MakeBrush(const LOGBRUSH& log) {
  auto brush = std::make_shared<Brush>();
  brush->style = log.lbStyle;
  brush->color = log.lbColor & 0xFFFFFF;
  brush->hatch = static_cast<int>(log.lbHatch);
  if (brush->style == BS_HATCHED && (brush->hatch < HS_HORIZONTAL || brush->hatch > HS_DIAGCROSS)) {
    brush->style = BS_SOLID;
  }
  return brush;
}

std::shared_ptr<Font> MakeFont(const LOGFONTA& log) {
  auto font = std::make_shared<Font>();
  font->log = log;
  font->log.lfFaceName[LF_FACESIZE - 1] = '\0';
  return font;
}

std::shared_ptr<Bitmap> MakeBitmap(int width, int height, bool monochrome) {
  if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide ||
      static_cast<long long>(width) * height > kMaxBitmapPixels) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->monochrome = monochrome;
  bitmap->surface = surface;
  return bitmap;  // cairo clears new image surfaces to zero: black
}

}  // namespace gdi

using namespace gdi;

HGDIOBJ GetStockObject(int index) {
  return StockObject(index) == nullptr ? nullptr : reinterpret_cast<HGDIOBJ>(uintptr_t(index) + 1);
}

HPEN CreatePen(int style, int width, COLORREF color) {
  return RegisterObject(MakePen(static_cast<UINT>(style), width, color));
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
  if (pen == nullptr) return nullptr;
  return RegisterObject(MakePen(pen->lopnStyle, pen->lopnWidth.x, pen->lopnColor));
}

HBRUSH CreateSolidBrush(COLORREF color) { return RegisterObject(MakeBrush({BS_SOLID, color, 0})); }

HBRUSH CreateHatchBrush(int hatch, COLORREF color) {
  if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS) return nullptr;
  return RegisterObject(MakeBrush({BS_HATCHED, color, static_cast<ULONG>(hatch)}));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
  if (brush == nullptr ||
      (brush->lbStyle != BS_SOLID && brush->lbStyle != BS_NULL && brush->lbStyle != BS_HATCHED)) {
    return nullptr;
  }
  return RegisterObject(MakeBrush(*brush));
}

HFONT CreateFontIndirectA(const LOGFONTA* font) {
  if (font == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return RegisterObject(MakeFont(*font));
}

HPALETTE CreatePalette(const void* logPalette) {
  if (logPalette == nullptr) return nullptr;
  return RegisterObject(std::make_shared<Palette>());
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  const UINT depth = planes * bitsPerPixel;
  if (depth != 1 && depth != 32) return nullptr;
  auto bitmap = MakeBitmap(width, height, depth == 1);
  if (bitmap == nullptr) return nullptr;
  if (bits != nullptr) {
    // Rows of 16-bit aligned device bits, top row first.
    const size_t stride =
        depth == 1 ? ((static_cast<size_t>(width) + 15) / 16) * 2 : static_cast<size_t>(width) * 4;
    const auto* source = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
      uint32_t* row = bitmap->Row(y);
      const uint8_t* in = source + stride * y;
      for (int x = 0; x < width; ++x) {
        if (depth == 1) {
          row[x] = (in[x / 8] >> (7 - x % 8) & 1) ? 0xFFFFFF : 0;
        } else {
          std::memcpy(&row[x], in + x * 4, 4);
          row[x] &= 0xFFFFFF;
        }
      }
    }
    cairo_surface_mark_dirty(bitmap->surface);
  }
  return RegisterObject(std::move(bitmap));
}

BOOL DeleteObject(HGDIOBJ object) { return object != nullptr && UnregisterObject(object); }

int GetObjectA(HGDIOBJ handle, int size, void* buffer) {
  std::shared_ptr<GdiObject> object = LookupObject(handle);
  if (object == nullptr) return 0;
  switch (object->kind) {
    case ObjectKind::kBitmap: {
      if (buffer == nullptr) return sizeof(BITMAP);
      if (size < static_cast<int>(sizeof(BITMAP))) return 0;
      const auto& bitmap = static_cast<const Bitmap&>(*object);
      const int bits = bitmap.monochrome ? 1 : 32;
      BITMAP info{0,
                  bitmap.width,
                  bitmap.height,
                  ((bitmap.width * bits + 15) / 16) * 2,
                  1,
                  static_cast<WORD>(bits),
                  nullptr};
      std::memcpy(buffer, &info, sizeof info);
      return sizeof(BITMAP);
    }
    case ObjectKind::kFont: {
      if (buffer == nullptr) return sizeof(LOGFONTA);
      if (size < static_cast<int>(sizeof(LOGFONTA))) return 0;
      std::memcpy(buffer, &static_cast<const Font&>(*object).log, sizeof(LOGFONTA));
      return sizeof(LOGFONTA);
    }
    case ObjectKind::kPen: {
      if (buffer == nullptr) return sizeof(LOGPEN);
      if (size < static_cast<int>(sizeof(LOGPEN))) return 0;
      const auto& pen = static_cast<const Pen&>(*object);
      LOGPEN log{pen.style, {static_cast<LONG>(pen.width), 0}, pen.color};
      std::memcpy(buffer, &log, sizeof log);
      return sizeof(LOGPEN);
    }
    case ObjectKind::kBrush: {
      if (buffer == nullptr) return sizeof(LOGBRUSH);
      if (size < static_cast<int>(sizeof(LOGBRUSH))) return 0;
      const auto& brush = static_cast<const Brush&>(*object);
      LOGBRUSH log{brush.style, brush.color, static_cast<ULONG>(brush.hatch)};
      std::memcpy(buffer, &log, sizeof log);
      return sizeof(LOGBRUSH);
    }
    default:
      return 0;
  }
}
