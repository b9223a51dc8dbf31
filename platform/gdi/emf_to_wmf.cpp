// Converts an enhanced metafile into Windows-metafile bits (GetWinMetaFileBits).
// The Windows metafile is drawn in the enhanced metafile's device pixels: its
// window is the frame in pixels and every bitmap lands where the enhanced
// metafile's mapping put it. Bitmaps and mapping state are converted; a
// metafile with other drawing is refused rather than converted in part.
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/gdi/device.h"
#include "platform/gdi/emf_player.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/metafile_records.h"

namespace gdi {

namespace {

constexpr double kMaxWmfCoordinate = 32767;

class WmfWriter {
 public:
  WmfWriter() { bytes_.resize(kWmfHeaderSize); }

  void Begin(uint16_t function) {
    start_ = bytes_.size();
    Word(0), Word(0), Word(function);
  }
  void Word(uint16_t w) {
    bytes_.push_back(static_cast<uint8_t>(w)), bytes_.push_back(static_cast<uint8_t>(w >> 8));
  }
  void Short(int32_t v) { Word(static_cast<uint16_t>(static_cast<int16_t>(v))); }
  void Bytes(const uint8_t* data, size_t size) {
    bytes_.insert(bytes_.end(), data, data + size);
    if (bytes_.size() % 2 != 0) bytes_.push_back(0);
  }
  void End() {
    const uint32_t words = static_cast<uint32_t>((bytes_.size() - start_) / 2);
    Store32(start_, words);
    maxRecord_ = std::max(maxRecord_, words);
  }
  void Record(uint16_t function, std::initializer_list<int32_t> params) {
    Begin(function);
    for (int32_t p : params) Short(p);
    End();
  }

  std::vector<uint8_t> Finish() {
    Record(META_EOF, {});
    Store16(0, 1);  // in memory
    Store16(2, 9);  // header words
    Store16(4, 0x0300);
    Store32(6, static_cast<uint32_t>(bytes_.size() / 2));
    Store16(10, 0);  // no objects
    Store32(12, maxRecord_);
    Store16(16, 0);
    return std::move(bytes_);
  }

