// Feeds arbitrary bytes to ReadTIFFInfo and ReadTIFF over a memory source: no
// crash, no leak, and a decoded buffer always has the size reported. The last
// byte picks the page.
#include <cstddef>
#include <cstdint>

#include "fuzz/codec_fuzz.h"
#include "vellum/codecs/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  const int32_t page = size > 0 ? data[size - 1] % 3 : 0;
  return fuzz_support::ReadInfoThenImage(
      data, size,
      [](HISSRC source, int32_t* width, int32_t* height) {
        int32_t bits = 0;
        ResolutionRecord resolution;
        return ReadTIFFInfo(source, width, height, &bits, &resolution) != FALSE;
      },
      [page](HISSRC source, int32_t* width, int32_t* height) {
        return ReadTIFF(source, width, height, 24, page);
      });
}
