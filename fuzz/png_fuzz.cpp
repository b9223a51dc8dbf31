// Feeds arbitrary bytes to ReadPNGInfo and ReadPNG over a memory source: no crash,
// no leak, and a decoded buffer always has the size reported.
#include <cstddef>
#include <cstdint>

#include "fuzz/codec_fuzz.h"
#include "vellum/codecs/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  return fuzz_support::ReadInfoThenImage(
      data, size,
      [](HISSRC source, int32_t* width, int32_t* height) {
        int32_t colorType = 0;
        int32_t bitDepth = 0;
        int32_t interlace = 0;
        int32_t paletteCount = 0;
        RGBQUAD palette[256];
        ResolutionRecord resolution;
        return ReadPNGInfo(source, &colorType, width, height, &bitDepth, &interlace, &paletteCount,
                           palette, &resolution) != FALSE;
      },
      [](HISSRC source, int32_t* width, int32_t* height) {
        return ReadPNG(source, width, height, 24);
      });
}
