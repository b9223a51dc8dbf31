#include "platform/gdi/metafile_recorder.h"

#include <cmath>
#include <memory>

#include "platform/gdi/device.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/gdi.h"

namespace gdi {

// Defined with the device-context table.
HDC RegisterDc(std::unique_ptr<DeviceContext> dc);
std::unique_ptr<DeviceContext> TakeDc(HDC dc);

namespace {

// The header and bits of a call's bitmap, with their sizes.
struct DibBlocks {
  const void* info;
  size_t infoSize;
  const void* bits;
  size_t bitsSize;
};

bool DescribeDib(const BITMAPINFO* info, const void* bits, UINT usage, UINT scanLines,
                 DibBlocks* out) {
  if (info == nullptr || bits == nullptr) return false;
  BITMAPINFOHEADER header = info->bmiHeader;
  if (scanLines != 0) header.biHeight = header.biHeight < 0 ? -LONG(scanLines) : LONG(scanLines);
  const size_t infoSize = DibInfoSize(info->bmiHeader, usage);
  const uint64_t bitsSize = DibBitsSize(header);
  if (infoSize == 0 || bitsSize == 0 || bitsSize > 0x7FFFFFFF - 1024) return false;
  *out = {info, infoSize, bits, static_cast<size_t>(bitsSize)};
  return true;
}

}  // namespace

RECT Recorder::DeviceBounds(const DeviceContext& dc, int x, int y, int width, int height) {
  const Affine m = dc.ToDevice();
  const PointD a = m.Apply({double(x), double(y)});
  const PointD b = m.Apply({double(x) + width, double(y) + height});
  const auto round = [](double v) { return static_cast<LONG>(std::lround(ClampCoordinate(v))); };
  RECT r{round(std::min(a.x, b.x)), round(std::min(a.y, b.y)), round(std::max(a.x, b.x)) - 1,
         round(std::max(a.y, b.y)) - 1};
  writer_.IncludeBounds(r);
  return r;
}

bool Recorder::StretchDIBits(const DeviceContext& dc, int xDest, int yDest, int destWidth,
                             int destHeight, int xSrc, int ySrc, int srcWidth, int srcHeight,
                             const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  DibBlocks dib{};
  if (!DescribeDib(info, bits, usage, 0, &dib)) return false;
  const RECT bounds = DeviceBounds(dc, xDest, yDest, destWidth, destHeight);
  writer_.Begin(EMR_STRETCHDIBITS);
  writer_.Rect(bounds);
  for (int v : {xDest, yDest, xSrc, ySrc, srcWidth, srcHeight}) writer_.I32(v);
  const size_t fields = writer_.ReserveDibFields();
  writer_.U32(usage);
  writer_.U32(rop);
  writer_.I32(destWidth);
  writer_.I32(destHeight);
  writer_.AppendDib(fields, dib.info, dib.infoSize, dib.bits, dib.bitsSize);
  writer_.End();
  return true;
}

bool Recorder::SetDIBitsToDevice(const DeviceContext& dc, int xDest, int yDest, DWORD width,
                                 DWORD height, int xSrc, int ySrc, UINT startScan, UINT scanLines,
                                 const void* bits, const BITMAPINFO* info, UINT usage) {
  DibBlocks dib{};
  if (!DescribeDib(info, bits, usage, scanLines, &dib)) return false;
  const RECT bounds =
      DeviceBounds(dc, xDest, yDest, static_cast<int>(width), static_cast<int>(height));
  writer_.Begin(EMR_SETDIBITSTODEVICE);
  writer_.Rect(bounds);
  for (int v : {xDest, yDest, xSrc, ySrc, static_cast<int>(width), static_cast<int>(height)})
    writer_.I32(v);
  const size_t fields = writer_.ReserveDibFields();
  for (uint32_t v : {usage, startScan, scanLines}) writer_.U32(v);
  writer_.AppendDib(fields, dib.info, dib.infoSize, dib.bits, dib.bitsSize);
  writer_.End();
  return true;
}

// Registers validated enhanced-metafile bytes as a handle (metafile.cpp).
HENHMETAFILE RegisterEnhMetaFile(std::vector<uint8_t> bytes);

}  // namespace gdi

using namespace gdi;

HDC CreateEnhMetaFileA(HDC reference, const char* fileName, const RECT* frame, const char*) {
  if (fileName != nullptr) return nullptr;
  const DeviceContext* ref = reference == nullptr ? LookupDc(GetDC(nullptr)) : LookupDc(reference);
  if (ref == nullptr) return nullptr;
  const DeviceMetrics metrics = ref->metrics;
  RECT pictureFrame{0, 0, 0, 0};
  if (frame != nullptr) pictureFrame = *frame;
  auto dc = std::make_unique<DeviceContext>(DeviceContext::Kind::kRecording);
  dc->metrics = metrics;
  dc->recorder = std::make_unique<Recorder>(pictureFrame, SIZE{metrics.pixelsX, metrics.pixelsY},
                                            SIZE{metrics.millimetersX, metrics.millimetersY});
  return RegisterDc(std::move(dc));
}

HENHMETAFILE CloseEnhMetaFile(HDC handle) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr || dc->kind != DeviceContext::Kind::kRecording) return nullptr;
  std::unique_ptr<DeviceContext> owned = TakeDc(handle);
  return RegisterEnhMetaFile(owned->recorder->Finish());
}
