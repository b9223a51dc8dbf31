// Converts a Windows metafile into an enhanced metafile (SetWinMetaFileBits):
// each record becomes its enhanced counterpart, object slots become handle
// indexes, and a prologue maps the metafile's window onto the picture's frame.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "platform/gdi/device.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/fonts.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/metafile_records.h"
#include "platform/kernel/code_page.h"

namespace gdi {

HENHMETAFILE RegisterEnhMetaFile(std::vector<uint8_t> bytes);

namespace {

constexpr size_t kRecordHeader = 6;  // size in words, function
constexpr uint32_t kMaxObjectSlots = 0xFFFF;
constexpr uint32_t kStockFlag = 0x80000000u;

// One Windows-metafile record: parameters are 16-bit words after the header.
class WmfRecord {
 public:
  WmfRecord(const uint8_t* data, size_t size) : view_(data, size) {}
  uint16_t Function() { return view_.U16(4); }
  size_t ParamCount() const { return (view_.Size() - kRecordHeader) / 2; }
  int16_t S(size_t i) { return view_.I16(kRecordHeader + 2 * i); }
  uint16_t W(size_t i) { return view_.U16(kRecordHeader + 2 * i); }
  uint32_t D(size_t i) { return view_.U16(kRecordHeader + 2 * i) | uint32_t{W(i + 1)} << 16; }
  bool Has(size_t params) const { return ParamCount() >= params; }
  // Bytes from parameter i to the end of the record.
  const uint8_t* Tail(size_t i, size_t* size) {
    const size_t offset = kRecordHeader + 2 * i;
    if (offset > view_.Size()) return nullptr;
    *size = view_.Size() - offset;
    return view_.Data() + offset;
  }
  bool Ok() const { return view_.Ok(); }

 private:
  ByteView view_;
};

struct WindowSetup {
  POINT origin{0, 0};
  std::optional<SIZE> extent;
};

// The first window origin and extent the metafile sets.
WindowSetup ScanWindow(const uint8_t* bits, size_t size, size_t start) {
  WindowSetup setup;
  bool hasOrigin = false;
  for (size_t offset = start; offset + kRecordHeader <= size;) {
    ByteView head(bits + offset, size - offset);
    const uint64_t words = head.U32(0);
    if (words < 3 || words * 2 > size - offset) break;
    WmfRecord record(bits + offset, static_cast<size_t>(words * 2));
    const uint16_t function = record.Function();
    if (function == META_EOF) break;
    if (function == META_SETWINDOWEXT && !setup.extent && record.Has(2) && record.S(0) &&
        record.S(1)) {
      setup.extent = SIZE{record.S(1), record.S(0)};
    } else if (function == META_SETWINDOWORG && !hasOrigin && record.Has(2)) {
      setup.origin = {record.S(1), record.S(0)};
      hasOrigin = true;
    }
    if (setup.extent && hasOrigin) break;
    offset += static_cast<size_t>(words * 2);
  }
  return setup;
}

class Converter {
 public:
  Converter(const RECT& frame, const DeviceMetrics& metrics)
      : out_(frame, {metrics.pixelsX, metrics.pixelsY},
             {metrics.millimetersX, metrics.millimetersY}) {}

  void Prologue(const WindowSetup& window, SIZE viewport) {
    out_.Record(EMR_SETMAPMODE, {MM_ANISOTROPIC});
    Pair(EMR_SETWINDOWORGEX, window.origin.x, window.origin.y);
    const SIZE extent = window.extent.value_or(viewport);
    Pair(EMR_SETWINDOWEXTEX, extent.cx, extent.cy);
    Pair(EMR_SETVIEWPORTORGEX, 0, 0);
    Pair(EMR_SETVIEWPORTEXTEX, viewport.cx, viewport.cy);
    out_.IncludeBounds({0, 0, viewport.cx - 1, viewport.cy - 1});
  }

  void Convert(const uint8_t* bits, size_t size, size_t start) {
    for (size_t offset = start; offset + kRecordHeader <= size;) {
      ByteView head(bits + offset, size - offset);
      const uint64_t words = head.U32(0);
      if (words < 3 || words * 2 > size - offset) break;  // a size that lies ends the metafile
      WmfRecord record(bits + offset, static_cast<size_t>(words * 2));
      if (record.Function() == META_EOF) break;
      ConvertRecord(record);
      offset += static_cast<size_t>(words * 2);
    }
  }

