// Playback set-up and the state, mapping and object records.
#include "platform/gdi/emf_player.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gdi/dib.h"
#include "platform/gdi/fonts.h"
#include "platform/gdi/gdi.h"
#include "platform/kernel/code_page.h"

namespace gdi {

namespace {

// Object indexes a metafile may use (the header's handle count is 16 bits).
constexpr uint32_t kMaxObjectIndex = 0xFFFF;
constexpr uint32_t kStockFlag = 0x80000000u;
constexpr size_t kMaxSavedStates = 1024;
constexpr size_t kLogFontWSize = 92;

// Everything of a context that playback changes, kept to be put back after it.
struct SavedContext {
  DcState state;
  std::vector<DcState> saved;
  Affine base;
  ClipChain clipFloor;
  DeviceMetrics metrics;
  bool pathOpen, pathReady, figureOpen;
  Figures path;
};

SavedContext Keep(DeviceContext& dc) {
  return {dc.state,    std::move(dc.saved), dc.base,       dc.clipFloor,      dc.metrics,
          dc.pathOpen, dc.pathReady,        dc.figureOpen, std::move(dc.path)};
}

void PutBack(DeviceContext& dc, SavedContext&& kept) {
  dc.state = std::move(kept.state);
  dc.saved = std::move(kept.saved);
  dc.base = kept.base;
  dc.clipFloor = std::move(kept.clipFloor);
  dc.metrics = kept.metrics;
  dc.pathOpen = kept.pathOpen, dc.pathReady = kept.pathReady, dc.figureOpen = kept.figureOpen;
  dc.path = std::move(kept.path);
  dc.ClipChanged();
}

// The default state a metafile starts from, inside the caller's clipping.
void ResetForPlayback(DeviceContext& dc, const ClipChain& clip) {
  dc.state = DcState{};
  dc.state.pen = StockPen(BLACK_PEN);
  dc.state.brush = StockBrush(WHITE_BRUSH);
  dc.state.font = StockFont(SYSTEM_FONT);
  dc.state.graphicsMode = GM_ADVANCED;
  dc.state.clip = clip;
  dc.clipFloor = clip;
  dc.saved.clear();
  AbortPath(dc);
  dc.ClipChanged();
}

double FramePixels(int32_t hundredthsMm, int32_t pixels, int32_t millimeters) {
  return static_cast<double>(hundredthsMm) * pixels / (millimeters * 100.0);
}

}  // namespace

int64_t PlaybackAllowance(const DeviceContext& dc) {
  const int64_t area = dc.bitmap ? int64_t{dc.bitmap->width} * dc.bitmap->height : 1;
  return std::max<int64_t>(area, 1 << 20) * 256;
}

bool EmfPlayer::Play(const RECT& destination) {
  ByteView header(bytes_, size_);
  const RECT frame = header.Rect(24);
  int32_t devX = header.I32(72), devY = header.I32(76);
  int32_t mmX = header.I32(80), mmY = header.I32(84);
  const DeviceMetrics& screen = ReferenceScreen();
  if (devX <= 0 || devY <= 0 || mmX <= 0 || mmY <= 0) {
    devX = screen.pixelsX, devY = screen.pixelsY, mmX = screen.millimetersX,
    mmY = screen.millimetersY;
  }
  // The frame in the metafile's device pixels maps onto the destination.
  const double fx0 = FramePixels(frame.left, devX, mmX), fx1 = FramePixels(frame.right, devX, mmX);
  const double fy0 = FramePixels(frame.top, devY, mmY), fy1 = FramePixels(frame.bottom, devY, mmY);
  const Affine target = dc_.ToDevice();
  const PointD d0 = target.Apply({double(destination.left), double(destination.top)});
  const PointD d1 = target.Apply({double(destination.right), double(destination.bottom)});
  const double sx = fx1 != fx0 ? (d1.x - d0.x) / (fx1 - fx0) : 1;
  const double sy = fy1 != fy0 ? (d1.y - d0.y) / (fy1 - fy0) : 1;
  const Affine base = Affine::Translation(-fx0, -fy0)
                          .Then(Affine::Scaling(sx, sy))
                          .Then(Affine::Translation(d0.x, d0.y));
  if (!base.IsFinite() || !base.Invertible()) return false;

  SavedContext kept = Keep(dc_);
  ResetForPlayback(dc_, kept.state.clip);
  dc_.base = base;
  dc_.metrics = DeviceMetrics{devX, devY, mmX, mmY, screen.logPixelsX, screen.logPixelsY};
  objects_.assign(std::max<uint32_t>(header.U16(52), 1), nullptr);

  bool complete = false;
  size_t offset = header.U32(4);
  while (offset <= size_ && size_ - offset >= 8 && !dc_.Exhausted()) {
    ByteView record(bytes_ + offset, size_ - offset);
    const uint32_t type = record.U32(0), recordSize = record.U32(4);
    if (recordSize < 8 || recordSize > size_ - offset) break;
    if (type == EMR_EOF) {
      complete = true;
      break;
    }
    ByteView body(bytes_ + offset, recordSize);
    PlayRecord(type, body);
    offset += recordSize;
  }
  if (dc_.Exhausted()) complete = false;
  PutBack(dc_, std::move(kept));
  return complete;
}

void EmfPlayer::PlayRecord(uint32_t type, ByteView& r) {
  PlayStateRecord(type, r) || PlayObjectRecord(type, r) || PlayShapeRecord(type, r) ||
      PlayPolyRecord(type, r) || PlayPathRecord(type, r) || PlayClipRecord(type, r) ||
      PlayBitmapRecord(type, r) || PlayTextRecord(type, r);
}

PointD EmfPlayer::Point(ByteView& r, size_t offset, bool shortPoints) {
  if (shortPoints) return {double(r.I16(offset)), double(r.I16(offset + 2))};
  return {double(r.I32(offset)), double(r.I32(offset + 4))};
}

RECT EmfPlayer::DeviceRect(const RECT& m) const {
  const PointD a = dc_.base.Apply({double(m.left), double(m.top)});
  const PointD b = dc_.base.Apply({double(m.right), double(m.bottom)});
  const auto round = [](double v) { return static_cast<LONG>(std::lround(ClampCoordinate(v))); };
  return {round(std::min(a.x, b.x)), round(std::min(a.y, b.y)), round(std::max(a.x, b.x)),
          round(std::max(a.y, b.y))};
}

// ---- state and mapping ----

void EmfPlayer::ScaleExtent(SIZE& extent, ByteView& r) {
  const int64_t xNum = r.I32(8), xDenom = r.I32(12), yNum = r.I32(16), yDenom = r.I32(20);
  if (!r.Ok() || xDenom == 0 || yDenom == 0) return;
  const int64_t cx = int64_t{extent.cx} * xNum / xDenom, cy = int64_t{extent.cy} * yNum / yDenom;
  if (cx == 0 || cy == 0 || cx != int32_t(cx) || cy != int32_t(cy)) return;
  extent = {static_cast<LONG>(cx), static_cast<LONG>(cy)};
}

void EmfPlayer::Transform(ByteView& r, bool modify) {
  XFORM x{r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28)};
  const DWORD mode = modify ? r.U32(32) : MWT_SET;
  if (!r.Ok()) return;
  const Affine given = Affine::FromXform(x);
  Affine result = dc_.state.world;
  switch (mode) {
    case MWT_IDENTITY:
      result = Affine{};
      break;
    case MWT_LEFTMULTIPLY:
      result = given.Then(result);
      break;
    case MWT_RIGHTMULTIPLY:
      result = result.Then(given);
      break;
    case MWT_SET:
      result = given;
      break;
    default:
      return;
  }
  if (result.IsFinite() && result.Invertible()) dc_.state.world = result;
}

