// Row conversions on arbitrary rows, depths and channel masks.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vellum/core/conversions.h"

using namespace vellum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 16) return 0;
  static const int kDepths[] = {1, 4, 8, 16, 24, 32};
  const int bits = kDepths[data[0] % 6];
  const bool useMasks = data[1] & 1;
  uint32_t masks[3];
  std::memcpy(masks, data + 2, sizeof masks);
  const uint8_t packBits = static_cast<uint8_t>(data[14] % 10);
  data += 15;
  size -= 15;

  Palette palette{};
  for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{uint8_t(i), uint8_t(i * 3), uint8_t(i * 7), 0};
  RowFormat format{.bitsPerPixel = bits,
                   .palette = &palette,
                   .masks16 = useMasks ? masks : nullptr,
                   .addFourthByte = (data[0] & 1) != 0,
                   .fourthByte = 0x42};
  const size_t count = size * 8 / bits;
  std::vector<uint8_t> row(data, data + size);
  std::vector<uint8_t> rgb(count * 4);
  ExpandRowToRgb(row.data(), count, format, rgb.data());

  std::vector<uint8_t> indices(size * 8);
  UnpackRowIndices(row.data(), size * 8 / (bits <= 8 ? bits : 8), bits, indices.data());

  // Pack and unpack must round-trip the low bits of every byte.
  OpContext ctx;
  const uint32_t width = static_cast<uint32_t>(size);
  std::vector<uint8_t> packed(size + 1);
  if (PackIndices(ctx, row.data(), width, 1, packBits, packed.data(), 0)) {
    std::vector<uint8_t> back(size);
    UnpackBitIndices(ctx, packed.data(), width, 1, packBits, back.data());
    for (size_t i = 0; i < size; ++i) {
      if (back[i] != (row[i] & ((1u << packBits) - 1))) __builtin_trap();
    }
  }
  return 0;
}