  std::vector<uint8_t> Finish() {
    out_.SetHandleCount(static_cast<uint16_t>(std::min<size_t>(slots_.size() + 1, 0xFFFF)));
    return out_.Finish();
  }

 private:
  void Pair(uint32_t type, int32_t x, int32_t y) {
    out_.Record(type, {static_cast<uint32_t>(x), static_cast<uint32_t>(y)});
  }
  void Value(uint32_t type, uint32_t value) { out_.Record(type, {value}); }
  void Box(uint32_t type, WmfRecord& r, size_t first) {
    // left, top, right, bottom are stored in reverse after `first` extra words
    out_.Begin(type);
    out_.Rect({r.S(first + 3), r.S(first + 2), r.S(first + 1), r.S(first)});
    out_.End();
  }

  // Object slots: a new object takes the lowest free one.
  uint32_t TakeSlot() {
    for (uint32_t i = 0; i < slots_.size(); ++i) {
      if (!slots_[i]) {
        slots_[i] = true;
        return i;
      }
    }
    if (slots_.size() >= kMaxObjectSlots) return kMaxObjectSlots;
    slots_.push_back(true);
    return static_cast<uint32_t>(slots_.size() - 1);
  }
  bool SlotUsed(uint32_t slot) const { return slot < slots_.size() && slots_[slot]; }

  // A bit-block transfer without a source bitmap.
  void PatternBlit(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rop) {
    out_.Begin(EMR_BITBLT);
    out_.Rect({0, 0, -1, -1});
    out_.I32(x), out_.I32(y), out_.I32(w), out_.I32(h), out_.U32(rop);
    for (int i = 0; i < 2; ++i) out_.U32(0);                     // source origin
    for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) out_.F32(f);  // source transform
    for (int i = 0; i < 6; ++i) out_.U32(0);                     // colour, usage, no bitmap
    out_.End();
  }

  void ConvertRecord(WmfRecord& r);
  void State(WmfRecord& r, uint16_t function);
  void Shape(WmfRecord& r, uint16_t function);
  void Poly(WmfRecord& r, uint16_t function);
  void CreateObject(WmfRecord& r, uint16_t function);
  void ObjectUse(WmfRecord& r, uint16_t function);
  void Text(WmfRecord& r, bool extended);
  void Bitmap(WmfRecord& r, uint16_t function);
  void FillRegion(uint32_t slot, uint32_t brushIndex);
  void WriteDib(size_t fields, const uint8_t* dib, size_t size);

