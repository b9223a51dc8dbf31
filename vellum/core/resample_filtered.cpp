// Filtered resampling, organised for locality: output columns are processed in
// bands. For a band, the source rows are filtered horizontally into a scratch
// block of bytes (rows x band), then the vertical pass turns that block into the
// band's part of every output row. Both passes reduce to the same operation,
// FilterLines: taps are whole lines of bytes sharing one weight, so the inner
// loops run over contiguous memory. For the horizontal pass the needed source
// columns are first transposed, a chunk of rows at a time, so that each source
// column becomes such a line.
//
// Every output byte still comes from the same double-precision sum, in the same
// order, as filtering one column at a time. Bands are independent and run in parallel.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "vellum/core/entry_frame.h"
#include "vellum/core/resample.h"
#include "vellum/core/resample_internal.h"
#include "vellum/core/resample_kernels.h"
#include "vellum/core/vector_clones.h"
#include "vellum/core/worker_pool.h"

namespace vellum {

namespace {

// Scratch sizes: the band of horizontally filtered rows, and the transposed
// source chunk. Either may grow past its budget to hold one column or one row.
constexpr size_t kBandBudget = 256 * 1024;
constexpr size_t kChunkBudget = 128 * 1024;
constexpr size_t kMaxBandColumns = 128;
constexpr size_t kPrefetchRows = 4;
// Elements filtered together: enough for the vector units, few enough for registers.
constexpr size_t kFilterBlock = 64;

// The source samples and weights that make up consecutive output samples along
// one axis. List i is entries begin[i] .. begin[i + 1] - 1.
struct Contributions {
  std::vector<size_t> begin;
  std::vector<uint32_t> index;  // source index, reflected and clamped into the source
  std::vector<double> weight;

  size_t Taps(size_t list) const { return begin[list + 1] - begin[list]; }
};

// A source index beyond an edge is reflected back; for sources smaller than the
// filter's reach the reflection may still fall outside, so it is clamped too.
uint32_t ReflectIndex(int64_t j, uint32_t n) {
  if (j < 0) j = -j;
  if (j >= n) j = 2 * int64_t{n} - j - 1;
  return static_cast<uint32_t>(std::clamp<int64_t>(j, 0, n - 1));
}

// Contribution lists of output samples first .. first + count - 1 when srcCount
// samples become dstCount.
Contributions BuildContributions(const FilterKernel& kernel, uint32_t srcCount, uint32_t dstCount,
                                 uint32_t first, uint32_t count) {
  const double scale = static_cast<double>(dstCount) / srcCount;
  const bool shrinking = scale < 1;
  const double halfWidth = shrinking ? kernel.support / scale : kernel.support;
  const size_t capacity = static_cast<size_t>(2 * halfWidth + 1);
  Contributions lists;
  lists.begin.reserve(size_t{count} + 1);
  lists.index.reserve(size_t{count} * capacity);
  lists.weight.reserve(size_t{count} * capacity);
  for (uint32_t i = first; i < first + count; ++i) {
    lists.begin.push_back(lists.index.size());
    const double centre = i / scale;
    const int64_t left = static_cast<int64_t>(std::ceil(centre - halfWidth));
    const int64_t right = static_cast<int64_t>(std::floor(centre + halfWidth));
    for (int64_t j = left; j <= right && j - left < static_cast<int64_t>(capacity); ++j) {
      const double distance = centre - static_cast<double>(j);
      lists.weight.push_back(shrinking ? kernel.weight(distance * scale) * scale
                                       : kernel.weight(distance));
      lists.index.push_back(ReflectIndex(j, srcCount));
    }
  }
  lists.begin.push_back(lists.index.size());
  return lists;
}

// A weighted sum rounded to the nearest integer, halves away from zero, and
// clamped to a byte. No kernel exceeds 1 in magnitude and a list holds at most
// 2 * support / scale + 1 weights scaled by `scale` (or 2 * support + 1 when
// enlarging), so |sum| <= 9 * 255 and the conversion to int is exact and safe.
// Written without branches so that a block of them vectorises.
[[gnu::always_inline]] inline int RoundHalfAway(double sum) {
  const int whole = static_cast<int>(sum);
  const double fraction = sum - whole;
  return whole + (fraction >= 0.5) - (fraction <= -0.5);
}

// Filters `kCount` elements at offset `at` of every line (count = kCount, or
// `count` for the tail when kCount is 0). Each loop runs over the elements only,
// so that each vectorises; `same` is 0xFF while all samples equal the first.
template <size_t kCount>
[[gnu::always_inline]] inline void FilterBlock(const uint8_t* const* lines, const double* weights,
                                               size_t taps, size_t at, size_t count, uint8_t* out) {
  constexpr size_t kMax = kCount != 0 ? kCount : kFilterBlock;
  const size_t n = kCount != 0 ? kCount : count;
  double sum[kMax];
  uint8_t first[kMax];
  uint8_t same[kMax];
  std::memcpy(first, lines[0] + at, n);
  for (size_t e = 0; e < n; ++e) {
    sum[e] = 0;
    same[e] = 0xFF;
  }
  for (size_t k = 0; k < taps; ++k) {
    const uint8_t* line = lines[k] + at;
    const double weight = weights[k];
    // A zero weight adds nothing to the sum, but its sample still counts for equality.
    if (weight != 0) {
      for (size_t e = 0; e < n; ++e) sum[e] += weight * static_cast<int>(line[e]);
    }
    for (size_t e = 0; e < n; ++e) same[e] &= static_cast<uint8_t>(-(line[e] == first[e]));
  }
  for (size_t e = 0; e < n; ++e) {
    const int rounded = std::clamp(RoundHalfAway(sum[e]), 0, 255);
    out[e] = static_cast<uint8_t>((same[e] & first[e]) | (~same[e] & rounded));
  }
}

// out[e] = the filtered value of element e of the lines: lines[k][e] are the
// samples (in contribution order) and weights[k] their weights. When all the
// samples equal the first, that sample is taken unchanged.
VELLUM_VECTOR_CLONES
void FilterLines(const uint8_t* const* lines, const double* weights, size_t taps, size_t length,
                 uint8_t* out) {
  size_t at = 0;
  for (; at + kFilterBlock <= length; at += kFilterBlock) {
    FilterBlock<kFilterBlock>(lines, weights, taps, at, kFilterBlock, out + at);
  }
  if (at < length) FilterBlock<0>(lines, weights, taps, at, length - at, out + at);
}

// Copies `count` pixels that lie one after another from `in` to pixels
// `outStride` bytes apart. With `spareByte` the caller allows reading the byte
// after each source pixel and writing the one after each destination pixel, so
// that three-byte pixels move as single words.
void CopyPixels(const uint8_t* in, uint8_t* out, size_t outStride, size_t count, size_t px,
                bool spareByte) {
  switch (spareByte && px == 3 ? 4 : px) {
    case 1:
      for (size_t i = 0; i < count; ++i, out += outStride) *out = in[i];
      break;
    case 3:
      for (size_t i = 0; i < count; ++i, in += 3, out += outStride) std::memcpy(out, in, 3);
      break;
    case 4:  // four-byte pixels, or three with a spare byte
      for (size_t i = 0; i < count; ++i, in += px, out += outStride) std::memcpy(out, in, 4);
      break;
    default:
      for (size_t i = 0; i < count; ++i, in += px, out += outStride) std::memcpy(out, in, px);
  }
}

// A count limited by a budget, rounded down to whole filter blocks when it can be.
size_t InBlocks(size_t count) {
  return count >= kFilterBlock ? count - count % kFilterBlock : count;
}

struct FilterJob {
  const uint8_t* source;
  uint32_t srcWidth;
  uint32_t srcHeight;
  uint8_t* destination;
  uint32_t dstWidth;
  uint32_t dstHeight;
  size_t pixelBytes;
  const FilterKernel* kernel;
  const Contributions* vertical;
  uint32_t firstRow;  // the source rows the vertical lists read
  size_t rowCount;
};

// The rows of the band scratch hold `columns` filtered pixels each, for the
// source rows firstRow .. firstRow + rowCount - 1.
class BandFilter {
 public:
  explicit BandFilter(const FilterJob& job) : job_(job) {}

