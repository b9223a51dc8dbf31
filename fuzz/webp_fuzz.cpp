// Feeds arbitrary bytes to ReadWEBPInfo (and the EXIF it finds to the orientation and
// resolution queries), then to ReadWEBP: no crash, no leak, and a decoded buffer always
// has the size reported.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/codec_fuzz.h"
#include "vellum/codecs/exif.h"
#include "vellum/codecs/webp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  return fuzz_support::ReadInfoThenImage(
      data, size,
      [](HISSRC source, int32_t* width, int32_t* height) {
        std::vector<uint8_t> exif;
        if (ReadWEBPInfo(source, width, height, &exif) == FALSE) return false;
        ResolutionRecord resolution;
        ExifOrientation(exif);
        ExifResolution(exif, &resolution);
        return true;
      },
      [](HISSRC source, int32_t* width, int32_t* height) {
        return ReadWEBP(source, width, height);
      });
}