  EmfWriter out_;
  std::vector<bool> slots_;
  std::map<uint32_t, std::vector<RECT>> regions_;  // logical rectangles of region slots
  POINT windowOrigin_{0, 0};
};

void Converter::ConvertRecord(WmfRecord& r) {
  const uint16_t function = r.Function();
  switch (function) {
    case META_SETBKCOLOR:
    case META_SETTEXTCOLOR:
    case META_SETBKMODE:
    case META_SETPOLYFILLMODE:
    case META_SETROP2:
    case META_SETSTRETCHBLTMODE:
    case META_SETTEXTALIGN:
    case META_SETWINDOWORG:
    case META_SETWINDOWEXT:
    case META_OFFSETWINDOWORG:
    case META_SCALEWINDOWEXT:
    case META_SAVEDC:
    case META_RESTOREDC:
    case META_MOVETO:
    case META_EXCLUDECLIPRECT:
    case META_INTERSECTCLIPRECT:
      State(r, function);
      return;
    case META_LINETO:
    case META_RECTANGLE:
    case META_ELLIPSE:
    case META_ROUNDRECT:
    case META_ARC:
    case META_PIE:
    case META_CHORD:
    case META_SETPIXEL:
    case META_PATBLT:
      Shape(r, function);
      return;
    case META_POLYGON:
    case META_POLYLINE:
    case META_POLYPOLYGON:
      Poly(r, function);
      return;
    case META_CREATEPENINDIRECT:
    case META_CREATEBRUSHINDIRECT:
    case META_CREATEFONTINDIRECT:
    case META_DIBCREATEPATTERNBRUSH:
    case META_CREATEPATTERNBRUSH:
    case META_CREATEPALETTE:
    case META_CREATEREGION:
      CreateObject(r, function);
      return;
    case META_SELECTOBJECT:
    case META_DELETEOBJECT:
    case META_SELECTCLIPREGION:
    case META_FILLREGION:
    case META_PAINTREGION:
      ObjectUse(r, function);
      return;
    case META_TEXTOUT:
      Text(r, false);
      return;
    case META_EXTTEXTOUT:
      Text(r, true);
      return;
    case META_DIBBITBLT:
    case META_DIBSTRETCHBLT:
    case META_STRETCHDIB:
    case META_SETDIBTODEV:
      Bitmap(r, function);
      return;
    default:
      return;  // the picture owns the viewport and mapping mode; the rest is not drawn
  }
}

void Converter::State(WmfRecord& r, uint16_t function) {
  switch (function) {
    case META_SETBKCOLOR:
      if (r.Has(2)) Value(EMR_SETBKCOLOR, r.D(0));
      return;
    case META_SETTEXTCOLOR:
      if (r.Has(2)) Value(EMR_SETTEXTCOLOR, r.D(0));
      return;
    case META_SETBKMODE:
      if (r.Has(1)) Value(EMR_SETBKMODE, r.W(0));
      return;
    case META_SETPOLYFILLMODE:
      if (r.Has(1)) Value(EMR_SETPOLYFILLMODE, r.W(0));
      return;
    case META_SETROP2:
      if (r.Has(1)) Value(EMR_SETROP2, r.W(0));
      return;
    case META_SETSTRETCHBLTMODE:
      if (r.Has(1)) Value(EMR_SETSTRETCHBLTMODE, r.W(0));
      return;
    case META_SETTEXTALIGN:
      if (r.Has(1)) Value(EMR_SETTEXTALIGN, r.W(0));
      return;
    case META_SETWINDOWORG:
      if (r.Has(2)) {
        windowOrigin_ = {r.S(1), r.S(0)};
        Pair(EMR_SETWINDOWORGEX, windowOrigin_.x, windowOrigin_.y);
      }
      return;
    case META_OFFSETWINDOWORG:
      if (r.Has(2)) {
        windowOrigin_ = {windowOrigin_.x + r.S(1), windowOrigin_.y + r.S(0)};
        Pair(EMR_SETWINDOWORGEX, windowOrigin_.x, windowOrigin_.y);
      }
      return;
    case META_SETWINDOWEXT:
      if (r.Has(2)) Pair(EMR_SETWINDOWEXTEX, r.S(1), r.S(0));
      return;
    case META_SCALEWINDOWEXT:
      if (r.Has(4)) {
        out_.Record(EMR_SCALEWINDOWEXTEX, {uint32_t(int32_t(r.S(3))), uint32_t(int32_t(r.S(2))),
                                           uint32_t(int32_t(r.S(1))), uint32_t(int32_t(r.S(0)))});
      }
      return;
    case META_SAVEDC:
      out_.Record(EMR_SAVEDC, {});
      return;
    case META_RESTOREDC:
      if (r.Has(1)) Value(EMR_RESTOREDC, uint32_t(int32_t(r.S(0))));
      return;
    case META_MOVETO:
      if (r.Has(2)) Pair(EMR_MOVETOEX, r.S(1), r.S(0));
      return;
    case META_EXCLUDECLIPRECT:
      if (r.Has(4)) Box(EMR_EXCLUDECLIPRECT, r, 0);
      return;
    case META_INTERSECTCLIPRECT:
      if (r.Has(4)) Box(EMR_INTERSECTCLIPRECT, r, 0);
      return;
    default:
      return;
  }
}

void Converter::Shape(WmfRecord& r, uint16_t function) {
  switch (function) {
    case META_LINETO:
      if (r.Has(2)) Pair(EMR_LINETO, r.S(1), r.S(0));
      return;
    case META_RECTANGLE:
      if (r.Has(4)) Box(EMR_RECTANGLE, r, 0);
      return;
    case META_ELLIPSE:
      if (r.Has(4)) Box(EMR_ELLIPSE, r, 0);
      return;
    case META_ROUNDRECT:
      if (r.Has(6)) {
        out_.Begin(EMR_ROUNDRECT);
        out_.Rect({r.S(5), r.S(4), r.S(3), r.S(2)});
        out_.I32(r.S(1)), out_.I32(r.S(0));
        out_.End();
      }
      return;
    case META_ARC:
    case META_PIE:
    case META_CHORD:
      if (r.Has(8)) {
        out_.Begin(function == META_ARC ? EMR_ARC : function == META_PIE ? EMR_PIE : EMR_CHORD);
        out_.Rect({r.S(7), r.S(6), r.S(5), r.S(4)});
        out_.I32(r.S(3)), out_.I32(r.S(2)), out_.I32(r.S(1)), out_.I32(r.S(0));
        out_.End();
      }
      return;
    case META_SETPIXEL:
      if (r.Has(4))
        out_.Record(EMR_SETPIXELV, {uint32_t(int32_t(r.S(3))), uint32_t(int32_t(r.S(2))), r.D(0)});
      return;
    case META_PATBLT:
      if (r.Has(6)) PatternBlit(r.S(5), r.S(4), r.S(3), r.S(2), r.D(0));
      return;
    default:
      return;
  }
}

void Converter::Poly(WmfRecord& r, uint16_t function) {
  if (function == META_POLYPOLYGON) {
    const uint16_t polygons = r.W(0);
    if (!r.Has(1 + size_t{polygons})) return;
    size_t total = 0;
    for (uint16_t i = 0; i < polygons; ++i) total += r.W(1 + i);
    const size_t pointsAt = 1 + size_t{polygons};
    if (!r.Has(pointsAt + 2 * total)) return;
    out_.Begin(EMR_POLYPOLYGON16);
    out_.Rect({0, 0, -1, -1});
    out_.U32(polygons);
    out_.U32(static_cast<uint32_t>(total));
    for (uint16_t i = 0; i < polygons; ++i) out_.U32(r.W(1 + i));
    for (size_t i = 0; i < 2 * total; ++i) {
      const uint16_t w = r.W(pointsAt + i);
      out_.Bytes(&w, 2);
    }
    out_.End();
    return;
  }
  const uint16_t count = r.W(0);
  if (!r.Has(1 + 2 * size_t{count})) return;
  out_.Begin(function == META_POLYGON ? EMR_POLYGON16 : EMR_POLYLINE16);
  out_.Rect({0, 0, -1, -1});
  out_.U32(count);
  for (size_t i = 0; i < 2 * size_t{count}; ++i) {
    const uint16_t w = r.W(1 + i);
    out_.Bytes(&w, 2);
  }
  out_.End();
}

void Converter::CreateObject(WmfRecord& r, uint16_t function) {
  const uint32_t slot = TakeSlot();
  if (slot >= kMaxObjectSlots) return;
  const uint32_t index = slot + 1;
  switch (function) {
    case META_CREATEPENINDIRECT:
      out_.Record(EMR_CREATEPEN, {index, r.W(0), uint32_t(int32_t(r.S(1))), 0, r.D(3)});
      return;
    case META_CREATEBRUSHINDIRECT: {
      const uint16_t style = r.W(0);
      const bool simple = style == BS_SOLID || style == BS_NULL || style == BS_HATCHED;
      out_.Record(EMR_CREATEBRUSHINDIRECT, {index, simple ? style : BS_SOLID, r.D(1), r.W(3)});
      return;
    }
    case META_CREATEFONTINDIRECT: {
      out_.Begin(EMR_EXTCREATEFONTINDIRECTW);
      out_.U32(index);
      for (size_t i = 0; i < 5; ++i)
        out_.I32(r.S(i));  // height, width, escapement, orientation, weight
      uint8_t bytes[8];
      for (size_t i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>(r.W(5 + i / 2) >> (8 * (i % 2)));
      out_.Bytes(bytes, 8);
      std::string face;
      for (size_t i = 0; i < LF_FACESIZE && r.Has(9 + i / 2 + 1); ++i) {
        const char c = static_cast<char>(r.W(9 + i / 2) >> (8 * (i % 2)));
        if (c == '\0') break;
        face.push_back(c);
      }
      const std::u32string decoded = DecodeCodePageText(face, bytes[3]);
      char16_t name[LF_FACESIZE] = {};
      for (size_t i = 0; i < decoded.size() && i + 1 < LF_FACESIZE; ++i) {
        name[i] = static_cast<char16_t>(decoded[i] > 0xFFFF ? u'?' : decoded[i]);
      }
      out_.Bytes(name, sizeof name);
      out_.End();
      return;
    }
    case META_DIBCREATEPATTERNBRUSH: {
      size_t size = 0;
      const uint8_t* dib = r.Tail(2, &size);
      if (r.W(0) == BS_DIBPATTERN && dib != nullptr) {
        out_.Begin(EMR_CREATEDIBPATTERNBRUSHPT);
        out_.U32(index);
        out_.U32(r.W(1));
        WriteDib(out_.ReserveDibFields(), dib, size);
        out_.End();
        return;
      }
      out_.Record(EMR_CREATEBRUSHINDIRECT, {index, BS_SOLID, RGB(128, 128, 128), 0});
      return;
    }
    case META_CREATEPATTERNBRUSH:
      // Device-dependent patterns are shown as gray.
      out_.Record(EMR_CREATEBRUSHINDIRECT, {index, BS_SOLID, RGB(128, 128, 128), 0});
      return;
    case META_CREATEPALETTE:
      out_.Record(EMR_CREATEPALETTE, {index, 0x0300});
      return;
    case META_CREATEREGION: {
      // A region: header words, then scans of (count, top, bottom, x pairs, count).
      std::vector<RECT>& rects = regions_[slot];
      rects.clear();
      const uint16_t scans = r.W(5);
      size_t at = 11;
      for (uint16_t s = 0; s < scans && r.Has(at + 3); ++s) {
        const uint16_t points = r.W(at);
        const int16_t top = r.S(at + 1), bottom = r.S(at + 2);
        for (uint16_t p = 0; p + 1 < points && r.Has(at + 3 + p + 2); p += 2) {
          rects.push_back({r.S(at + 3 + p), top, r.S(at + 4 + p), bottom});
        }
        at += 4 + size_t{points};
      }
      out_.Record(EMR_CREATEPALETTE, {index, 0x0300});  // keeps the slot's index taken
      return;
    }
    default:
      return;
  }
}

// Paints a region's rectangles with a brush slot, or with the current brush (0).
void Converter::FillRegion(uint32_t slot, uint32_t brushIndex) {
  auto it = regions_.find(slot);
  if (it == regions_.end()) return;
  out_.Record(EMR_SAVEDC, {});
  if (brushIndex != 0) out_.Record(EMR_SELECTOBJECT, {brushIndex});
  out_.Record(EMR_SELECTOBJECT, {kStockFlag | NULL_PEN});
  for (const RECT& rect : it->second) {
    out_.Begin(EMR_RECTANGLE);
    out_.Rect({rect.left, rect.top, rect.right + 1, rect.bottom + 1});  // no pen: one pixel less
    out_.End();
  }
  out_.Record(EMR_RESTOREDC, {static_cast<uint32_t>(-1)});
}

void Converter::ObjectUse(WmfRecord& r, uint16_t function) {
  if (!r.Has(1)) return;
  const uint32_t slot = r.W(0);
  switch (function) {
    case META_SELECTOBJECT:
      if (!SlotUsed(slot)) return;
      if (regions_.count(slot)) {
        ObjectUse(r, META_SELECTCLIPREGION);
        return;
      }
      Value(EMR_SELECTOBJECT, slot + 1);
      return;
    case META_DELETEOBJECT:
      if (!SlotUsed(slot)) return;
      slots_[slot] = false;
      regions_.erase(slot);
      Value(EMR_DELETEOBJECT, slot + 1);
      return;
    case META_SELECTCLIPREGION: {
      // Back to no clipping, then the region's bounding box.
      out_.Record(EMR_EXTSELECTCLIPRGN, {0, RGN_COPY});
      auto it = regions_.find(slot);
      if (it == regions_.end() || it->second.empty()) return;
      RECT box = it->second[0];
      for (const RECT& rect : it->second) {
        box = {std::min(box.left, rect.left), std::min(box.top, rect.top),
               std::max(box.right, rect.right), std::max(box.bottom, rect.bottom)};
      }
      out_.Begin(EMR_INTERSECTCLIPRECT);
      out_.Rect(box);
      out_.End();
      return;
    }
    case META_FILLREGION:
      if (r.Has(2) && SlotUsed(r.W(1))) FillRegion(slot, r.W(1) + 1u);
      return;
    case META_PAINTREGION:
      FillRegion(slot, 0);
      return;
    default:
      return;
  }
}

void Converter::Text(WmfRecord& r, bool extended) {
  int16_t x = 0, y = 0;
  uint16_t count = 0, options = 0;
  RECT rect{0, 0, -1, -1};
  size_t textAt = 0;
  if (extended) {
    y = r.S(0), x = r.S(1), count = r.W(2), options = r.W(3);
    textAt = 4;
    if (options & (ETO_OPAQUE | ETO_CLIPPED)) {
      rect = {r.S(4), r.S(5), r.S(6), r.S(7)};
      textAt = 8;
    }
  } else {
    count = r.W(0);
    textAt = 1;
    const size_t after = 1 + (size_t{count} + 1) / 2;
    y = r.S(after), x = r.S(after + 1);
  }
  size_t available = 0;
  const uint8_t* text = r.Tail(textAt, &available);
  if (!r.Ok() || text == nullptr || count == 0 || count > available) return;
  const size_t dxAt = textAt + (size_t{count} + 1) / 2;
  const bool hasDx = extended && r.Has(dxAt + count);

  constexpr uint32_t kFixed = 76;
  const uint32_t stringOffset = kFixed;
  const uint32_t dxOffset = hasDx ? kFixed + (count + 3u) / 4 * 4 : 0;
  out_.Begin(EMR_EXTTEXTOUTA);
  out_.Rect({0, 0, -1, -1});
  out_.U32(GM_COMPATIBLE);
  out_.F32(0), out_.F32(0);
  out_.I32(x), out_.I32(y);
  out_.U32(count), out_.U32(stringOffset), out_.U32(options & ~ETO_GLYPH_INDEX);
  out_.Rect(rect);
  out_.U32(dxOffset);
  out_.Bytes(text, count);
  while ((out_.Position() - out_.RecordOffset()) % 4 != 0) out_.Bytes("", 1);
  if (hasDx) {
    for (size_t i = 0; i < count; ++i) out_.I32(r.S(dxAt + i));
  }
  out_.End();
}

// Adds a packed DIB (header, colours, bits) to the record, split into its two parts.
void Converter::WriteDib(size_t fields, const uint8_t* dib, size_t size) {
  size_t header = 0;
  if (size >= 4) {
    ByteView view(dib, size);
    const uint32_t headerSize = view.U32(0);
    if (headerSize >= sizeof(BITMAPINFOHEADER) && headerSize <= size) {
      BITMAPINFOHEADER h{};
      std::memcpy(&h, dib, sizeof h);
      header = std::min(DibInfoSize(h, DIB_RGB_COLORS), size);
    } else if (headerSize == 12) {
      const uint16_t bits = view.U16(10);
      header = std::min<size_t>(12 + (bits <= 8 ? size_t{3} << bits : 0), size);
    }
  }
  out_.AppendDib(fields, dib, header, dib + header, size - header);
}

void Converter::Bitmap(WmfRecord& r, uint16_t function) {
  // The variants without a bitmap hold one more reserved word than their size says.
  const bool noBitmap = r.ParamCount() == static_cast<size_t>(function >> 8) &&
                        (function == META_DIBBITBLT || function == META_DIBSTRETCHBLT);
  int32_t x = 0, y = 0, w = 0, h = 0, sx = 0, sy = 0, sw = 0, sh = 0;
  uint32_t rop = SRCCOPY, usage = DIB_RGB_COLORS, startScan = 0, scans = 0;
  size_t dibAt = 0;
  uint32_t type = EMR_STRETCHBLT;
  switch (function) {
    case META_DIBBITBLT:
      rop = r.D(0), sy = r.S(2), sx = r.S(3);
      h = sh = r.S(noBitmap ? 5 : 4), w = sw = r.S(noBitmap ? 6 : 5);
      y = r.S(noBitmap ? 7 : 6), x = r.S(noBitmap ? 8 : 7);
      dibAt = 8;
      break;
    case META_DIBSTRETCHBLT:
      rop = r.D(0), sh = r.S(2), sw = r.S(3), sy = r.S(4), sx = r.S(5);
      h = r.S(noBitmap ? 7 : 6), w = r.S(noBitmap ? 8 : 7);
      y = r.S(noBitmap ? 9 : 8), x = r.S(noBitmap ? 10 : 9);
      dibAt = 10;
      break;
    case META_STRETCHDIB:
      rop = r.D(0), usage = r.W(2), sh = r.S(3), sw = r.S(4), sy = r.S(5), sx = r.S(6);
      h = r.S(7), w = r.S(8), y = r.S(9), x = r.S(10);
      dibAt = 11;
      type = EMR_STRETCHDIBITS;
      break;
    default:  // META_SETDIBTODEV
      usage = r.W(0), scans = r.W(1), startScan = r.W(2), sy = r.S(3), sx = r.S(4);
      h = sh = r.S(5), w = sw = r.S(6), y = r.S(7), x = r.S(8);
      dibAt = 9;
      type = EMR_SETDIBITSTODEVICE;
      break;
  }
  size_t dibSize = 0;
  const uint8_t* dib = noBitmap ? nullptr : r.Tail(dibAt, &dibSize);
  if (!r.Ok()) return;
  if (dib == nullptr || dibSize == 0) {
    if (noBitmap) PatternBlit(x, y, w, h, rop);
    return;
  }
  out_.Begin(type);
  out_.Rect({0, 0, -1, -1});
  size_t fields = 0;
  if (type == EMR_STRETCHBLT) {
    out_.I32(x), out_.I32(y), out_.I32(w), out_.I32(h), out_.U32(rop), out_.I32(sx), out_.I32(sy);
    for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) out_.F32(f);
    out_.U32(0), out_.U32(usage);
    fields = out_.ReserveDibFields();
    out_.I32(sw), out_.I32(sh);
  } else {
    out_.I32(x), out_.I32(y), out_.I32(sx), out_.I32(sy), out_.I32(sw), out_.I32(sh);
    fields = out_.ReserveDibFields();
    out_.U32(usage);
    if (type == EMR_STRETCHDIBITS) {
      out_.U32(rop), out_.I32(w), out_.I32(h);
    } else {
      out_.U32(startScan), out_.U32(scans);
    }
  }
  WriteDib(fields, dib, dibSize);
  out_.End();
}

}  // namespace

}  // namespace gdi

