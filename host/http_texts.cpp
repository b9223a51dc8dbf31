#include "host/http_texts.h"

#include <array>
#include <cstdio>

#include "platform/kernel/decimal.h"

namespace host {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string_view WithoutWeakPrefix(std::string_view tag) {
  return tag.starts_with("W/") ? tag.substr(2) : tag;
}

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// Reads "DD Mon YYYY HH:MM:SS" pieces that the three forms share, in their own orders.
struct DateParts {
  int64_t year = -1;
  unsigned month = 0;  // 1..12
  unsigned day = 0;
  unsigned hour = 99, minute = 99, second = 99;
};

std::optional<unsigned> MonthNumber(std::string_view name) {
  for (size_t i = 0; i < kMonths.size(); ++i) {
    if (name == kMonths[i]) return static_cast<unsigned>(i + 1);
  }
  return std::nullopt;
}

bool ReadClock(std::string_view text, DateParts* parts) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
  const std::optional<uint64_t> hour = ParseDecimal(text.substr(0, 2));
  const std::optional<uint64_t> minute = ParseDecimal(text.substr(3, 2));
  const std::optional<uint64_t> second = ParseDecimal(text.substr(6, 2));
  if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 60) return false;
  parts->hour = static_cast<unsigned>(*hour);
  parts->minute = static_cast<unsigned>(*minute);
  parts->second = static_cast<unsigned>(*second);
  return true;
}

std::optional<std::time_t> ToTime(const DateParts& parts) {
  if (parts.year < 1970 || parts.year > 9999 || parts.month == 0 || parts.day == 0 ||
      parts.day > 31) {
    return std::nullopt;
  }
  const int64_t days = DaysFromCivil(parts.year, parts.month, parts.day);
  return static_cast<std::time_t>(days * 86400 + parts.hour * 3600 + parts.minute * 60 +
                                  parts.second);
}

// Splits at single spaces into exactly `count` words.
template <size_t count>
std::optional<std::array<std::string_view, count>> Words(std::string_view text) {
  std::array<std::string_view, count> words;
  for (size_t i = 0; i < count; ++i) {
    const size_t space = text.find(' ');
    if ((space == std::string_view::npos) != (i + 1 == count)) return std::nullopt;
    words[i] = text.substr(0, space);
    if (words[i].empty()) return std::nullopt;
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
  }
  return words;
}

}  // namespace

ByteRange ParseRange(std::string_view header, uint64_t size) {
  header = Trim(header);
  if (!header.starts_with("bytes=")) return {};
  const std::string_view spec = Trim(header.substr(6));
  const size_t dash = spec.find('-');
  if (dash == std::string_view::npos || spec.find(',') != std::string_view::npos) return {};
  const std::string_view from = Trim(spec.substr(0, dash));
  const std::string_view to = Trim(spec.substr(dash + 1));
  ByteRange range;
  range.kind = ByteRange::Kind::kPart;
  if (from.empty()) {  // the last n bytes
    const std::optional<uint64_t> suffix = ParseDecimal(to);
    if (!suffix) return {};
    if (*suffix == 0 || size == 0) return {ByteRange::Kind::kUnsatisfiable};
    range.first = *suffix >= size ? 0 : size - *suffix;
    range.last = size - 1;
    return range;
  }
  const std::optional<uint64_t> first = ParseDecimal(from);
  std::optional<uint64_t> last =
      to.empty() ? std::optional<uint64_t>(UINT64_MAX) : ParseDecimal(to);
  if (!first || !last || *last < *first) return {};
  if (*first >= size) return {ByteRange::Kind::kUnsatisfiable};
  range.first = *first;
  range.last = *last >= size ? size - 1 : *last;
  return range;
}

bool EtagListMatches(std::string_view list, std::string_view etag) {
  etag = WithoutWeakPrefix(etag);
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view tag = Trim(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (tag == "*" || (!tag.empty() && WithoutWeakPrefix(tag) == etag)) return true;
  }
  return false;
}

std::string FormatHttpDate(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday % 7],
                utc.tm_mday, kMonths[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                utc.tm_sec);
  return text;
}

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
  text = Trim(text);
  DateParts parts;
  const size_t comma = text.find(',');
  if (comma == 3) {  // "Sun, 06 Nov 1994 08:49:37 GMT"
    const auto words = Words<6>(text);
    if (!words || (*words)[5] != "GMT" || (*words)[1].size() != 2 || (*words)[3].size() != 4) {
      return std::nullopt;
    }
    const std::optional<uint64_t> day = ParseDecimal((*words)[1]);
    const std::optional<uint64_t> year = ParseDecimal((*words)[3]);
    const std::optional<unsigned> month = MonthNumber((*words)[2]);
    if (!day || !year || !month || !ReadClock((*words)[4], &parts)) return std::nullopt;
    parts.day = static_cast<unsigned>(*day);
    parts.month = *month;
    parts.year = static_cast<int64_t>(*year);
    return ToTime(parts);
  }
  if (comma != std::string_view::npos) {  // "Sunday, 06-Nov-94 08:49:37 GMT"
    if (text.size() < comma + 2 || text[comma + 1] != ' ') return std::nullopt;
    const auto words = Words<3>(text.substr(comma + 2));
    if (!words || (*words)[2] != "GMT" || (*words)[0].size() != 9 || (*words)[0][2] != '-' ||
        (*words)[0][6] != '-') {
      return std::nullopt;
    }
    const std::optional<uint64_t> day = ParseDecimal((*words)[0].substr(0, 2));
    const std::optional<unsigned> month = MonthNumber((*words)[0].substr(3, 3));
    const std::optional<uint64_t> year = ParseDecimal((*words)[0].substr(7, 2));
    if (!day || !month || !year || !ReadClock((*words)[1], &parts)) return std::nullopt;
    parts.day = static_cast<unsigned>(*day);
    parts.month = *month;
    parts.year = static_cast<int64_t>(*year) + (*year < 70 ? 2000 : 1900);
    return ToTime(parts);
  }
  // "Sun Nov  6 08:49:37 1994": the day is padded with a space to two characters.
  if (text.size() != 24 || text[3] != ' ' || text[7] != ' ' || text[10] != ' ' || text[19] != ' ') {
    return std::nullopt;
  }
  const std::optional<unsigned> month = MonthNumber(text.substr(4, 3));
  const std::string_view dayText = Trim(text.substr(8, 2));
  const std::optional<uint64_t> day = ParseDecimal(dayText);
  const std::optional<uint64_t> year = ParseDecimal(text.substr(20, 4));
  if (!month || !day || !year || !ReadClock(text.substr(11, 8), &parts)) return std::nullopt;
  parts.day = static_cast<unsigned>(*day);
  parts.month = *month;
  parts.year = static_cast<int64_t>(*year);
  return ToTime(parts);
}

std::map<std::string, std::string> ParseMimeTypes(std::string_view text) {
  std::map<std::string, std::string> types;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    line = line.substr(0, line.find('#'));
    std::string type;
    while (!line.empty()) {
      const size_t start = line.find_first_not_of(" \t\r");
      if (start == std::string_view::npos) break;
      line.remove_prefix(start);
      const size_t stop = line.find_first_of(" \t\r");
      const std::string_view word = line.substr(0, stop);
      line = stop == std::string_view::npos ? std::string_view() : line.substr(stop);
      if (type.empty()) {
        if (word.find('/') == std::string_view::npos) break;  // not a type: skip the line
        type = word;
        continue;
      }
      std::string extension(word);
      for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      types.emplace(std::move(extension), type);
    }
  }
  return types;
}

}  // namespace host
