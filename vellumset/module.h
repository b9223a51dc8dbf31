// The VellumSet server module: its object map (Images, Dictionary), class factories and
// lock count, its registry scripts 101 to 105 and type library, behind the four exports.
#pragma once

#include "platform/server/module_exports.h"
#include "platform/server/server_module.h"

namespace vellumset {

// Resource ids of the registry scripts. Only the first two are in the object map; the
// others are carried in the module but never applied.
constexpr UINT kImagesRegistryScript = 101;
constexpr UINT kDictionaryRegistryScript = 102;
constexpr UINT kImageRegistryScript = 103;
constexpr UINT kEnumImagesRegistryScript = 104;
constexpr UINT kImagesCollectionRegistryScript = 105;

ServerModule& Module();

}  // namespace vellumset
