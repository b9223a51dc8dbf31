// Reads the input as a PCX file; an image it yields is written back as a 24-bit
// PCX, which must read back to the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "vellum/codecs/pcx.h"

using namespace vellum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HISSRC source = OpenMemorySource(data, static_cast<uint32_t>(size));
  if (source == nullptr) return 0;
  int32_t width = 0, height = 0;
  HGLOBAL image = ReadPCX(source, &width, &height, 24);
  CloseSource(source);
  if (image == nullptr) return 0;
  const size_t bytes = size_t(width) * size_t(height) * 3;
  if (GlobalSize(image) != bytes) __builtin_trap();

  std::vector<uint8_t> file(bytes * 2 + 4096);
  HISDEST destination = OpenMemoryDestination(file.data(), static_cast<uint32_t>(file.size()));
  const uint32_t written =
      WritePCX(destination, static_cast<const uint8_t*>(image), width, height, 24, nullptr);
  CloseDestination(destination);
  if (written == 0 && width <= 0xFFFE) __builtin_trap();
  if (written != 0) {
    source = OpenMemorySource(file.data(), written);
    int32_t w = 0, h = 0;
    HGLOBAL again = ReadPCX(source, &w, &h, 24);
    CloseSource(source);
    if (again == nullptr || w != width || h != height || std::memcmp(again, image, bytes) != 0) {
      __builtin_trap();
    }
    GlobalFree(again);
  }
  GlobalFree(image);
  return 0;
}
