// Reads the input as a layered-image file; an image it yields is written back as
// an RGB file, which must read back to the same pixels.
#include "fuzz/reread.h"
#include "vellum/codecs/psd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::ReadWriteRead(data, size, vellum::ReadPSD, vellum::WritePSD,
                              [](int32_t) { return true; });
  return 0;
}
