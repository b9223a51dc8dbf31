#include "vellum/codecs/gif_lzw_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/kernel/byte_order.h"
#include "vellum/codecs/gif_row_order.h"

namespace vellum {

namespace {

constexpr uint32_t kMaxCodes = 4096;

// A string is spelled in pieces of this many bytes, each written whole: the place
// it goes to needs this much room beyond its end.
constexpr size_t kChunk = 8;

// The codes of the image data as one continuous bit stream across the
// sub-blocks, least significant bit first. Sub-blocks are read ahead into a
// buffer, and the bit store takes up to eight bytes of it at a time.
class SubBlockBits {
 public:
  explicit SubBlockBits(DataHandle* source) : source_(source), buffer_(kBufferBytes) {}

  // The next code of `width` bits (at most 12); false once the sub-blocks have run out.
  bool Read(int width, uint32_t& code) {
    if (count_ < width) {
      Refill();
      if (count_ < width) return false;
    }
    code = static_cast<uint32_t>(bits_) & ((1u << width) - 1);
    bits_ >>= width;
    count_ -= width;
    return true;
  }

  // Consumes the sub-blocks left, up to the terminator.
  void SkipRest() {
    while (!ended_) ended_ = ReadGifSubBlock(source_, buffer_.data()) == 0;
    position_ = end_ = 0;
  }

 private:
  static constexpr size_t kBufferBytes = 32 * 255;

  // Tops the store up with whole bytes to at least 57 bits, or to what is left.
  // The store's bits above its count are the stream's next bits (or zero), so
  // adding the same bytes again changes nothing.
  void Refill() {
    if (end_ - position_ < 8) Fetch();
    if (end_ - position_ >= 8) {
      bits_ |= LoadLe64(buffer_.data() + position_) << count_;
      const int taken = (63 - count_) / 8;
      position_ += taken;
      count_ += 8 * taken;
      return;
    }
    while (count_ <= 56 && position_ < end_) {
      bits_ |= uint64_t{buffer_[position_++]} << count_;
      count_ += 8;
    }
  }

  // Moves the unread bytes to the front and appends sub-blocks while one fits.
  void Fetch() {
    const size_t left = end_ - position_;
    std::memmove(buffer_.data(), buffer_.data() + position_, left);
    position_ = 0;
    end_ = left;
    while (!ended_ && end_ + 255 <= buffer_.size()) {
      const size_t length = ReadGifSubBlock(source_, buffer_.data() + end_);
      ended_ = length == 0;
      end_ += length;
    }
  }

  DataHandle* source_;
  std::vector<uint8_t> buffer_;
  size_t position_ = 0;
  size_t end_ = 0;
  bool ended_ = false;
  uint64_t bits_ = 0;
  int count_ = 0;
};

// Places decoded indices left to right into a row and hands each row to the sink
// once it is whole, in stored order; whatever follows the last row is dropped.
class IndexRowWriter {
 public:
  IndexRowWriter(const GifImageShape& shape, const GifRowSink& sink)
      : width_(shape.width),
        sink_(sink),
        order_(shape.height, shape.interlaced),
        row_(shape.width + kChunk) {}

  bool Full() const { return order_.Done(); }
  uint32_t RowsDone() const { return rowsDone_; }

  // The place of the next `count` indices (with kChunk bytes of room beyond) when
  // they fit in the current row, else null. Advance counts them as written.
  uint8_t* Room(size_t count) { return Full() || count > width_ - x_ ? nullptr : row_.data() + x_; }

  void Advance(size_t count) {
    x_ += count;
    if (x_ == width_) {
      sink_(order_.Row(), row_.data());
      ++rowsDone_;
      order_.Advance();
      x_ = 0;
    }
  }

  void Put(const uint8_t* bytes, size_t count) {
    while (count > 0 && !Full()) {
      const size_t n = std::min<size_t>(count, width_ - x_);
      std::memcpy(row_.data() + x_, bytes, n);
      bytes += n;
      count -= n;
      Advance(n);
    }
  }

  // Hands over the rows decoding did not complete: the current one with index 0
  // after what was decoded, then the rest all 0.
  void Finish() {
    if (Full()) return;
    std::fill(row_.begin() + static_cast<ptrdiff_t>(x_), row_.end(), uint8_t{0});
    sink_(order_.Row(), row_.data());
    std::fill(row_.begin(), row_.end(), uint8_t{0});
    for (order_.Advance(); !order_.Done(); order_.Advance()) sink_(order_.Row(), row_.data());
  }

 private:
  const size_t width_;
  const GifRowSink& sink_;
  GifRowOrder order_;
  std::vector<uint8_t> row_;
  size_t x_ = 0;
  uint32_t rowsDone_ = 0;
};

// The string table holds for every entry its length, first index and last
// piece: the final (length - 1) % kChunk + 1 indices, and the entry whose string
// is everything before them (its length a multiple of kChunk, its piece full).
// A string is spelled back to front a whole piece at a time, following exactly
// as many links as its length asks, so a chain can neither loop nor overrun.
class LzwDecoder {
 public:
  explicit LzwDecoder(int minCodeSize)
      : clear_(1u << minCodeSize), end_(clear_ + 1), initialWidth_(minCodeSize + 1) {
    for (uint32_t code = 0; code < clear_; ++code) {
      piece_[code][0] = first_[code] = static_cast<uint8_t>(code);
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
    if (uint8_t* place = rows.Room(length)) {
      Spell(code, place);
      rows.Advance(length);
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
    const uint32_t previousLength = length_[previous_];
    const size_t used = (previousLength - 1) % kChunk + 1;
    if (used < kChunk) {
      piece_[next_] = piece_[previous_];
      piece_[next_][used] = last;
      prefix_[next_] = prefix_[previous_];
    } else {
      piece_[next_][0] = last;
      prefix_[next_] = static_cast<uint16_t>(previous_);
    }
    first_[next_] = previousFirst_;
    length_[next_] = static_cast<uint16_t>(previousLength + 1);
    ++next_;
    if (next_ == limit_ && limit_ < kMaxCodes) {
      ++width_;
      limit_ <<= 1;
    }
  }

  // Writes the string of `code` to out[0, length) and may overwrite up to
  // kChunk - 1 bytes after it.
  void Spell(uint32_t code, uint8_t* out) const {
    size_t at = length_[code] - ((length_[code] - 1) % kChunk + 1);
    std::memcpy(out + at, piece_[code].data(), kChunk);
    for (code = prefix_[code]; at > 0; code = prefix_[code]) {
      at -= kChunk;
      std::memcpy(out + at, piece_[code].data(), kChunk);
    }
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
  std::array<std::array<uint8_t, kChunk>, kMaxCodes> piece_{};
  std::array<uint16_t, kMaxCodes> prefix_{};
  std::array<uint8_t, kMaxCodes> first_{};
  std::array<uint16_t, kMaxCodes> length_{};
  std::array<uint8_t, kMaxCodes + kChunk> stack_{};
};

}  // namespace

size_t ReadGifSubBlock(DataHandle* source, uint8_t* block) {
  uint8_t length = 0;
  if (ReadBytes(source, &length, 1) != 1) return 0;
  return ReadBytes(source, block, length);
}

uint32_t DecodeGifImageData(DataHandle* source, int minCodeSize, const GifImageShape& shape,
                            const GifRowSink& sink) {
  SubBlockBits bits(source);
  IndexRowWriter rows(shape, sink);
  const auto decoder = std::make_unique<LzwDecoder>(minCodeSize);
  decoder->Run(bits, rows);
  const uint32_t done = rows.RowsDone();
  rows.Finish();
  return done;
}

}  // namespace vellum
