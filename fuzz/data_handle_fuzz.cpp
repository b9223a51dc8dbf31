// Drives a memory source and a memory destination with operations decoded from
// the input: every read, write and seek must stay inside the caller's block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vellum/core/data_handle.h"

using namespace vellum;

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool More() const { return at < size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  int32_t Int() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return static_cast<int32_t>(value);
  }
};

void Exercise(DataHandle* handle, Reader& input, uint32_t capacity) {
  std::vector<uint8_t> scratch(512);
  for (int step = 0; step < 64 && input.More(); ++step) {
    const uint8_t op = input.Byte();
    const size_t count = input.Byte() * 2u;
    switch (op % 5) {
      case 0: ReadBytes(handle, scratch.data(), count); break;
      case 1: ReadExactly(handle, scratch.data(), count); break;
      case 2: WriteBytes(handle, scratch.data(), count); break;
      case 3: Seek(handle, input.Int() % static_cast<int32_t>(capacity * 2 + 1), op % 4); break;
      case 4: SeekHandle(handle, input.Int(), input.Byte() % 4); break;
    }
    if (Tell(handle) > capacity || DataSize(handle) > capacity) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader input{data, size};
  const uint32_t capacity = 1 + input.Byte() % 200;
  // Exact-size heap blocks, so that any access past the end is caught.
  std::vector<uint8_t> sourceBlock(capacity, 0xAB);
  std::vector<uint8_t> destinationBlock(capacity);

  HISSRC source = OpenMemorySource(sourceBlock.data(), capacity);
  Exercise(source, input, capacity);
  CloseSource(source);

  HISDEST destination = OpenMemoryDestination(destinationBlock.data(), capacity);
  Exercise(destination, input, capacity);
  CloseDestination(destination);
  return 0;
}
