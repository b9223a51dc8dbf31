// Identifies the input and, when it is a bitmap, decodes it. A decoded image is
// written back as a 24-bit bitmap, which must decode to the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_limits.h"
#include "platform/kernel/global_memory.h"
#include "vellum/codecs/bmp.h"
#include "vellum/codecs/identify.h"

using namespace vellum;

namespace {

HGLOBAL Decode(const uint8_t* data, size_t size, int32_t& width, int32_t& height) {
  HISSRC source = OpenMemorySource(data, static_cast<uint32_t>(size));
  HGLOBAL image = nullptr;
  if (IdentifyFormat(source) == kFormatBmp && Rewind(source)) {
    image = ReadBMP(source, &width, &height, 24);
  }
  CloseSource(source);
  return image;
}

void CheckRoundTrip(const uint8_t* rgb, int32_t width, int32_t height) {
  const size_t pixelBytes = size_t(width) * height * 3;
  std::vector<uint8_t> file(54 + pixelBytes + size_t(height) * 4 + 1);
  HISDEST destination = OpenMemoryDestination(file.data(), static_cast<uint32_t>(file.size()));
  const uint32_t written = WriteBMP(destination, rgb, width, height, 24, 0, nullptr);
  CloseDestination(destination);
  if (written == 0) __builtin_trap();
  int32_t backWidth = 0;
  int32_t backHeight = 0;
  HGLOBAL back = Decode(file.data(), written, backWidth, backHeight);
  if (back == nullptr || backWidth != width || backHeight != height ||
      std::memcmp(back, rgb, pixelBytes) != 0) {
    __builtin_trap();
  }
  GlobalFree(back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > UINT32_MAX) return 0;
  fuzz_support::UseFuzzPixelLimit();
  int32_t width = 0;
  int32_t height = 0;
  HGLOBAL image = Decode(data, size, width, height);
  if (image == nullptr) return 0;
  if (width <= 0 || height <= 0 || GlobalSize(image) != size_t(width) * height * 3) {
    __builtin_trap();
  }
  fuzz_support::CheckWithinLimit(width, height);
  CheckRoundTrip(static_cast<const uint8_t*>(image), width, height);
  GlobalFree(image);
  return 0;
}
