// Aliased drawing in place on image buffers: every pixel either takes the colour
// or keeps its value. Colours are 0x00BBGGRR; a pixel of n bytes receives the
// colour's n low bytes, red first.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"

namespace vellum {

// Fills the rectangle of RGB pixels at (left, top), cut at the image's edges (a
// rectangle starting at or beyond an edge draws nothing). Code 5 for a null image.
BOOL FillRectangle(uint8_t* rgb, uint32_t width, uint32_t height, int32_t left, int32_t top,
                   int32_t rectWidth, int32_t rectHeight, COLORREF color);

// Bresenham line from (x0, y0) to (x1, y1), both ends included; points outside the
// image are skipped. `flags` is reserved (pass 0). Code 5 for a null image or a
// pixel size outside 1..4.
BOOL DrawLine(uint8_t* image, uint32_t width, uint32_t height, uint32_t pixelBytes, COLORREF color,
              int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t flags);

// Largest radius the ellipse routines accept; their 64-bit decision terms grow
// with the cube of the radii.
constexpr int32_t kMaxEllipseRadius = 1 << 19;

// Midpoint ellipse outline around (cx, cy) with radii rx, ry; points outside the
// image are skipped. Code 5 for a null image, a pixel size outside 1..4 or a radius
// beyond kMaxEllipseRadius either way.
BOOL DrawEllipse(uint8_t* image, uint32_t width, uint32_t height, uint32_t pixelBytes,
                 COLORREF color, int32_t cx, int32_t cy, int32_t rx, int32_t ry);

// Solid midpoint ellipse, drawn as one span per row offset. Span ends and rows are
// clamped into the image, so the part outside is painted along the nearest border.
// A vertical radius of 0 or less, or a horizontal radius of 0, draws nothing.
// Failures as DrawEllipse.
BOOL FillEllipse(uint8_t* image, uint32_t width, uint32_t height, uint32_t pixelBytes,
                 COLORREF color, int32_t cx, int32_t cy, int32_t rx, int32_t ry);

}  // namespace vellum
