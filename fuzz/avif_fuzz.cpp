// Feeds arbitrary bytes to ReadAVIFInfo (and the EXIF it finds to the orientation and
// resolution queries), then to ReadAVIF: no crash, no leak, and a decoded buffer always
// has the size reported.
#include <cstddef>
#include <cstdint>

#include "fuzz/codec_fuzz.h"
#include "vellum/codecs/avif.h"
#include "vellum/codecs/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  return fuzz_support::ReadInfoThenImage(
      data, size,
      [](HISSRC source, int32_t* width, int32_t* height) {
        AvifInfo info;
        if (ReadAVIFInfo(source, &info) == FALSE) return false;
        ResolutionRecord resolution;
        ExifOrientation(info.exif);
        ExifResolution(info.exif, &resolution);
        *width = info.width;
        *height = info.height;
        return true;
      },
      [](HISSRC source, int32_t* width, int32_t* height) {
        return ReadAVIF(source, width, height);
      });
}
