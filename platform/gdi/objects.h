// The GDI objects behind the handles, the handle table and the stock objects.
// Objects are shared: a device context holds its selections by reference, so
// deleting a selected object's handle never frees what is still in use.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/gdi_types.h"

namespace gdi {

enum class ObjectKind { kPen, kBrush, kFont, kBitmap, kPalette, kRegion, kEnhMetaFile, kMetaFile };

struct GdiObject {
  explicit GdiObject(ObjectKind k) : kind(k) {}
  virtual ~GdiObject() = default;
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  const ObjectKind kind;
};

// An image in memory: premultiplied 0xAARRGGBB words, rows top to bottom.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

struct Pen : GdiObject {
  Pen() : GdiObject(ObjectKind::kPen) {}
  UINT style = PS_SOLID;  // with end cap, join and type bits
  double width = 0;       // logical units; 0 is one device pixel
  COLORREF color = 0;
  std::vector<double> userDashes;  // for PS_USERSTYLE, in logical units
  UINT Kind() const { return style & PS_STYLE_MASK; }
  bool Geometric() const { return (style & PS_TYPE_MASK) == PS_GEOMETRIC; }
};

struct Brush : GdiObject {
  Brush() : GdiObject(ObjectKind::kBrush) {}
  UINT style = BS_SOLID;
  COLORREF color = 0;
  int hatch = 0;
  // BS_DIBPATTERN: the pattern's colours. BS_PATTERN from a monochrome bitmap:
  // `monoMask` set, pixels 0 or 1, painted in the text and background colours.
  std::shared_ptr<Image> pattern;
  bool monoMask = false;
};

struct Font : GdiObject {
  Font() : GdiObject(ObjectKind::kFont) {}
  LOGFONTA log{};  // face name in UTF-8
};

// A bitmap is a cairo image surface; a monochrome bitmap holds only black and
// white pixels in the same layout.
struct Bitmap : GdiObject {
  Bitmap() : GdiObject(ObjectKind::kBitmap) {}
  ~Bitmap() override {
    if (surface != nullptr) cairo_surface_destroy(surface);
  }
  int width = 0;
  int height = 0;
  bool monochrome = false;
  cairo_surface_t* surface = nullptr;
  uint32_t* Row(int y) const {
    return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface) +
                                       static_cast<size_t>(y) *
                                           cairo_image_surface_get_stride(surface));
  }
};

struct Palette : GdiObject {
  Palette() : GdiObject(ObjectKind::kPalette) {}
};

// A region as the union of non-overlapping rectangles in device units.
struct Region : GdiObject {
  Region() : GdiObject(ObjectKind::kRegion) {}
  std::vector<RECT> rects;
};

struct EnhMetaFile : GdiObject {
  EnhMetaFile() : GdiObject(ObjectKind::kEnhMetaFile) {}
  std::vector<uint8_t> bytes;  // a validated header comes first
};

struct MetaFile : GdiObject {
  MetaFile() : GdiObject(ObjectKind::kMetaFile) {}
  std::vector<uint8_t> bytes;  // a validated header comes first
};

// ---- the handle table ----

HGDIOBJ RegisterObject(std::shared_ptr<GdiObject> object);
std::shared_ptr<GdiObject> LookupObject(HGDIOBJ handle);
template <typename T>
std::shared_ptr<T> LookupObjectAs(HGDIOBJ handle, ObjectKind kind) {
  std::shared_ptr<GdiObject> object = LookupObject(handle);
  if (object == nullptr || object->kind != kind) return nullptr;
  return std::static_pointer_cast<T>(object);
}
// The handle of an object that is in the table (stock objects included), or null.
HGDIOBJ HandleOf(const std::shared_ptr<GdiObject>& object);
bool IsStockHandle(HGDIOBJ handle);
bool UnregisterObject(HGDIOBJ handle);
// How many objects are in the table (stock objects not counted); for leak checks.
size_t LiveObjectCount();

// The stock index of the 1 x 1 monochrome bitmap that memory contexts start with
// (never drawn on: each context gets a private one).
constexpr int kDefaultBitmap = 20;

// Stock objects by their index (null for an index with none).
std::shared_ptr<GdiObject> StockObject(int index);
std::shared_ptr<Pen> StockPen(int index);
std::shared_ptr<Brush> StockBrush(int index);
std::shared_ptr<Font> StockFont(int index);

// ---- makers shared by the calls and the metafile player ----

std::shared_ptr<Pen> MakePen(UINT style, double width, COLORREF color);
std::shared_ptr<Brush> MakeBrush(const LOGBRUSH& brush);
std::shared_ptr<Font> MakeFont(const LOGFONTA& font);
// A black bitmap of the size; null when the size is out of bounds or memory runs out.
std::shared_ptr<Bitmap> MakeBitmap(int width, int height, bool monochrome);

}  // namespace gdi
