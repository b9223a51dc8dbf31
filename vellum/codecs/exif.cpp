#include "vellum/codecs/exif.h"

#include <libexif/exif-data.h>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace vellum {

namespace {

constexpr uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr size_t kTiffHeaderBytes = 8;

struct ExifDataRelease {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};
using ExifRecord = std::unique_ptr<ExifData, ExifDataRelease>;

bool IsTiffHeaderAt(const std::vector<uint8_t>& payload, size_t offset) {
  if (offset > payload.size() || payload.size() - offset < kTiffHeaderBytes) return false;
  const uint8_t* p = payload.data() + offset;
  return (p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0) ||
         (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42);
}

// Where the TIFF structure starts in the payload, if it can be found.
std::optional<size_t> TiffStart(const std::vector<uint8_t>& payload) {
  if (payload.size() >= sizeof kExifHeader &&
      std::memcmp(payload.data(), kExifHeader, sizeof kExifHeader) == 0) {
    return sizeof kExifHeader;
  }
  if (IsTiffHeaderAt(payload, 0)) return 0;
  if (payload.size() >= 4) {
    const uint64_t offset = uint64_t{payload[0]} << 24 | uint64_t{payload[1]} << 16 |
                            uint64_t{payload[2]} << 8 | payload[3];
    if (IsTiffHeaderAt(payload, 4 + offset)) return 4 + offset;
  }
  return std::nullopt;
}

// The payload parsed by libexif as recorded: nothing is added or corrected (libexif
// would otherwise fill in mandatory tags, a resolution among them, with defaults).
ExifRecord Parse(const std::vector<uint8_t>& payload) {
  const std::optional<size_t> start = TiffStart(payload);
  if (!start) return nullptr;
  const size_t tiffBytes = payload.size() - *start;
  if (tiffBytes > std::numeric_limits<unsigned int>::max() - sizeof kExifHeader) return nullptr;
  std::vector<uint8_t> segment(kExifHeader, kExifHeader + sizeof kExifHeader);
  segment.insert(segment.end(), payload.begin() + static_cast<ptrdiff_t>(*start), payload.end());
  ExifRecord data(exif_data_new());
  if (!data) return nullptr;
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(data.get(), segment.data(), static_cast<unsigned int>(segment.size()));
  return data;
}

// The first value of a tag of the primary image's directory, when it has the format asked.
const unsigned char* PrimaryValue(ExifData* data, ExifTag tag, ExifFormat format) {
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], tag);
  if (entry == nullptr || entry->format != format || entry->components < 1 ||
      entry->data == nullptr || entry->size < exif_format_get_size(format)) {
    return nullptr;
  }
  return entry->data;
}

std::optional<int32_t> ShortValue(ExifData* data, ExifTag tag) {
  const unsigned char* value = PrimaryValue(data, tag, EXIF_FORMAT_SHORT);
  if (value == nullptr) return std::nullopt;
  return exif_get_short(value, exif_data_get_byte_order(data));
}

// A rational as a whole number, truncated; nothing for a zero denominator or a value
// beyond 32 bits.
std::optional<int32_t> RationalValue(ExifData* data, ExifTag tag) {
  const unsigned char* value = PrimaryValue(data, tag, EXIF_FORMAT_RATIONAL);
  if (value == nullptr) return std::nullopt;
  const ExifRational rational = exif_get_rational(value, exif_data_get_byte_order(data));
  if (rational.denominator == 0) return std::nullopt;
  const uint32_t whole = rational.numerator / rational.denominator;
  if (whole > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
  return static_cast<int32_t>(whole);
}

}  // namespace

int32_t ExifOrientation(const std::vector<uint8_t>& payload) {
  const ExifRecord data = Parse(payload);
  if (!data) return 0;
  const std::optional<int32_t> orientation = ShortValue(data.get(), EXIF_TAG_ORIENTATION);
  return orientation && *orientation >= 1 && *orientation <= 8 ? *orientation : 0;
}

bool ExifResolution(const std::vector<uint8_t>& payload, ResolutionRecord* resolution) {
  const ExifRecord data = Parse(payload);
  if (!data) return false;
  const std::optional<int32_t> x = RationalValue(data.get(), EXIF_TAG_X_RESOLUTION);
  const std::optional<int32_t> y = RationalValue(data.get(), EXIF_TAG_Y_RESOLUTION);
  if (!x || !y) return false;
  constexpr int32_t kInch = 2;
  *resolution = {*x, *y, ShortValue(data.get(), EXIF_TAG_RESOLUTION_UNIT).value_or(kInch)};
  return true;
}

}  // namespace vellum
