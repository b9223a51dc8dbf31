// Plain decimal numbers in settings and protocol texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// A decimal number of at most 19 digits (so it fits 63 bits) with nothing around it;
// nullopt otherwise.
inline std::optional<uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}
