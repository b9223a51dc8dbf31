// What the system takes from a file's EXIF, read through libexif: the orientation
// and the resolution. Damaged or missing EXIF is never an error: it just gives nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "vellum/codecs/codec_types.h"

namespace vellum {

// An EXIF payload is the EXIF TIFF structure, found at its start, behind "Exif\0\0"
// (a JPEG APP1 segment) or behind a 4-byte big-endian offset to it (a HEIF Exif item).

// The Orientation of the primary image (1 to 8), or 0 when the payload records none
// or cannot be read.
int32_t ExifOrientation(const std::vector<uint8_t>& payload);

// XResolution and YResolution of the primary image (truncated to whole numbers) with
// ResolutionUnit in TIFF's codes (1 none, 2 inch, 3 centimetre; 2 when absent). False
// when the payload records no usable resolution.
bool ExifResolution(const std::vector<uint8_t>& payload, ResolutionRecord* resolution);

}  // namespace vellum
