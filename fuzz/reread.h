// What the PCX and 8BPS fuzz targets share: the input is read with a reader; an
// image it yields is written back as 24 bits and must read back to the same
// pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_limits.h"
#include "platform/kernel/global_memory.h"
#include "vellum/core/data_handle.h"

namespace fuzz_support {

using Reader = HGLOBAL (*)(vellum::HISSRC, int32_t*, int32_t*, int32_t);
using Writer = uint32_t (*)(vellum::HISDEST, const uint8_t*, int32_t, int32_t, int32_t,
                            const RGBQUAD*);

// Reads `size` bytes at `data`; the width and height through the out-parameters.
inline HGLOBAL ReadFrom(Reader read, const uint8_t* data, size_t size, int32_t& width,
                        int32_t& height) {
  vellum::HISSRC source = vellum::OpenMemorySource(data, static_cast<uint32_t>(size));
  if (source == nullptr) return nullptr;
  HGLOBAL image = read(source, &width, &height, 24);
  vellum::CloseSource(source);
  return image;
}

// `writable` says whether the writer accepts an image of that width.
inline void ReadWriteRead(const uint8_t* data, size_t size, Reader read, Writer write,
                          bool (*writable)(int32_t width)) {
  UseFuzzPixelLimit();
  int32_t width = 0, height = 0;
  HGLOBAL image = ReadFrom(read, data, size, width, height);
  if (image == nullptr) return;
  const size_t bytes = size_t(width) * size_t(height) * 3;
  if (GlobalSize(image) != bytes) __builtin_trap();
  CheckWithinLimit(width, height);

  // Room for run-length data that doubles every byte of lines padded to even widths.
  std::vector<uint8_t> file(bytes * 4 + 4096);
  vellum::HISDEST destination =
      vellum::OpenMemoryDestination(file.data(), static_cast<uint32_t>(file.size()));
  const uint32_t written =
      write(destination, static_cast<const uint8_t*>(image), width, height, 24, nullptr);
  vellum::CloseDestination(destination);
  if ((written != 0) != writable(width)) __builtin_trap();
  if (written != 0) {
    int32_t w = 0, h = 0;
    HGLOBAL again = ReadFrom(read, file.data(), written, w, h);
    if (again == nullptr || w != width || h != height || std::memcmp(again, image, bytes) != 0) {
      __builtin_trap();
    }
    GlobalFree(again);
  }
  GlobalFree(image);
}

}  // namespace fuzz_support
