// The text of a LoadItems file: lines of a key, a delimiter and an item.
//
// The text ends at its first NUL byte. A line ends at a CR or an LF, and a second CR or
// LF right after it belongs to the same line end (so CR LF, LF CR, CR CR and LF LF each
// end one line). A line is split at the first occurrence of the delimiter (an empty
// delimiter matches at the start); lines that are empty or lack the delimiter are
// skipped. Nothing is trimmed.
#pragma once

#include <string_view>
#include <vector>

namespace vellumset {

struct ItemLine {
  std::string_view key;
  std::string_view item;
};

std::vector<ItemLine> SplitItemLines(std::string_view text, std::string_view delimiter);

}  // namespace vellumset
