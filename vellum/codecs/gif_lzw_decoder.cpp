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
  uint32_t RowsDone() const { return rowsDone_; }

  // The place of the next `count` indices when they fit in the current row
  // (they count as written), else null.
  uint8_t* Claim(size_t count) {
    if (Full() || count > image_.width - x_) return nullptr;
    uint8_t* place = row_ + x_;
    Advance(count);
    return place;
  }

  void Put(const uint8_t* bytes, size_t count) {
    while (count > 0 && !Full()) {
      const size_t n = std::min<size_t>(count, image_.width - x_);
      std::memcpy(row_ + x_, bytes, n);
      bytes += n;
      count -= n;
      Advance(n);
    }
  }

 private:
  void StartRow() {
    x_ = 0;
    if (!Full()) row_ = image_.pixels + size_t{order_.Row()} * image_.width;
  }

  void Advance(size_t count) {
    x_ += count;
    if (x_ == image_.width) {
      ++rowsDone_;
      order_.Advance();
      StartRow();
    }
  }

  const GifIndexImage& image_;
  GifRowOrder order_;
  uint8_t* row_ = nullptr;
  size_t x_ = 0;
  uint32_t rowsDone_ = 0;
};

// The string table holds for every entry its prefix code, last index, first
// index and length. Strings are spelled by following exactly `length` links, so
// a damaged chain can neither loop nor write past the string's place.
class LzwDecoder {
 public:
  explicit LzwDecoder(int minCodeSize)
      : clear_(1u << minCodeSize), end_(clear_ + 1), initialWidth_(minCodeSize + 1) {
    for (uint32_t code = 0; code < clear_; ++code) {
      suffix_[code] = first_[code] = static_cast<uint8_t>(code);
      length_[code] = 1;
    }
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

  // Extends the table and outputs the string of one code; false for a code that
  // the table cannot stand for.
  bool DecodeCode(uint32_t code, IndexRowWriter& rows) {
    if (!hasPrevious_) {
      if (code >= clear_) return false;  // the first code after a clear is a single index
    } else if (code > next_) {
      return false;
    } else {
      // The new entry is the previous string plus this string's first index; a code
      // equal to the next free one stands for that very entry.
      AddEntry(code == next_ ? previousFirst_ : first_[code]);
    }
    const uint32_t length = length_[code];
    if (uint8_t* place = rows.Claim(length)) {
      Spell(code, place);
    } else {
      Spell(code, stack_.data());
      rows.Put(stack_.data(), length);
    }
    previous_ = code;
    previousFirst_ = first_[code];
    hasPrevious_ = true;
    return true;
  }

  void AddEntry(uint8_t last) {
    if (next_ >= kMaxCodes) return;  // a full table stays as it is until a clear
    prefix_[next_] = static_cast<uint16_t>(previous_);
    suffix_[next_] = last;
    first_[next_] = previousFirst_;
    length_[next_] = static_cast<uint16_t>(length_[previous_] + 1);
    ++next_;
    if (next_ == limit_ && limit_ < kMaxCodes) {
      ++width_;
      limit_ <<= 1;
    }
  }

  void Spell(uint32_t code, uint8_t* out) const {
    for (uint32_t i = length_[code]; i-- > 1; code = prefix_[code]) out[i] = suffix_[code];
    out[0] = suffix_[code];
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
  std::array<uint8_t, kMaxCodes> first_{};
  std::array<uint16_t, kMaxCodes> length_{};
  std::array<uint8_t, kMaxCodes> stack_{};
};

}  // namespace

size_t ReadGifSubBlock(DataHandle* source, GifSubBlock& block) {
  uint8_t length = 0;
  if (ReadBytes(source, &length, 1) != 1) return 0;
  return ReadBytes(source, block.data(), length);
}

uint32_t DecodeGifImageData(DataHandle* source, int minCodeSize, const GifIndexImage& image) {
  SubBlockBits bits(source);
  IndexRowWriter rows(image);
  LzwDecoder decoder(minCodeSize);
  decoder.Run(bits, rows);
  return rows.RowsDone();
}

}  // namespace vellum
