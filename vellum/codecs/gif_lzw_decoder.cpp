#include "vellum/codecs/gif_lzw_decoder.h"

#include <algorithm>
#include <cstring>

#include "vellum/codecs/gif_row_order.h"

namespace vellum {

namespace {

constexpr uint32_t kMaxCodes = 4096;

// The codes of the image data as one continuous bit stream across the
// sub-blocks, least significant bit first.
class SubBlockBits {
 public:
  explicit SubBlockBits(DataHandle* source) : source_(source) {}

  // The next code of `width` bits; false once the sub-blocks have run out.
  bool Read(int width, uint32_t& code) {
    while (count_ < width) {
      if (position_ == length_ && !NextBlock()) return false;
      bits_ |= uint32_t{block_[position_++]} << count_;
      count_ += 8;
    }
    code = bits_ & ((1u << width) - 1);
    bits_ >>= width;
    count_ -= width;
    return true;
  }

  // Consumes the sub-blocks left, up to the terminator.
  void SkipRest() {
    while (NextBlock()) position_ = length_;
  }

 private:
  bool NextBlock() {
    if (ended_) return false;
    length_ = ReadGifSubBlock(source_, block_);
    position_ = 0;
    ended_ = length_ == 0;
    return !ended_;
  }

  DataHandle* source_;
  GifSubBlock block_{};
  size_t length_ = 0;
  size_t position_ = 0;
  bool ended_ = false;
  uint32_t bits_ = 0;
  int count_ = 0;
};

// Places decoded indices left to right into the rows in their stored order;
// whatever follows the last row is dropped.
class IndexRowWriter {
 public:
  explicit IndexRowWriter(const GifIndexImage& image)
      : image_(image), order_(image.height, image.interlaced) {
    StartRow();
  }

  bool Full() const { return order_.Done(); }

  void Put(const uint8_t* bytes, size_t count) {
    while (count > 0 && !Full()) {
      const size_t n = std::min<size_t>(count, image_.width - x_);
      std::memcpy(row_ + x_, bytes, n);
      bytes += n;
      count -= n;
      x_ += n;
      if (x_ == image_.width) NextRow();
    }
  }

 private:
  void StartRow() {
    x_ = 0;
    if (!Full()) row_ = image_.pixels + size_t{order_.Row()} * image_.width;
  }
  void NextRow() {
    order_.Advance();
    StartRow();
  }

  const GifIndexImage& image_;
  GifRowOrder order_;
  uint8_t* row_ = nullptr;
  size_t x_ = 0;
};

class LzwDecoder {
 public:
  explicit LzwDecoder(int minCodeSize)
      : clear_(1u << minCodeSize), end_(clear_ + 1), initialWidth_(minCodeSize + 1) {
    Reset();
  }

  void Run(SubBlockBits& bits, IndexRowWriter& rows) {
    uint32_t code = 0;
    while (!rows.Full() && bits.Read(width_, code)) {
      if (code == clear_) {
        Reset();
      } else if (code == end_) {
        bits.SkipRest();
        return;
      } else if (!DecodeCode(code, rows)) {
        return;  // damaged data ends decoding
      }
    }
  }

 private:
  void Reset() {
    width_ = initialWidth_;
    limit_ = 1u << width_;
    next_ = clear_ + 2;
    hasPrevious_ = false;
  }

  // Outputs the string of one code and extends the table; false for a code the
  // table cannot stand for.
  bool DecodeCode(uint32_t code, IndexRowWriter& rows) {
    if (!hasPrevious_) {  // first code after a clear: a single index
      if (code >= clear_) return false;
      const uint8_t index = static_cast<uint8_t>(code);
      rows.Put(&index, 1);
      Remember(code, index);
      return true;
    }
    size_t top = stack_.size();
    uint32_t walk = code;
    if (code == next_ && next_ < kMaxCodes) {
      // Not in the table yet: the previous string followed by its own first index.
      stack_[--top] = previousFirst_;
      walk = previous_;
    } else if (code >= next_) {
      return false;
    }
    // Codes above the next free one are refused above, so every prefix lies below
    // its code; the guard keeps a broken chain from looping or overrunning the stack.
    while (walk >= clear_) {
      if (prefix_[walk] >= walk || top == 0) return false;
      stack_[--top] = suffix_[walk];
      walk = prefix_[walk];
    }
    if (top == 0) return false;
    const uint8_t first = static_cast<uint8_t>(walk);
    stack_[--top] = first;
    rows.Put(stack_.data() + top, stack_.size() - top);
    AddEntry(first);
    Remember(code, first);
    return true;
  }

  void AddEntry(uint8_t first) {
    if (next_ >= kMaxCodes) return;  // a full table stays as it is until a clear
    prefix_[next_] = static_cast<uint16_t>(previous_);
    suffix_[next_] = first;
    ++next_;
    if (next_ == limit_ && limit_ < kMaxCodes) {
      ++width_;
      limit_ <<= 1;
    }
  }

  void Remember(uint32_t code, uint8_t first) {
    previous_ = code;
    previousFirst_ = first;
    hasPrevious_ = true;
  }

  const uint32_t clear_;
  const uint32_t end_;
  const int initialWidth_;
  int width_ = 0;
  uint32_t limit_ = 0;
  uint32_t next_ = 0;
  bool hasPrevious_ = false;
  uint32_t previous_ = 0;
  uint8_t previousFirst_ = 0;
  std::array<uint16_t, kMaxCodes> prefix_{};
  std::array<uint8_t, kMaxCodes> suffix_{};
  std::array<uint8_t, kMaxCodes> stack_{};
};

}  // namespace

size_t ReadGifSubBlock(DataHandle* source, GifSubBlock& block) {
  uint8_t length = 0;
  if (ReadBytes(source, &length, 1) != 1) return 0;
  return ReadBytes(source, block.data(), length);
}

void DecodeGifImageData(DataHandle* source, int minCodeSize, const GifIndexImage& image) {
  SubBlockBits bits(source);
  IndexRowWriter rows(image);
  LzwDecoder decoder(minCodeSize);
  decoder.Run(bits, rows);
}

}  // namespace vellum
