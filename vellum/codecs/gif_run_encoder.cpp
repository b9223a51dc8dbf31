#include "vellum/codecs/gif_run_encoder.h"

#include <array>

#include "vellum/codecs/gif_row_order.h"

namespace vellum {

namespace {

// Packs codes least significant bit first into sub-blocks of up to 255 bytes,
// each written with its length byte as soon as it is full.
class SubBlockWriter {
 public:
  explicit SubBlockWriter(DataHandle* destination) : destination_(destination) {}

  bool Ok() const { return ok_; }

  void Emit(uint32_t code, int width) {
    bits_ |= code << count_;
    count_ += width;
    while (count_ >= 8) {
      PutByte(static_cast<uint8_t>(bits_));
      bits_ >>= 8;
      count_ -= 8;
    }
  }

  // Moves a partly filled last byte into the block and writes what is left.
  bool Finish() {
    if (count_ > 0) PutByte(static_cast<uint8_t>(bits_));
    bits_ = 0;
    count_ = 0;
    if (length_ > 0) WriteBlock();
    return ok_;
  }

 private:
  void PutByte(uint8_t byte) {
    block_[1 + length_++] = byte;
    if (length_ == 255) WriteBlock();
  }

  void WriteBlock() {
    block_[0] = static_cast<uint8_t>(length_);
    if (ok_) ok_ = WriteBytes(destination_, block_.data(), length_ + 1);
    length_ = 0;
  }

  DataHandle* destination_;
  std::array<uint8_t, 256> block_{};
  size_t length_ = 0;
  uint32_t bits_ = 0;
  int count_ = 0;
  bool ok_ = true;
};

// Follows the table a standard decoder builds from our codes without keeping it:
// after a clear, a run of one pixel spelled as that pixel, then run codes for 2,
// 3, 4... pixels makes the decoder's entry R + n - 2 a run of n + 1 such pixels.
class RunEncoder {
 public:
  RunEncoder(SubBlockWriter& out, int minCodeSize)
      : out_(out),
        clear_(1u << minCodeSize),
        runBase_(clear_ + 2),
        initialWidth_(minCodeSize + 1),
        bumpStart_(clear_ - 1),
        clearStart_(initialWidth_ <= 3 ? 9 : clear_ - 2),
        maxCodes_(4093 - clear_) {}

  void Start() {
    ResetAfterClear();
    Emit(clear_);
    runLength_ = 0;
  }

  void AddPixel(uint8_t pixel) {
    if (runLength_ > 0 && pixel != runPixel_) FlushRun();
    if (pixel == runPixel_) {
      ++runLength_;
    } else {
      runPixel_ = pixel;
      runLength_ = 1;
    }
  }

  void Finish() {
    if (runLength_ > 0) FlushRun();
    Emit(clear_ + 1);
  }

 private:
  void Emit(uint32_t code) { out_.Emit(code, width_); }

  void ResetAfterClear() {
    width_ = initialWidth_;
    bumpThreshold_ = bumpStart_;
    clearThreshold_ = clearStart_;
    codesSinceClear_ = 0;
    tableLength_ = 0;
    justCleared_ = true;
  }

  void EmitClear() {
    Emit(clear_);
    ResetAfterClear();
  }

  // Emits a code and keeps count of the entry the decoder adds for it: the code
  // width grows where the decoder's does, and a clear follows at the threshold.
  void OutputPlain(uint32_t code) {
    justCleared_ = false;
    Emit(code);
    ++codesSinceClear_;
    if (codesSinceClear_ == bumpThreshold_) {
      ++width_;
      bumpThreshold_ += 1u << (width_ - 1);
    }
    if (codesSinceClear_ >= clearThreshold_) EmitClear();
  }

  uint32_t RunCode(uint64_t length) const { return runBase_ + static_cast<uint32_t>(length) - 2; }

  void RestoreClearThreshold() {
    clearThreshold_ = clearStart_;
    if (codesSinceClear_ >= clearThreshold_) EmitClear();
  }

  void FlushRun() {
    if (runLength_ == 1) {
      OutputPlain(runPixel_);
    } else if (justCleared_) {
      FlushFromClear(runLength_);
    } else if (tableLength_ > 1 && tablePixel_ == runPixel_) {
      FlushWithTable(runLength_);
    } else {
      FlushByClearOrRepetition(runLength_);
    }
    runLength_ = 0;
  }

