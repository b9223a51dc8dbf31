// A fuzz input read as a stream of big-endian values; past its end every value is 0.
#pragma once

#include <cstddef>
#include <cstdint>

struct FuzzInput {
  const uint8_t* data;
  size_t size;
  size_t at = 0;

  bool More() const { return at < size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  uint16_t Word() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
  }
  uint32_t Long() {
    const uint32_t high = Word();
    return high << 16 | Word();
  }
  int32_t Int() { return static_cast<int32_t>(Long()); }
};
