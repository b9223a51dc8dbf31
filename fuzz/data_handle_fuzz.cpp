// Drives a memory source and a memory destination with operations decoded from
// the input: every read, write and seek must stay inside the caller's block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "vellum/core/data_handle.h"

using namespace vellum;

namespace {

void Exercise(DataHandle* handle, FuzzInput& input, uint32_t capacity) {
  std::vector<uint8_t> scratch(512);
  for (int step = 0; step < 64 && input.More(); ++step) {
    const uint8_t op = input.Byte();
    const size_t count = input.Byte() * 2u;
    switch (op % 5) {
      case 0:
        ReadBytes(handle, scratch.data(), count);
        break;
      case 1:
        ReadExactly(handle, scratch.data(), count);
        break;
      case 2:
        WriteBytes(handle, scratch.data(), count);
        break;
      case 3:
        Seek(handle, input.Int() % static_cast<int32_t>(capacity * 2 + 1), op % 4);
        break;
      case 4: {
        const int32_t offset = input.Int();
        SeekHandle(handle, offset, input.Byte() % 4);
        break;
      }
    }
    if (Tell(handle) > capacity || DataSize(handle) > capacity) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input{data, size};
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
