#include "vellum/pixelops/dithering.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace vellum {

namespace {

constexpr int kErrorLimit = 20;
constexpr size_t kColorCells = 32768;  // 5-5-5 cells

// Squares of channel differences for the nearest-entry search: d in -255..255 -> d * d,
// as square[d + 255].
struct SquareTable {
  std::array<uint32_t, 511> square;

  SquareTable() {
    for (int d = -255; d <= 255; ++d) square[d + 255] = static_cast<uint32_t>(d * d);
  }
};

// The first entry with the smallest squared distance.
uint8_t NearestEntry(const PalettePlanes& palette, const SquareTable& squares, int red, int green,
                     int blue) {
  uint32_t best = 16581376;
  uint8_t bestIndex = 0;
  for (uint32_t i = 0; i < palette.count; ++i) {
    const uint32_t distance = squares.square[palette.red[i] - red + 255] +
                              squares.square[palette.green[i] - green + 255] +
                              squares.square[palette.blue[i] - blue + 255];
    if (distance < best) {
      best = distance;
      bestIndex = static_cast<uint8_t>(i);
      if (distance == 0) break;  // nothing can be nearer
    }
  }
  return bestIndex;
}

// Spreads one channel's error d (limited to -20..20) over the row below, which
// is stored in reverse order: the cell behind lies at +3, the one ahead at -3.
// The 7/16 share for the next pixel of this row is carried by the caller.
inline void SpreadBelow(int16_t* below, int d) {
  below[3] = static_cast<int16_t>(below[3] + 3 * d);
  below[0] = static_cast<int16_t>(below[0] + 5 * d);
  below[-3] = static_cast<int16_t>(d);  // the first contribution to that cell
}

// A channel with its share of diffused error, kept to 0..255. The clamps are
// computed rather than looked up: each pixel's error feeds the next pixel, so
// they lie on the loop's critical path, where a table load costs more.
inline int WithError(uint8_t channel, int error) {
  return std::clamp(int{channel} + ((error + 8) >> 4), 0, 255);
}

inline int LimitedError(int difference) {
  return std::clamp(difference, -kErrorLimit, kErrorLimit);
}

// A cell's entry with the entry's colour beside it, index | red << 8 | green << 16 |
// blue << 24: the error, on the loop's critical path, then needs one load, not two.
inline uint32_t PackedEntry(const PalettePlanes& palette, uint8_t index) {
  return uint32_t{index} | uint32_t{palette.red[index]} << 8 |
         uint32_t{palette.green[index]} << 16 | uint32_t{palette.blue[index]} << 24;
}

}  // namespace

void DitherToPalette(const uint8_t* rgb, uint32_t width, uint32_t height,
                     const PalettePlanes& palette, uint8_t* indices) {
  if (width == 0 || height == 0) return;
  const auto squares = std::make_unique<SquareTable>();
  // Each 5-5-5 cell's packed entry, once it is known.
  std::vector<uint32_t> cellEntry(kColorCells, 0);
  std::vector<uint8_t> cellKnown(kColorCells, 0);
  // Three values per pixel plus a spare pixel at each end; `current` holds this
  // row's errors in the order of travel, `below` the next row's in its order.
  const size_t rowValues = 3 * (size_t{width} + 2);
  std::vector<int16_t> firstRow(rowValues, 0);
  std::vector<int16_t> secondRow(rowValues, 0);
  int16_t* current = firstRow.data();
  int16_t* below = secondRow.data();

  for (uint32_t y = 0; y < height; ++y) {
    const bool leftToRight = y % 2 == 0;
    const uint8_t* rowIn = rgb + size_t{y} * width * 3;
    uint8_t* rowOut = indices + size_t{y} * width;
    // The first pixel's below cell is added to before anything is stored there;
    // the spare behind it only collects error that leaves the image.
    std::fill_n(below + 3 * size_t{width}, 6, int16_t{0});
    // 7/16 of the previous pixel's error, per channel, kept out of memory.
    int carried[3] = {0, 0, 0};
    for (uint32_t k = 0; k < width; ++k) {
      const uint32_t x = leftToRight ? k : width - 1 - k;
      const uint8_t* pixel = rowIn + 3 * size_t{x};
      const int16_t* above = current + 3 * (size_t{k} + 1);
      const int red = WithError(pixel[0], above[0] + carried[0]);
      const int green = WithError(pixel[1], above[1] + carried[1]);
      const int blue = WithError(pixel[2], above[2] + carried[2]);

      const size_t cell = size_t(red >> 3) << 10 | size_t(green >> 3) << 5 | size_t(blue >> 3);
      if (cellKnown[cell] == 0) {
        cellEntry[cell] = PackedEntry(palette, NearestEntry(palette, *squares, red, green, blue));
        cellKnown[cell] = 1;
      }
      const uint32_t entry = cellEntry[cell];
      rowOut[x] = static_cast<uint8_t>(entry);

      const int errors[3] = {LimitedError(red - int(entry >> 8 & 255)),
                             LimitedError(green - int(entry >> 16 & 255)),
                             LimitedError(blue - int(entry >> 24))};
      int16_t* under = below + 3 * (size_t{width} - k);
      for (int c = 0; c < 3; ++c) {
        carried[c] = 7 * errors[c];
        SpreadBelow(under + c, errors[c]);
      }
    }
    std::swap(current, below);
  }
}

bool MapPaletteDithered(OpContext& ctx, const uint8_t* rgb, uint32_t width, uint32_t height,
                        uint8_t* indices, const RGBQUAD* palette, uint32_t paletteCount) {
  if (rgb == nullptr || indices == nullptr || palette == nullptr || paletteCount == 0 ||
      paletteCount > 256) {
    return ctx.Fail(kErrInvalidArgument);
  }
  PalettePlanes planes;
  planes.count = paletteCount;
  for (uint32_t i = 0; i < paletteCount; ++i) {
    planes.red[i] = palette[i].rgbRed;
    planes.green[i] = palette[i].rgbGreen;
    planes.blue[i] = palette[i].rgbBlue;
  }
  DitherToPalette(rgb, width, height, planes, indices);
  return true;
}

BOOL MapPaletteDithered(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                        const RGBQUAD* palette, uint32_t paletteCount) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    return MapPaletteDithered(ctx, rgb, width, height, indices, palette, paletteCount);
  });
}

}  // namespace vellum
