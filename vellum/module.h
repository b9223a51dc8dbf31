// The Vellum server module: its object map (Easel, EZFont), its class factories and
// lock count, its registry scripts and type library, behind the four exports.
#pragma once

#include "platform/server/module_exports.h"
#include "platform/server/server_module.h"

namespace vellum {

// Resource ids of the registry scripts of the two classes.
constexpr UINT kEaselRegistryScript = 102;
constexpr UINT kFontRegistryScript = 104;

ServerModule& Module();

}  // namespace vellum
