// Drives a memory source and a memory destination with operations decoded from
// the input: every read, write and seek must stay inside the caller's block.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vellum/core/data_handle.h"

using namespace vellum;

namespace {

void Exercise(DataHandle* handle, FuzzedDataProvider& input, uint32_t capacity) {
  std::vector<uint8_t> scratch(512);
  for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
    const uint8_t op = input.ConsumeIntegral<uint8_t>();
    const size_t count = input.ConsumeIntegral<uint8_t>() * 2u;
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
        Seek(handle, input.ConsumeIntegral<int32_t>() % static_cast<int32_t>(capacity * 2 + 1),
             op % 4);
        break;
      case 4: {
        const int32_t offset = input.ConsumeIntegral<int32_t>();
        SeekHandle(handle, offset, input.ConsumeIntegral<uint8_t>() % 4);
        break;
      }
    }
    if (Tell(handle) > capacity || DataSize(handle) > capacity) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const uint32_t capacity = 1 + input.ConsumeIntegral<uint8_t>() % 200;
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
