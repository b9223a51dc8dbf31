// The enumeration constants of the registered type libraries as script globals, the
// way server pages import a type library's constants: eziPNG, eziBrowser,
// eziBottomRight, ... are read-only globals of every heap that asks for them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "duktape.h"

namespace script {

struct NamedConstant {
  std::string name;
  int32_t value = 0;
};

// Every enumeration value of every type library registered in the registry (in the
// order of the libraries' identifiers, then as each library declares them). A name
// declared twice keeps its first value. Read once per version of the registry and
// shared; a library that cannot be loaded is passed over, and an unreadable registry
// gives none.
std::shared_ptr<const std::vector<NamedConstant>> RegisteredConstants();

// Defines each registered constant as a read-only global, except names the heap
// already defines.
void DefineTypeLibraryConstants(duk_context* ctx);

}  // namespace script