bool EmfPlayer::PlayStateRecord(uint32_t type, ByteView& r) {
  DcState& s = dc_.state;
  // One value or a pair after the type and size; what a record lacks reads as absent.
  const bool hasValue = r.Has(8, 4), hasPair = r.Has(8, 8);
  const uint32_t value = hasValue ? r.U32(8) : 0;
  const LONG x = hasPair ? r.I32(8) : 0, y = hasPair ? r.I32(12) : 0;
  switch (type) {
    case EMR_SETWINDOWEXTEX:
      if (hasPair && x != 0 && y != 0) s.windowExt = {x, y};
      return true;
    case EMR_SETVIEWPORTEXTEX:
      if (hasPair && x != 0 && y != 0) s.viewportExt = {x, y};
      return true;
    case EMR_SETWINDOWORGEX:
      if (hasPair) s.windowOrg = {x, y};
      return true;
    case EMR_SETVIEWPORTORGEX:
      if (hasPair) s.viewportOrg = {x, y};
      return true;
    case EMR_SCALEWINDOWEXTEX:
      ScaleExtent(s.windowExt, r);
      return true;
    case EMR_SCALEVIEWPORTEXTEX:
      ScaleExtent(s.viewportExt, r);
      return true;
    case EMR_SETMAPMODE:
      if (value >= MM_TEXT && value <= MM_ANISOTROPIC) s.mapMode = static_cast<int>(value);
      return true;
    case EMR_SETBKMODE:
      if (value == TRANSPARENT || value == OPAQUE) s.bkMode = static_cast<int>(value);
      return true;
    case EMR_SETPOLYFILLMODE:
      if (value == ALTERNATE || value == WINDING) s.polyFillMode = static_cast<int>(value);
      return true;
    case EMR_SETROP2:
      if (value >= R2_BLACK && value <= R2_WHITE) s.rop2 = static_cast<int>(value);
      return true;
    case EMR_SETTEXTALIGN:
      if (hasValue) s.textAlign = value;
      return true;
    case EMR_SETTEXTCOLOR:
      if (hasValue) s.textColor = value & 0xFFFFFF;
      return true;
    case EMR_SETBKCOLOR:
      if (hasValue) s.bkColor = value & 0xFFFFFF;
      return true;
    case EMR_SETARCDIRECTION:
      if (value == AD_COUNTERCLOCKWISE || value == AD_CLOCKWISE)
        s.arcDirection = static_cast<int>(value);
      return true;
    case EMR_SETMITERLIMIT:
      if (value >= 1 && value <= 1000) s.miterLimit = value;
      return true;
    case EMR_MOVETOEX:
      if (hasPair) MoveTo(dc_, {double(x), double(y)});
      return true;
    case EMR_SAVEDC:
      if (dc_.saved.size() < kMaxSavedStates) dc_.saved.push_back(s);
      return true;
    case EMR_RESTOREDC: {
      const int64_t depth = static_cast<int64_t>(dc_.saved.size());
      const int64_t which = static_cast<int32_t>(value);
      const int64_t level = which < 0 ? depth + which + 1 : which;
      if (hasValue && level >= 1 && level <= depth) {
        s = dc_.saved[level - 1];
        dc_.saved.resize(level - 1);
        dc_.ClipChanged();
      }
      return true;
    }
    case EMR_SETWORLDTRANSFORM:
      Transform(r, false);
      return true;
    case EMR_MODIFYWORLDTRANSFORM:
      Transform(r, true);
      return true;
    case EMR_SETBRUSHORGEX:
    case EMR_SETMAPPERFLAGS:
    case EMR_SETSTRETCHBLTMODE:
    case EMR_SETICMMODE:
    case EMR_SETLAYOUT:
    case EMR_GDICOMMENT:
    case EMR_HEADER:
    case EMR_SETCOLORADJUSTMENT:
      return true;  // nothing to draw
    default:
      return false;
  }
}

