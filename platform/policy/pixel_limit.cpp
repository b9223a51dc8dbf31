#include "platform/policy/pixel_limit.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/kernel/debug_output.h"
#include "platform/kernel/decimal.h"
#include "platform/registry/registry_store.h"

namespace policy {

namespace {

constexpr uint64_t kUnset = UINT64_MAX;

std::atomic<uint64_t>& ProcessLimit() {
  static std::atomic<uint64_t> limit{kUnset};
  return limit;
}

std::optional<uint64_t> ParseSetting(std::string_view origin, std::string_view text) {
  std::optional<uint64_t> pixels = ParseDecimal(text);
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
