// The operator's limit on the pixels one decoded image may have, which every image
// reader checks from the file's header before it allocates anything for the pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace policy {

// Where the limit comes from when the process has not set one.
constexpr std::string_view kMaxPixelsVariable = "VELLUM_MAX_PIXELS";
constexpr std::string_view kSettingsKey = "SOFTWARE\\Vellum";  // under HKEY_LOCAL_MACHINE
constexpr std::string_view kMaxPixelsValue = "MaxPixels";

// The most pixels (width x height) one decoded image may have; 0 for no limit beyond
// the size cap of image buffers. The process's own setting (SetMaxImagePixels) comes
// first, then the environment variable VELLUM_MAX_PIXELS, then the registry value
// MaxPixels of HKEY_LOCAL_MACHINE\SOFTWARE\Vellum. Each is a decimal count; text that
// is not one is passed over (with a line on the debugger output).
uint64_t MaxImagePixels();

// Sets the process's limit (0: none), or with nullopt hands the choice back to the
// environment and the registry.
void SetMaxImagePixels(std::optional<uint64_t> pixels);

}  // namespace policy