// ---- objects ----

void EmfPlayer::CreateObject(uint32_t index, std::shared_ptr<GdiObject> object) {
  if (index == 0 || index > kMaxObjectIndex || object == nullptr) return;
  if (index >= objects_.size()) objects_.resize(index + 1);
  objects_[index] = std::move(object);
}

std::shared_ptr<GdiObject> EmfPlayer::StoredObject(uint32_t index) const {
  if (index & kStockFlag) return StockObject(static_cast<int>(index & ~kStockFlag));
  return index < objects_.size() ? objects_[index] : nullptr;
}

void EmfPlayer::SelectStoredObject(uint32_t index) {
  std::shared_ptr<GdiObject> object = StoredObject(index);
  if (object == nullptr) return;
  switch (object->kind) {
    case ObjectKind::kPen:
      dc_.state.pen = std::static_pointer_cast<Pen>(object);
      break;
    case ObjectKind::kBrush:
      dc_.state.brush = std::static_pointer_cast<Brush>(object);
      break;
    case ObjectKind::kFont:
      dc_.state.font = std::static_pointer_cast<Font>(object);
      break;
    default:
      break;
  }
}

void EmfPlayer::CreatePenRecord(ByteView& r, bool extended) {
  const uint32_t index = r.U32(8);
  if (!extended) {
    const uint32_t style = r.U32(12), width = r.U32(16), color = r.U32(24);
    if (r.Ok()) CreateObject(index, MakePen(style, static_cast<int32_t>(width), color));
    return;
  }
  const uint32_t style = r.U32(28), width = r.U32(32), brushStyle = r.U32(36), color = r.U32(40);
  const uint32_t entries = r.U32(48);
  if (!r.Ok()) return;
  auto pen = MakePen(style, static_cast<int32_t>(width), brushStyle == BS_NULL ? 0 : color);
  if (brushStyle == BS_NULL) pen->style = (style & ~PS_STYLE_MASK) | PS_NULL;
  if ((style & PS_STYLE_MASK) == PS_USERSTYLE && r.HasArray(52, entries, 4) && entries <= 16) {
    for (uint32_t i = 0; i < entries; ++i) pen->userDashes.push_back(r.U32(52 + 4 * i));
  }
  CreateObject(index, std::move(pen));
}

