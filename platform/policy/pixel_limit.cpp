#include "platform/policy/pixel_limit.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/kernel/debug_output.h"
#include "platform/registry/registry_store.h"

namespace policy {

namespace {

constexpr uint64_t kUnset = UINT64_MAX;

std::atomic<uint64_t>& ProcessLimit() {
  static std::atomic<uint64_t> limit{kUnset};
  return limit;
}

std::optional<uint64_t> ParseSetting(std::string_view origin, std::string_view text) {
  std::optional<uint64_t> pixels = ParsePixelCount(text);
  if (!pixels) {
    OutputDebugStringA(("Vellum: " + std::string(origin) + " is not a pixel count: \"" +
                        std::string(text) + "\"; passed over\n")
                           .c_str());
  }
  return pixels;
}

std::optional<uint64_t> LimitFromEnvironment() {
  const char* text = std::getenv(std::string(kMaxPixelsVariable).c_str());
  if (text == nullptr) return std::nullopt;
  return ParseSetting(kMaxPixelsVariable, text);
}

std::optional<uint64_t> LimitFromRegistry() {
  std::string text;
  if (registry::QueryValue(registry::kLocalMachine, kSettingsKey, kMaxPixelsValue, &text) != S_OK) {
    return std::nullopt;
  }
  return ParseSetting(kMaxPixelsValue, text);
}

}  // namespace

std::optional<uint64_t> ParsePixelCount(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

uint64_t MaxImagePixels() {
  const uint64_t set = ProcessLimit().load(std::memory_order_relaxed);
  if (set != kUnset) return set;
  if (const std::optional<uint64_t> pixels = LimitFromEnvironment()) return *pixels;
  return LimitFromRegistry().value_or(0);
}

void SetMaxImagePixels(std::optional<uint64_t> pixels) {
  ProcessLimit().store(pixels.value_or(kUnset), std::memory_order_relaxed);
}

}  // namespace policy
