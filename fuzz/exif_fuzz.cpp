// Feeds arbitrary bytes to the EXIF queries as a payload, and as a JPEG and a PNG file
// whose EXIF is collected and queried: no crash, no leak, no orientation outside 0..8.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vellum/codecs/exif.h"
#include "vellum/codecs/jpeg.h"
#include "vellum/codecs/png.h"

namespace {

void Query(const std::vector<uint8_t>& payload) {
  const int32_t orientation = vellum::ExifOrientation(payload);
  if (orientation < 0 || orientation > 8) __builtin_trap();
  vellum::ResolutionRecord resolution;
  vellum::ExifResolution(payload, &resolution);
}

// Collects a file's EXIF with `read` over a memory source and queries it.
template <typename Read>
void QueryFile(const uint8_t* data, size_t size, Read read) {
  vellum::HISSRC source = vellum::OpenMemorySource(data, static_cast<uint32_t>(size));
  std::vector<uint8_t> exif;
  if (read(source, &exif) != FALSE) Query(exif);
  vellum::CloseSource(source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Query(std::vector<uint8_t>(data, data + size));
  QueryFile(data, size, vellum::ReadJPEGExif);
  QueryFile(data, size, vellum::ReadPNGExif);
  return 0;
}