  // Spells the run as runs of 1, 2, 3... pixels, each making the next one known.
  void FlushFromClear(uint64_t left) {
    clearThreshold_ = maxCodes_;
    tablePixel_ = runPixel_;
    uint64_t n = 1;
    while (left > 0) {
      if (n == 1) {
        tableLength_ = 1;
        OutputPlain(runPixel_);
        left -= 1;
      } else if (left >= n) {
        tableLength_ = n;
        OutputPlain(RunCode(n));
        left -= n;
      } else {
        ++tableLength_;
        OutputPlain(left == 1 ? runPixel_ : RunCode(left));
        left = 0;
      }
      n = codesSinceClear_ == 0 ? 1 : n + 1;
    }
    RestoreClearThreshold();
  }

  void FlushByClearOrRepetition(uint64_t length) {
    if (1 + TriangleCost(length, maxCodes_) < length) {
      EmitClear();
      FlushFromClear(length);
      return;
    }
    for (uint64_t i = 0; i < length; ++i) OutputPlain(runPixel_);
  }

  // Repeats the longest run the table holds, unless starting afresh is cheaper.
  void FlushWithTable(uint64_t length) {
    const uint64_t table = tableLength_;
    uint64_t repeats = length / table;
    uint64_t left = length % table;
    uint64_t extra = left > 0 ? 1 : 0;
    if (codesSinceClear_ + repeats + extra > maxCodes_) {
      repeats = maxCodes_ - codesSinceClear_;
      left = length - repeats * table;
      extra = 1 + TriangleCost(left, maxCodes_);
    }
    if (1 + TriangleCost(length, maxCodes_) < repeats + extra) {
      EmitClear();
      FlushFromClear(length);
      return;
    }
    clearThreshold_ = maxCodes_;
    for (uint64_t i = 0; i < repeats; ++i) OutputPlain(RunCode(table));
    if (left > 0) {
      if (justCleared_) {
        FlushFromClear(left);
      } else {
        OutputPlain(left == 1 ? runPixel_ : RunCode(left));
      }
    }
    RestoreClearThreshold();
  }

  SubBlockWriter& out_;
  const uint32_t clear_;
  const uint32_t runBase_;
  const int initialWidth_;
  const uint32_t bumpStart_;
  const uint32_t clearStart_;
  const uint32_t maxCodes_;

  int width_ = 0;
  uint32_t bumpThreshold_ = 0;
  uint32_t clearThreshold_ = 0;
  uint32_t codesSinceClear_ = 0;
  uint64_t tableLength_ = 0;  // the longest run of tablePixel_ one code now spells
  uint8_t tablePixel_ = 0;
  bool justCleared_ = false;
  uint8_t runPixel_ = 0;
  uint64_t runLength_ = 0;
};

}  // namespace

uint32_t IntegerSquareRoot(uint32_t x) {
  if (x < 2) return x;
  uint32_t root = 1;
  for (uint32_t v = x; v != 0; v >>= 2) root <<= 1;
  while (true) {
    const uint32_t next = (x / root + root) / 2;
    if (next == root || next == root + 1) return root;
    root = next;
  }
}

uint64_t TriangleCost(uint64_t runLength, uint32_t codes) {
  const uint64_t full = uint64_t{codes} * (codes + 1) / 2;
  uint64_t cost = codes * (runLength / full);  // whole triangles
  const uint64_t left = runLength % full;
  if (left > 0) {
    // The shortest triangle 1 + 2 + ... + n that covers what is left.
    uint64_t n = IntegerSquareRoot(static_cast<uint32_t>(left));
    while (n * (n + 1) >= 2 * left) --n;
    while (n * (n + 1) < 2 * left) ++n;
    cost += n;
  }
  return cost;
}

bool EncodeGifImageData(DataHandle* destination, int minCodeSize, const uint8_t* pixels,
                        uint32_t width, uint32_t height, bool interlaced) {
  SubBlockWriter out(destination);
  RunEncoder encoder(out, minCodeSize);
  encoder.Start();
  for (GifRowOrder order(height, interlaced); !order.Done() && out.Ok(); order.Advance()) {
    const uint8_t* row = pixels + size_t{order.Row()} * width;
    for (uint32_t x = 0; x < width; ++x) encoder.AddPixel(row[x]);
  }
  encoder.Finish();
  return out.Finish();
}

}  // namespace vellum
