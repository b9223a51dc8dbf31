// Bitmap and text records.
#include <cmath>
#include <optional>

#include "platform/gdi/dib.h"
#include "platform/gdi/emf_player.h"
#include "platform/gdi/fonts.h"
#include "platform/gdi/raster.h"
#include "platform/gdi/text.h"

namespace gdi {

namespace {

constexpr uint32_t kMaxTextLength = 1u << 16;

// The bitmap a record carries: header at offInfo/cbInfo, bits at offBits/cbBits.
std::optional<Dib> RecordDib(ByteView& r, size_t fieldsAt, UINT usage, uint32_t scanLines = 0) {
  const uint32_t infoOffset = r.U32(fieldsAt), infoSize = r.U32(fieldsAt + 4);
  const uint32_t bitsOffset = r.U32(fieldsAt + 8), bitsSize = r.U32(fieldsAt + 12);
  if (!r.Ok() || infoSize == 0) return std::nullopt;
  const uint8_t* info = r.Bytes(infoOffset, infoSize);
  const uint8_t* bits = r.Bytes(bitsOffset, bitsSize);
  if (info == nullptr || bits == nullptr) return std::nullopt;
  return Dib::Parse(info, infoSize, bits, bitsSize, usage, scanLines);
}

// A destination box in logical units mapped to device corners.
BlitRequest DestinationBox(const DeviceContext& dc, double x, double y, double w, double h) {
  const Affine m = dc.ToDevice();
  const PointD a = m.Apply({x, y}), b = m.Apply({x + w, y + h});
  BlitRequest request;
  request.x0 = a.x, request.y0 = a.y, request.x1 = b.x, request.y1 = b.y;
  return request;
}

// UTF-16 text; `units` receives how many code units each character took.
std::u32string DecodeUtf16(ByteView& r, size_t offset, uint32_t count, std::vector<int>* units) {
  std::u32string text;
  for (uint32_t i = 0; i < count; ++i) {
    const char32_t c = r.U16(offset + 2 * i);
    const char32_t low = i + 1 < count ? r.U16(offset + 2 * (i + 1)) : 0;
    if (c >= 0xD800 && c < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
      text.push_back(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
      units->push_back(2);
      ++i;
    } else {
      text.push_back(c);
      units->push_back(1);
    }
  }
  return text;
}

}  // namespace

void EmfPlayer::BlitRecord(ByteView& r, bool stretch) {
  const double x = r.I32(24), y = r.I32(28), w = r.I32(32), h = r.I32(36);
  const DWORD rop = r.U32(40);
  const double sx = r.I32(44), sy = r.I32(48);
  const UINT usage = r.U32(80);
  const uint32_t infoSize = r.U32(88);
  const double sw = stretch ? r.I32(100) : w, sh = stretch ? r.I32(104) : h;
  if (!r.Ok()) return;
  BlitRequest request = DestinationBox(dc_, x, y, w, h);
  request.rop = rop;
  std::optional<Dib> dib;
  if (infoSize != 0) {
    dib = RecordDib(r, 84, usage);
    if (!dib) return;
    request.source = &*dib;
    request.srcX = sx, request.srcY = sy, request.srcWidth = sw, request.srcHeight = sh;
  }
  Blit(dc_, request);
}

void EmfPlayer::StretchDIBitsRecord(ByteView& r) {
  const double x = r.I32(24), y = r.I32(28), sx = r.I32(32), sy = r.I32(36);
  const double sw = r.I32(40), sh = r.I32(44);
  const UINT usage = r.U32(64);
  const DWORD rop = r.U32(68);
  const double w = r.I32(72), h = r.I32(76);
  const std::optional<Dib> dib = RecordDib(r, 48, usage);
  if (!r.Ok() || !dib) return;
  BlitRequest request = DestinationBox(dc_, x, y, w, h);
  request.source = &*dib;
  request.rop = rop;
  // Source rows of a bottom-up bitmap count from its last row.
  request.srcX = sx, request.srcY = dib->BottomUp() ? dib->Height() - sy - sh : sy;
  request.srcWidth = sw, request.srcHeight = sh;
  Blit(dc_, request);
}

void EmfPlayer::SetDIBitsToDeviceRecord(ByteView& r) {
  const double x = r.I32(24), y = r.I32(28), sx = r.I32(32), sy = r.I32(36);
  const double w = r.I32(40), h = r.I32(44);
  const UINT usage = r.U32(64);
  const uint32_t startScan = r.U32(68), scanLines = r.U32(72);
  const std::optional<Dib> dib = RecordDib(r, 48, usage, scanLines);
  if (!r.Ok() || !dib) return;
  BlitRequest request = DestinationBox(dc_, x, y, w, h);
  request.source = &*dib;
  // The bits hold the scan lines from startScan on, counted from the bottom.
  const double bottomRow = sy - startScan;
  request.srcX = sx, request.srcY = dib->BottomUp() ? dib->Height() - bottomRow - h : bottomRow;
  request.srcWidth = w, request.srcHeight = h;
  Blit(dc_, request);
}

void EmfPlayer::AlphaBlendRecord(ByteView& r, bool transparent) {
  const double x = r.I32(24), y = r.I32(28), w = r.I32(32), h = r.I32(36);
  const uint32_t blend = r.U32(40);
  const double sx = r.I32(44), sy = r.I32(48);
  const UINT usage = r.U32(80);
  const double sw = r.I32(100), sh = r.I32(104);
  const std::optional<Dib> dib = RecordDib(r, 84, usage);
  if (!r.Ok() || !dib) return;
  BlitRequest request = DestinationBox(dc_, x, y, w, h);
  request.source = &*dib;
  request.srcX = sx, request.srcY = sy, request.srcWidth = sw, request.srcHeight = sh;
  if (transparent) {
    request.transparentColor = blend & 0xFFFFFF;
  } else {
    request.constantAlpha = static_cast<uint8_t>(blend >> 16);
    request.sourceAlpha = (blend >> 24 & 0xFF) == AC_SRC_ALPHA;
  }
  Blit(dc_, request);
}

bool EmfPlayer::PlayBitmapRecord(uint32_t type, ByteView& r) {
  switch (type) {
    case EMR_BITBLT:
      BlitRecord(r, false);
      return true;
    case EMR_STRETCHBLT:
      BlitRecord(r, true);
      return true;
    case EMR_STRETCHDIBITS:
      StretchDIBitsRecord(r);
      return true;
    case EMR_SETDIBITSTODEVICE:
      SetDIBitsToDeviceRecord(r);
      return true;
    case EMR_ALPHABLEND:
      AlphaBlendRecord(r, false);
      return true;
    case EMR_TRANSPARENTBLT:
      AlphaBlendRecord(r, true);
      return true;
    case EMR_MASKBLT:
    case EMR_PLGBLT:
      return true;  // not drawn
    default:
      return false;
  }
}

void EmfPlayer::TextRecord(ByteView& r, bool wide) {
  const PointD reference = Point(r, 36, false);
  const uint32_t count = r.U32(44), stringOffset = r.U32(48), options = r.U32(52);
  const RECT rect = r.Rect(56);
  const uint32_t dxOffset = r.U32(72);
  if (!r.Ok() || count == 0 || count > kMaxTextLength || (options & ETO_GLYPH_INDEX) ||
      !r.HasArray(stringOffset, count, wide ? 2 : 1)) {
    return;
  }
  std::u32string text;
  std::vector<int> units;
  if (wide) {
    text = DecodeUtf16(r, stringOffset, count, &units);
  } else {
    const char* bytes = reinterpret_cast<const char*>(r.Bytes(stringOffset, count));
    text = DecodeCodePageText(std::string_view(bytes, count), dc_.state.font->log.lfCharSet);
    units.assign(text.size(), 1);
  }
  TextRequest request;
  request.reference = reference;
  request.options = options;
  const bool hasRect = rect.right > rect.left && rect.bottom > rect.top;
  request.rect = hasRect ? &rect : nullptr;
  request.text = text;
  const uint32_t step = (options & ETO_PDY) ? 8 : 4;
  if (dxOffset != 0 && r.HasArray(dxOffset, count, step)) {
    // A surrogate pair advances by the sum of its two units' entries.
    uint32_t unit = 0;
    for (int n : units) {
      double advance = 0;
      for (int k = 0; k < n; ++k, ++unit) advance += r.I32(dxOffset + size_t{unit} * step);
      request.advances.push_back(advance);
    }
  }
  DrawTextRun(dc_, request);
}

bool EmfPlayer::PlayTextRecord(uint32_t type, ByteView& r) {
  switch (type) {
    case EMR_EXTTEXTOUTW:
      TextRecord(r, true);
      return true;
    case EMR_EXTTEXTOUTA:
      TextRecord(r, false);
      return true;
    case EMR_POLYTEXTOUTA:
    case EMR_POLYTEXTOUTW:
    case EMR_SMALLTEXTOUT:
      return true;  // rare
    default:
      return false;
  }
}

}  // namespace gdi
