// Reads the input as a layered-image file; an image it yields is written back as
// an RGB file, which must read back to the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "vellum/codecs/psd.h"

using namespace vellum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HISSRC source = OpenMemorySource(data, static_cast<uint32_t>(size));
  if (source == nullptr) return 0;
  int32_t width = 0, height = 0;
  HGLOBAL image = ReadPSD(source, &width, &height, 24);
  CloseSource(source);
  if (image == nullptr) return 0;
  const size_t bytes = size_t(width) * size_t(height) * 3;
  if (GlobalSize(image) != bytes) __builtin_trap();

  std::vector<uint8_t> file(bytes + 4096);
  HISDEST destination = OpenMemoryDestination(file.data(), static_cast<uint32_t>(file.size()));
  const uint32_t written =
      WritePSD(destination, static_cast<const uint8_t*>(image), width, height, 24, nullptr);
  CloseDestination(destination);
  source = OpenMemorySource(file.data(), written);
  int32_t w = 0, h = 0;
  HGLOBAL again = written ? ReadPSD(source, &w, &h, 24) : nullptr;
  CloseSource(source);
  if (again == nullptr || w != width || h != height || std::memcmp(again, image, bytes) != 0) {
    __builtin_trap();
  }
  GlobalFree(again);
  GlobalFree(image);
  return 0;
}