 private:
  void Store16(size_t at, uint16_t v) {
    bytes_[at] = static_cast<uint8_t>(v), bytes_[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  void Store32(size_t at, uint32_t v) {
    Store16(at, static_cast<uint16_t>(v)), Store16(at + 2, static_cast<uint16_t>(v >> 16));
  }
  std::vector<uint8_t> bytes_;
  size_t start_ = 0;
  uint32_t maxRecord_ = 3;
};

bool FitsShort(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxWmfCoordinate; }

// Records that change only state the conversion tracks or that draw nothing.
bool IsMappingRecord(uint32_t type) {
  switch (type) {
    case EMR_SETMAPMODE:
    case EMR_SETWINDOWEXTEX:
    case EMR_SETWINDOWORGEX:
    case EMR_SETVIEWPORTEXTEX:
    case EMR_SETVIEWPORTORGEX:
    case EMR_SCALEWINDOWEXTEX:
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SAVEDC:
    case EMR_RESTOREDC:
    case EMR_SETWORLDTRANSFORM:
    case EMR_MODIFYWORLDTRANSFORM:
    case EMR_MOVETOEX:
      return true;
    default:
      return false;
  }
}

bool IsHarmlessRecord(uint32_t type) {
  switch (type) {
    case EMR_HEADER:
    case EMR_GDICOMMENT:
    case EMR_SETBKMODE:
    case EMR_SETBKCOLOR:
    case EMR_SETTEXTCOLOR:
    case EMR_SETSTRETCHBLTMODE:
    case EMR_SETPOLYFILLMODE:
    case EMR_SETROP2:
    case EMR_SETTEXTALIGN:
    case EMR_SETBRUSHORGEX:
    case EMR_SETMAPPERFLAGS:
    case EMR_SETICMMODE:
    case EMR_SETLAYOUT:
      return true;
    default:
      return false;
  }
}

// The bitmap fields of the three record kinds converted.
struct BitmapRecord {
  double x, y, w, h;       // destination, logical
  int32_t sx, sy, sw, sh;  // source, bottom-up rows
  uint32_t rop;
  uint32_t usage;
  uint32_t infoOffset, infoSize, bitsOffset, bitsSize;
};

bool ReadBitmapRecord(uint32_t type, ByteView& r, BitmapRecord* b) {
  if (type == EMR_STRETCHDIBITS) {
    *b = {double(r.I32(24)), double(r.I32(28)), double(r.I32(72)), double(r.I32(76)), r.I32(32),
          r.I32(36),         r.I32(40),         r.I32(44),         r.U32(68),         r.U32(64),
          r.U32(48),         r.U32(52),         r.U32(56),         r.U32(60)};
  } else if (type == EMR_SETDIBITSTODEVICE) {
    if (r.U32(68) != 0) return false;  // partial bands are not converted
    *b = {double(r.I32(24)), double(r.I32(28)), double(r.I32(40)), double(r.I32(44)), r.I32(32),
          r.I32(36),         r.I32(40),         r.I32(44),         SRCCOPY,           r.U32(64),
          r.U32(48),         r.U32(52),         r.U32(56),         r.U32(60)};
  } else {
    return false;
  }
  return r.Ok() && r.Has(b->infoOffset, b->infoSize) && r.Has(b->bitsOffset, b->bitsSize) &&
         b->infoSize > 0;
}

bool WriteStretchDib(WmfWriter& out, const DeviceContext& scratch, ByteView& r,
                     const BitmapRecord& b) {
  const Affine m = scratch.ToDevice();
  const PointD p0 = m.Apply({b.x, b.y}), p1 = m.Apply({b.x + b.w, b.y + b.h});
  const double x = std::round(p0.x), y = std::round(p0.y);
  const double w = std::round(p1.x) - x, h = std::round(p1.y) - y;
  if (!FitsShort(x) || !FitsShort(y) || !FitsShort(w) || !FitsShort(h) || !FitsShort(b.sx) ||
      !FitsShort(b.sy) || !FitsShort(b.sw) || !FitsShort(b.sh)) {
    return false;
  }
  out.Begin(META_STRETCHDIB);
  out.Word(static_cast<uint16_t>(b.rop)), out.Word(static_cast<uint16_t>(b.rop >> 16));
  out.Word(static_cast<uint16_t>(b.usage));
  for (double v : {double(b.sh), double(b.sw), double(b.sy), double(b.sx), h, w, y, x})
    out.Short(static_cast<int32_t>(v));
  out.Bytes(r.Bytes(b.infoOffset, b.infoSize), b.infoSize);
  out.Bytes(r.Bytes(b.bitsOffset, b.bitsSize), b.bitsSize);
  out.End();
  return true;
}

// The conversion; empty when the metafile holds something it does not convert.
std::vector<uint8_t> Convert(const std::vector<uint8_t>& emf, int mapMode) {
  ByteView header(emf.data(), emf.size());
  const RECT frame = header.Rect(24);
  const int32_t devX = header.I32(72), devY = header.I32(76), mmX = header.I32(80),
                mmY = header.I32(84);
  if (devX <= 0 || devY <= 0 || mmX <= 0 || mmY <= 0) return {};
  const double left = frame.left * double(devX) / (mmX * 100.0),
               top = frame.top * double(devY) / (mmY * 100.0);
  const double width = std::round((double(frame.right) - frame.left) * devX / (mmX * 100.0));
  const double height = std::round((double(frame.bottom) - frame.top) * devY / (mmY * 100.0));
  if (!FitsShort(width) || !FitsShort(height) || width < 1 || height < 1) return {};

  DeviceContext scratch(DeviceContext::Kind::kMemory);
  scratch.metrics = {
      devX, devY, mmX, mmY, ReferenceScreen().logPixelsX, ReferenceScreen().logPixelsY};
  scratch.state.graphicsMode = GM_ADVANCED;
  scratch.base = Affine::Translation(-left, -top);
  EmfPlayer player(scratch, emf.data(), emf.size());

  WmfWriter out;
  out.Record(META_SETMAPMODE, {mapMode});
  out.Record(META_SETWINDOWORG, {0, 0});
  out.Record(META_SETWINDOWEXT, {static_cast<int32_t>(height), static_cast<int32_t>(width)});
  for (size_t offset = header.U32(4); offset + 8 <= emf.size();) {
    ByteView head(emf.data() + offset, emf.size() - offset);
    const uint32_t type = head.U32(0), size = head.U32(4);
    if (size < 8 || size > emf.size() - offset) return {};
    if (type == EMR_EOF) break;
    ByteView record(emf.data() + offset, size);
    BitmapRecord bitmap{};
    if (IsMappingRecord(type)) {
      player.PlayRecord(type, record);
    } else if (ReadBitmapRecord(type, record, &bitmap)) {
      if (!WriteStretchDib(out, scratch, record, bitmap)) return {};
    } else if (!IsHarmlessRecord(type)) {
      return {};
    }
    offset += size;
  }
  return out.Finish();
}

}  // namespace

}  // namespace gdi

using namespace gdi;

UINT GetWinMetaFileBits(HENHMETAFILE metafile, UINT size, BYTE* buffer, int mapMode,
                        HDC reference) {
  auto emf = LookupObjectAs<EnhMetaFile>(metafile, ObjectKind::kEnhMetaFile);
  if (emf == nullptr || (reference != nullptr && LookupDc(reference) == nullptr)) return 0;
  if (mapMode < MM_TEXT || mapMode > MM_ANISOTROPIC) return 0;
  const std::vector<uint8_t> wmf = Convert(emf->bytes, mapMode);
  if (wmf.empty() || wmf.size() > UINT32_MAX) return 0;
  if (buffer == nullptr) return static_cast<UINT>(wmf.size());
  if (size < wmf.size()) return 0;
  std::memcpy(buffer, wmf.data(), wmf.size());
  return static_cast<UINT>(wmf.size());
}
