// Module resources: the type library and registry scripts a server module carries.
// Every server module exports one function through which they are found:
//
//   extern "C" BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data, DWORD* size);
//
// which gives the bytes of resource `id` of `type` ("TYPELIB", "REGISTRY"), valid while
// the module stays loaded, and FALSE for a resource the module does not have.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/win_types.h"

constexpr char kModuleResourceSymbol[] = "VelrtModuleResource";
using ModuleResourceFunction = BOOL (*)(LPCSTR type, UINT id, const void** data, DWORD* size);

constexpr char kTypeLibResource[] = "TYPELIB";
constexpr char kRegistryResource[] = "REGISTRY";

// Loads a server module (dlopen), nullptr when it cannot be loaded. Once loaded, a
// module stays mapped even after dlclose: libraries it links allocate in their load-time
// initialisers and never give that back, so every unload and reload would leak.
void* OpenServerModule(const char* path);

// Copies a resource of a module loaded with OpenServerModule; false when the module exports no
// lookup function or has no such resource.
bool FindModuleResource(void* module, const char* type, UINT id, std::string* bytes);
