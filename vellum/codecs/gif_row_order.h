// The order in which a GIF stores the rows of an image: top to bottom, or in the
// four interlace passes (every 8th row from row 0, every 8th from row 4, every
// 4th from row 2, every 2nd from row 1).
#pragma once

#include <cstdint>

namespace vellum {

class GifRowOrder {
 public:
  GifRowOrder(uint32_t height, bool interlaced)
      : height_(height),
        passes_(interlaced ? kInterlacePasses : kSequentialPass),
        passCount_(interlaced ? 4 : 1) {
    row_ = passes_[0].start;
    SkipExhaustedPasses();
  }

  // True once the last row of the final pass has been passed.
  bool Done() const { return row_ >= height_; }
  uint32_t Row() const { return row_; }

  void Advance() {
    row_ += passes_[pass_].step;
    SkipExhaustedPasses();
  }

 private:
  struct Pass {
    uint32_t start;
    uint32_t step;
  };
  static constexpr Pass kInterlacePasses[4] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
  static constexpr Pass kSequentialPass[1] = {{0, 1}};

  // Moves on to the next pass that has a row in the image (short images skip some).
  void SkipExhaustedPasses() {
    while (row_ >= height_ && pass_ + 1 < passCount_) row_ = passes_[++pass_].start;
  }

  uint32_t height_;
  const Pass* passes_;
  int passCount_;
  int pass_ = 0;
  uint32_t row_ = 0;
};

}  // namespace vellum
