// AVIF through libavif: decoding the primary image to the RGB buffer, the orientation
// and EXIF a file records, and encoding lossy or lossless files.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/kernel/win_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// Decodes the whole source (read from its start) into a new RGB buffer, 8 bits per
// sample whatever the file's depth; alpha is composited as the PNG reader composites
// it. The container's rotation and mirroring are not applied (ReadAVIFInfo reports
// them). Code 3 when the source cannot be read, 56 for data libavif refuses, 54 above the
// limit on decoded pixels, 1 when the image would pass the image buffer limit.
HGLOBAL ReadAVIF(HISSRC source, int32_t* width, int32_t* height);

// What the container says about the primary image without decoding it.
struct AvifInfo {
  int32_t width = 0;
  int32_t height = 0;
  // Anti-clockwise quarter turns (irot), then the mirroring (imir), that show the
  // image upright, in that order.
  int32_t quarterTurns = 0;
  enum class Mirror { kNone, kLeftRight, kTopBottom } mirror = Mirror::kNone;
  std::vector<uint8_t> exif;  // the Exif item as the file stores it, empty when absent
};

// FALSE (code 56) when the source is not an AVIF file.
BOOL ReadAVIFInfo(HISSRC source, AvifInfo* info);

// Encodes width x height RGB pixels: 4:2:0 at `quality` (clamped to 0..100), lossless
// (4:4:4, identity matrix) from quality 100 on. Returns the destination's size, or 0.
uint32_t WriteAVIF(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height,
                   int32_t quality);

}  // namespace vellum
