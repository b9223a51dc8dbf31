#include "vellumset/item_lines.h"

#include <algorithm>

namespace vellumset {

namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

std::vector<ItemLine> SplitItemLines(std::string_view text, std::string_view delimiter) {
  text = text.substr(0, text.find('\0'));
  std::vector<ItemLine> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    const std::string_view line = text.substr(start, end - start);
    const size_t split = line.find(delimiter);
    if (!line.empty() && split != std::string_view::npos) {
      lines.push_back({line.substr(0, split), line.substr(split + delimiter.size())});
    }
    start = end + 1;
    if (start < text.size() && IsLineEnd(text[start])) ++start;
  }
  return lines;
}

}  // namespace vellumset
