// Reads the input as a PCX file; an image it yields is written back as a 24-bit
// PCX, which must read back to the same pixels.
#include "fuzz/reread.h"
#include "vellum/codecs/pcx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The writer stores bytes per line, the width made even, in 16 bits.
  fuzz_support::ReadWriteRead(data, size, vellum::ReadPCX, vellum::WritePCX,
                              [](int32_t width) { return width <= 0xFFFE; });
  return 0;
}