void EmfPlayer::CreatePatternBrush(ByteView& r, bool monochrome) {
  const uint32_t index = r.U32(8), usage = r.U32(12);
  const uint32_t infoOffset = r.U32(16), infoSize = r.U32(20), bitsOffset = r.U32(24),
                 bitsSize = r.U32(28);
  const uint8_t* info = r.Bytes(infoOffset, infoSize);
  const uint8_t* bits = r.Bytes(bitsOffset, bitsSize);
  auto brush = MakeBrush({BS_SOLID, 0, 0});
  if (r.Ok()) {
    if (std::optional<Dib> dib = Dib::Parse(info, infoSize, bits, bitsSize, usage)) {
      if (std::optional<Image> image = dib->ToImage()) {
        brush->style = monochrome ? BS_PATTERN : BS_DIBPATTERNPT;
        brush->monoMask = monochrome;
        brush->pattern = std::make_shared<Image>(std::move(*image));
      }
    }
  }
  CreateObject(index, std::move(brush));  // an unreadable pattern still takes its slot
}

void EmfPlayer::CreateFontRecord(ByteView& r) {
  const uint32_t index = r.U32(8);
  if (!r.Has(12, kLogFontWSize)) return;
  LOGFONTA font{};
  font.lfHeight = r.I32(12);
  font.lfWidth = r.I32(16);
  font.lfEscapement = r.I32(20);
  font.lfOrientation = r.I32(24);
  font.lfWeight = r.I32(28);
  font.lfItalic = r.U8(32), font.lfUnderline = r.U8(33), font.lfStrikeOut = r.U8(34);
  font.lfCharSet = r.U8(35), font.lfOutPrecision = r.U8(36), font.lfClipPrecision = r.U8(37);
  font.lfQuality = r.U8(38), font.lfPitchAndFamily = r.U8(39);
  std::u16string face;
  for (int i = 0; i < LF_FACESIZE; ++i) {
    const char16_t c = r.U16(40 + 2 * i);
    if (c == 0) break;
    face.push_back(c);
  }
  std::string utf8 = Utf16ToUtf8(face).value_or("");
  if (utf8.size() >= LF_FACESIZE) utf8.resize(LF_FACESIZE - 1);
  std::memcpy(font.lfFaceName, utf8.c_str(), utf8.size() + 1);
  CreateObject(index, MakeFont(font));
}

bool EmfPlayer::PlayObjectRecord(uint32_t type, ByteView& r) {
  switch (type) {
    case EMR_CREATEPEN:
      CreatePenRecord(r, false);
      return true;
    case EMR_EXTCREATEPEN:
      CreatePenRecord(r, true);
      return true;
    case EMR_CREATEBRUSHINDIRECT: {
      const uint32_t index = r.U32(8), style = r.U32(12), color = r.U32(16), hatch = r.U32(20);
      if (r.Ok()) {
        const bool known = style == BS_SOLID || style == BS_NULL || style == BS_HATCHED;
        CreateObject(index, MakeBrush({known ? style : BS_SOLID, color, hatch}));
      }
      return true;
    }
    case EMR_CREATEDIBPATTERNBRUSHPT:
      CreatePatternBrush(r, false);
      return true;
    case EMR_CREATEMONOBRUSH:
      CreatePatternBrush(r, true);
      return true;
    case EMR_EXTCREATEFONTINDIRECTW:
      CreateFontRecord(r);
      return true;
    case EMR_CREATEPALETTE:
      if (r.Ok()) CreateObject(r.U32(8), std::make_shared<Palette>());
      return true;
    case EMR_SELECTOBJECT:
      if (r.Has(8, 4)) SelectStoredObject(r.U32(8));
      return true;
    case EMR_DELETEOBJECT: {
      const uint32_t index = r.U32(8);
      if (r.Ok() && index < objects_.size()) objects_[index] = nullptr;
      return true;
    }
    case EMR_SELECTPALETTE:
    case EMR_REALIZEPALETTE:
    case EMR_SETPALETTEENTRIES:
    case EMR_RESIZEPALETTE:
      return true;  // colours are never looked up in a palette here
    default:
      return false;
  }
}

}  // namespace gdi

using namespace gdi;

BOOL PlayEnhMetaFile(HDC handle, HENHMETAFILE metafile, const RECT* rect) {
  DeviceContext* dc = LookupDc(handle);
  auto emf = LookupObjectAs<EnhMetaFile>(metafile, ObjectKind::kEnhMetaFile);
  if (dc == nullptr || emf == nullptr || rect == nullptr ||
      dc->kind != DeviceContext::Kind::kMemory) {
    return FALSE;
  }
  dc->SetAllowance(PlaybackAllowance(*dc));
  const MetafileTextBounds textBounds;
  EmfPlayer player(*dc, emf->bytes.data(), emf->bytes.size());
  const bool complete = player.Play(*rect);
  dc->SetAllowance(-1);
  return complete;
}
