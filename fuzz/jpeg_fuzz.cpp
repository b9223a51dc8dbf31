// Feeds arbitrary bytes to ReadJPEGInfo and ReadJPEG over a memory source: no
// crash, no leak, and a decoded buffer always has the size reported.
#include <cstddef>
#include <cstdint>

#include "fuzz/codec_fuzz.h"
#include "vellum/codecs/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  return fuzz_support::ReadInfoThenImage(
      data, size,
      [](HISSRC source, int32_t* width, int32_t* height) {
        int32_t bits = 0;
        ResolutionRecord resolution;
        return ReadJPEGInfo(source, width, height, &bits, &resolution) != FALSE;
      },
      [](HISSRC source, int32_t* width, int32_t* height) {
        return ReadJPEG(source, width, height, 24);
      });
}
