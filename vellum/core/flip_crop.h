// Mirroring and cropping of image buffers in place or into a caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel/win_types.h"

namespace vellum {

// Exchanges rows i and rows - 1 - i (top and bottom). No rows succeed at once;
// code 5 for a null buffer.
BOOL FlipVertical(uint8_t* buffer, size_t rowBytes, uint32_t rows);

// Exchanges pixels j and width - 1 - j of every row (left and right). No rows
// succeed at once; code 5 for a null buffer or 0 bytes per pixel.
BOOL FlipHorizontal(uint8_t* buffer, uint32_t width, uint32_t height, uint32_t bytesPerPixel);

// Copies the cropWidth x cropHeight RGB pixels at (left, top) into `destination`,
// which holds cropWidth x cropHeight x 3 bytes. Code 5 unless both buffers exist
// and differ and the rectangle starts inside the image and ends within it.
BOOL Crop(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* destination,
          uint32_t left, uint32_t top, uint32_t cropWidth, uint32_t cropHeight);

}  // namespace vellum
