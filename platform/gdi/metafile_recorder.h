// The recording side of a device context made by CreateEnhMetaFileA: the calls
// it supports become enhanced-metafile records.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gdi/gdi_types.h"
#include "platform/gdi/metafile_records.h"

namespace gdi {

class DeviceContext;

class Recorder {
 public:
  Recorder(const RECT& frame, const SIZE& devicePixels, const SIZE& deviceMillimeters)
      : writer_(frame, devicePixels, deviceMillimeters) {}

  void SetMapMode(int mode) { writer_.Record(EMR_SETMAPMODE, {static_cast<uint32_t>(mode)}); }
  void SetWindowExtEx(int x, int y) { Pair(EMR_SETWINDOWEXTEX, x, y); }
  void SetWindowOrgEx(int x, int y) { Pair(EMR_SETWINDOWORGEX, x, y); }
  void SetViewportExtEx(int x, int y) { Pair(EMR_SETVIEWPORTEXTEX, x, y); }
  void SetViewportOrgEx(int x, int y) { Pair(EMR_SETVIEWPORTORGEX, x, y); }
  void SaveDC() { writer_.Record(EMR_SAVEDC, {}); }
  void RestoreDC(int which) { writer_.Record(EMR_RESTOREDC, {static_cast<uint32_t>(which)}); }

  // Both record the bitmap with its header and colour table; false for a bitmap
  // they cannot describe.
  bool StretchDIBits(const DeviceContext& dc, int xDest, int yDest, int destWidth, int destHeight,
                     int xSrc, int ySrc, int srcWidth, int srcHeight, const void* bits,
                     const BITMAPINFO* info, UINT usage, DWORD rop);
  bool SetDIBitsToDevice(const DeviceContext& dc, int xDest, int yDest, DWORD width, DWORD height,
                         int xSrc, int ySrc, UINT startScan, UINT scanLines, const void* bits,
                         const BITMAPINFO* info, UINT usage);

  std::vector<uint8_t> Finish() { return writer_.Finish(); }

 private:
  void Pair(uint32_t type, int x, int y) {
    writer_.Record(type, {static_cast<uint32_t>(x), static_cast<uint32_t>(y)});
  }
  // The device rectangle a logical box covers, included in the header's bounds.
  RECT DeviceBounds(const DeviceContext& dc, int x, int y, int width, int height);
  EmfWriter writer_;
};

}  // namespace gdi