  void Run(uint32_t firstColumn, uint32_t columns, uint8_t* band) {
    const Contributions horizontal =
        BuildContributions(*job_.kernel, job_.srcWidth, job_.dstWidth, firstColumn, columns);
    FilterHorizontally(horizontal, columns, band);
    FilterVertically(firstColumn, columns, band);
  }

 private:
  void FilterHorizontally(const Contributions& horizontal, uint32_t columns, uint8_t* band) {
    const auto [low, high] = std::minmax_element(horizontal.index.begin(), horizontal.index.end());
    const uint32_t firstSource = *low;
    const size_t sourceColumns = size_t{*high} - *low + 1;
    const size_t px = job_.pixelBytes;
    const size_t chunkRows =
        InBlocks(std::clamp<size_t>(kChunkBudget / (sourceColumns * px), 1, job_.rowCount));
    transposed_.resize(sourceColumns * chunkRows * px);
    filtered_.resize(chunkRows * px + 1);
    const size_t bandRowBytes = columns * px;
    for (size_t row0 = 0; row0 < job_.rowCount; row0 += chunkRows) {
      const size_t rows = std::min(chunkRows, job_.rowCount - row0);
      Transpose(job_.firstRow + row0, rows, firstSource, sourceColumns);
      const size_t lineBytes = rows * px;
      for (uint32_t b = 0; b < columns; ++b) {
        const size_t begin = horizontal.begin[b];
        const size_t taps = horizontal.Taps(b);
        lines_.resize(taps);
        for (size_t k = 0; k < taps; ++k) {
          lines_[k] = transposed_.data() + (horizontal.index[begin + k] - firstSource) * lineBytes;
        }
        FilterLines(lines_.data(), &horizontal.weight[begin], taps, lineBytes, filtered_.data());
        // The byte after this band column in a row belongs to the next column,
        // written later; filtered_ has a byte to spare at its end.
        CopyPixels(filtered_.data(), band + row0 * bandRowBytes + b * px, bandRowBytes, rows, px,
                   b + 1 < columns);
      }
    }
  }

