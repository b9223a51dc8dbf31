// Plays an enhanced metafile's records onto a device context, one short handler
// per family of records: state and mapping, objects, shapes and paths, clipping,
// bitmaps and text. Records it does not know, and records that do not hold what
// their type needs, are skipped; a record size that runs past the end stops the
// playback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi/device.h"
#include "platform/gdi/drawing.h"
#include "platform/gdi/metafile_records.h"

namespace gdi {

class EmfPlayer {
 public:
  // `bytes` starts with a validated header record.
  EmfPlayer(DeviceContext& dc, const uint8_t* bytes, size_t size)
      : dc_(dc), bytes_(bytes), size_(size) {}
  // Plays into a logical rectangle of the context. False when the records were
  // cut short or the work allowance ran out.
  bool Play(const RECT& destination);

  // Applies one record (not the header). Exposed for the metafile converter,
  // which replays the mapping records on a scratch context.
  void PlayRecord(uint32_t type, ByteView& record);

 private:
  bool PlayStateRecord(uint32_t type, ByteView& r);
  bool PlayObjectRecord(uint32_t type, ByteView& r);
  bool PlayShapeRecord(uint32_t type, ByteView& r);
  bool PlayPolyRecord(uint32_t type, ByteView& r);
  bool PlayPathRecord(uint32_t type, ByteView& r);
  bool PlayClipRecord(uint32_t type, ByteView& r);
  bool PlayBitmapRecord(uint32_t type, ByteView& r);
  bool PlayTextRecord(uint32_t type, ByteView& r);

  void ScaleExtent(SIZE& extent, ByteView& r);
  void Transform(ByteView& r, bool modify);
  void CreateObject(uint32_t index, std::shared_ptr<GdiObject> object);
  void SelectStoredObject(uint32_t index);
  std::shared_ptr<GdiObject> StoredObject(uint32_t index) const;
  void CreatePenRecord(ByteView& r, bool extended);
  void CreatePatternBrush(ByteView& r, bool monochrome);
  void CreateFontRecord(ByteView& r);

  void PolyRecord(uint32_t type, ByteView& r, bool shortPoints);
  void PolyPolyRecord(uint32_t type, ByteView& r, bool shortPoints);
  void PolyDrawRecord(ByteView& r, bool shortPoints);
  void GradientFill(ByteView& r);
  std::vector<RECT> RegionRects(ByteView& r, size_t offset, uint32_t size);
  void SelectClipRegion(ByteView& r);

  void BlitRecord(ByteView& r, bool stretch);
  void StretchDIBitsRecord(ByteView& r);
  void SetDIBitsToDeviceRecord(ByteView& r);
  void AlphaBlendRecord(ByteView& r, bool transparent);
  void TextRecord(ByteView& r, bool wide);

  PointD Point(ByteView& r, size_t offset, bool shortPoints);
  RECT DeviceRect(const RECT& metafileDevice) const;

  DeviceContext& dc_;
  const uint8_t* bytes_;
  size_t size_;
  std::vector<std::shared_ptr<GdiObject>> objects_;
};

// The work a playback may do: pixels touched and points processed, a generous
// multiple of the destination's size with a floor for small destinations.
int64_t PlaybackAllowance(const DeviceContext& dc);

}  // namespace gdi