using namespace gdi;

HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* bits, HDC reference,
                                const METAFILEPICT* picture) {
  if (bits == nullptr || size < kWmfHeaderSize) return nullptr;
  ByteView header(bits, size);
  const uint16_t type = header.U16(0), headerWords = header.U16(2), version = header.U16(4);
  if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300)) {
    return nullptr;
  }
  const DeviceContext* ref = LookupDc(reference != nullptr ? reference : GetDC(nullptr));
  const DeviceMetrics metrics = ref != nullptr ? ref->metrics : ReferenceScreen();
  const WindowSetup window = ScanWindow(bits, size, kWmfHeaderSize);

  // The picture's size in reference pixels: the suggested size when there is one
  // (rounded to whole pixels), else the window extent taken as pixels, else the
  // whole reference surface.
  const double pxPerHundredthX = metrics.pixelsX / (metrics.millimetersX * 100.0);
  const double pxPerHundredthY = metrics.pixelsY / (metrics.millimetersY * 100.0);
  SIZE pixels{metrics.pixelsX, metrics.pixelsY};
  if (picture != nullptr && picture->xExt > 0 && picture->yExt > 0) {
    pixels = {static_cast<LONG>(std::max(1.0, std::round(picture->xExt * pxPerHundredthX))),
              static_cast<LONG>(std::max(1.0, std::round(picture->yExt * pxPerHundredthY)))};
  } else if (window.extent) {
    pixels = {std::abs(window.extent->cx), std::abs(window.extent->cy)};
  }
  const RECT frame{0, 0, static_cast<LONG>(std::lround(pixels.cx / pxPerHundredthX)),
                   static_cast<LONG>(std::lround(pixels.cy / pxPerHundredthY))};
  Converter converter(frame, metrics);
  converter.Prologue(window, pixels);
  converter.Convert(bits, size, size_t{headerWords} * 2);
  return RegisterEnhMetaFile(converter.Finish());
}