  // Copies `rows` source rows from `firstRow`, columns firstColumn .. + count - 1,
  // so that each source column becomes one line of rows x pixel bytes.
  void Transpose(size_t firstRow, size_t rows, uint32_t firstColumn, size_t count) {
    const size_t px = job_.pixelBytes;
    const size_t srcRowBytes = size_t{job_.srcWidth} * px;
    const size_t lineBytes = rows * px;
    const size_t lastSourceRow = job_.srcHeight - 1;
    const size_t segmentBytes = count * px;
    for (size_t r = 0; r < rows; ++r) {
      const uint8_t* in = job_.source + (firstRow + r) * srcRowBytes + size_t{firstColumn} * px;
      // Rows lie far apart: ask for a later row's segment ahead of its use.
      if (r + kPrefetchRows < rows) {
        const uint8_t* ahead = in + kPrefetchRows * srcRowBytes;
        for (size_t at = 0; at < segmentBytes; at += 64) __builtin_prefetch(ahead + at);
      }
      // The byte after a pixel is the next row's slot in its line, written later,
      // and in the source the next pixel or the next row's first.
      CopyPixels(in, transposed_.data() + r * px, lineBytes, count, px,
                 r + 1 < rows && firstRow + r < lastSourceRow);
    }
  }

  void FilterVertically(uint32_t firstColumn, uint32_t columns, const uint8_t* band) {
    const Contributions& vertical = *job_.vertical;
    const size_t px = job_.pixelBytes;
    const size_t bandRowBytes = columns * px;
    const size_t dstRowBytes = size_t{job_.dstWidth} * px;
    for (uint32_t y = 0; y < job_.dstHeight; ++y) {
      const size_t begin = vertical.begin[y];
      const size_t taps = vertical.Taps(y);
      lines_.resize(taps);
      for (size_t k = 0; k < taps; ++k) {
        lines_[k] = band + (vertical.index[begin + k] - job_.firstRow) * bandRowBytes;
      }
      FilterLines(lines_.data(), &vertical.weight[begin], taps, bandRowBytes,
                  job_.destination + y * dstRowBytes + firstColumn * px);
    }
  }

  const FilterJob& job_;
  std::vector<uint8_t> transposed_;
  std::vector<uint8_t> filtered_;
  std::vector<const uint8_t*> lines_;
};

bool Filtered(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight, uint8_t* destination,
              uint32_t dstWidth, uint32_t dstHeight, size_t pixelBytes, int32_t kind) {
  const FilterKernel& kernel = KernelOfKind(kind);
  const Contributions vertical = BuildContributions(kernel, srcHeight, dstHeight, 0, dstHeight);
  const auto [low, high] = std::minmax_element(vertical.index.begin(), vertical.index.end());
  FilterJob job{source,
                srcWidth,
                srcHeight,
                destination,
                dstWidth,
                dstHeight,
                pixelBytes,
                &kernel,
                &vertical,
                *low,
                size_t{*high} - *low + 1};
  const size_t bandColumns = InBlocks(std::clamp<size_t>(
      kBandBudget / (job.rowCount * pixelBytes), 1, std::min<size_t>(kMaxBandColumns, dstWidth)));
  // Bands write disjoint columns of the destination, so they run in parallel, each
  // range of bands with its own scratch.
  const size_t bands = (dstWidth + bandColumns - 1) / bandColumns;
  const size_t bytesPerBand =
      (size_t{srcWidth} * job.rowCount + size_t{dstWidth} * dstHeight) * pixelBytes / bands;
  ParallelFor(bands, GrainFor(bytesPerBand), [&](size_t first, size_t end) {
    std::unique_ptr<uint8_t[]> band(new uint8_t[job.rowCount * bandColumns * pixelBytes]);
    BandFilter filter(job);
    for (size_t x = first * bandColumns; x < std::min<size_t>(end * bandColumns, dstWidth);
         x += bandColumns) {
      const size_t columns = std::min<size_t>(bandColumns, dstWidth - x);
      filter.Run(static_cast<uint32_t>(x), static_cast<uint32_t>(columns), band.get());
    }
  });
  return true;
}

}  // namespace

BOOL ResizeFiltered(const uint8_t* source, uint32_t srcWidth, uint32_t srcHeight,
                    uint8_t* destination, uint32_t dstWidth, uint32_t dstHeight,
                    uint32_t bytesPerPixel, int32_t filterKind) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!ValidResizeArguments(source, srcWidth, srcHeight, destination, dstWidth, dstHeight) ||
        bytesPerPixel == 0 || filterKind < 0 || filterKind >= kFilterKindCount) {
      return ctx.Fail(kErrInvalidArgument);
    }
    return Filtered(source, srcWidth, srcHeight, destination, dstWidth, dstHeight, bytesPerPixel,
                    filterKind);
  });
}

}  // namespace vellum
