// Geometry, resampling, blending, filters and drawing on images of arbitrary
// small sizes, positions and ratios: every read and write must stay inside its
// buffer, which the sanitizers check.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "vellum/core/blend.h"
#include "vellum/core/flip_crop.h"
#include "vellum/core/resample.h"
#include "vellum/core/rotate.h"
#include "vellum/pixelops/drawing.h"
#include "vellum/pixelops/filters.h"

using namespace vellum;

namespace {

// Reads parameters from the front of the input, zero once it runs out.
struct Params {
  const uint8_t* data;
  size_t size;
  uint32_t Next(uint32_t limit) {
    uint32_t value = 0;
    if (size > 0) {
      value = data[0] | (size > 1 ? data[1] << 8 : 0);
      const size_t used = size > 1 ? 2 : 1;
      data += used;
      size -= used;
    }
    return limit == 0 ? value : value % limit;
  }
  int32_t Signed(uint32_t range) {
    return static_cast<int32_t>(Next(2 * range + 1)) - static_cast<int32_t>(range);
  }
};

std::vector<uint8_t> Pixels(const Params& source, size_t bytes) {
  std::vector<uint8_t> pixels(bytes);
  for (size_t i = 0; i < bytes; ++i)
    pixels[i] = source.size > 0 ? source.data[i % source.size] : uint8_t(i);
  return pixels;
}

void Resize(Params& p, const std::vector<uint8_t>& src, uint32_t w, uint32_t h) {
  const uint32_t dw = 1 + p.Next(p.Next(2) ? 8 : 300);
  const uint32_t dh = 1 + p.Next(p.Next(2) ? 8 : 300);
  std::vector<uint8_t> dst(size_t{dw} * dh * 3);
  switch (p.Next(5)) {
    case 0:
      ResizeBilinear(src.data(), w, h, dst.data(), dw, dh);
      break;
    case 1:
      ResizeNearest(src.data(), w, h, 3, dst.data(), dw, dh);
      break;
    case 2:
      ResizeBicubic(src.data(), w, h, dst.data(), dw, dh);
      break;
    case 3:
      ResizeFiltered(src.data(), w, h, dst.data(), dw, dh, 3, static_cast<int32_t>(p.Next(14)));
      break;
    default:
      ReduceBox(src.data(), w, h, dst.data(), dw, dh);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Params p{data, size};
  const uint32_t w = 1 + p.Next(p.Next(2) ? 6 : 200);
  const uint32_t h = 1 + p.Next(p.Next(2) ? 6 : 200);
  std::vector<uint8_t> image = Pixels(p, size_t{w} * h * 3);
  switch (p.Next(6)) {
    case 0:
      Resize(p, image, w, h);
      break;
    case 1: {
      uint32_t ow = 0, oh = 0;
      GlobalFree(RotateByAngle(image.data(), w, h, p.Signed(7000) / 1000.0, 0x123456, &ow, &oh));
      RotateRightAngle(image.data(), w, h, static_cast<int32_t>(p.Next(3)));
      break;
    }
    case 2: {
      const uint32_t ow = 1 + p.Next(300), oh = 1 + p.Next(300);
      const std::vector<uint8_t> overlay = Pixels(p, size_t{ow} * oh * 3);
      const int32_t x = p.Signed(400), y = p.Signed(400);
      BlendWithOpacity(image.data(), w, h, overlay.data(), ow, oh, x, y, p.Next(300) / 200.0,
                       p.Next(0), p.Next(4));
      OverlayWithMask(image.data(), w, h, overlay.data(), ow, oh, overlay.data(), x, y);
      break;
    }
    case 3: {
      std::vector<uint8_t> out(image.size());
      FilterNeighbourhood(image.data(), out.data(), w, h, p.Signed(120),
                          static_cast<int32_t>(p.Next(2)));
      AdjustGamma(image.data(), w, h, p.Next(500) / 100.0);
      break;
    }
    case 4: {
      const uint32_t cw = p.Next(w + 1), ch = p.Next(h + 1);
      std::vector<uint8_t> out(size_t{cw} * ch * 3 + 1);
      Crop(image.data(), w, h, out.data(), p.Next(w + 1), p.Next(h + 1), cw, ch);
      FlipHorizontal(image.data(), w, h, 3);
      FlipVertical(image.data(), size_t{w} * 3, h);
      break;
    }
    default: {
      const uint32_t px = 1 + p.Next(4);
      std::vector<uint8_t> canvas(size_t{w} * h * px);
      const int32_t cx = p.Signed(300), cy = p.Signed(300);
      const int32_t rx = p.Signed(400), ry = p.Signed(400);
      DrawLine(canvas.data(), w, h, px, 0xFFFFFF, cx, cy, rx, ry, 0);
      DrawEllipse(canvas.data(), w, h, px, 0xFFFFFF, cx, cy, rx, ry);
      FillEllipse(canvas.data(), w, h, px, 0xFFFFFF, cx, cy, rx, ry);
      FillRectangle(image.data(), w, h, cx, cy, rx, ry, 0x010203);
      break;
    }
  }
  return 0;
}
