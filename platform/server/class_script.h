// The registry script of an in-process class: its versioned (".1") and
// version-independent ProgIDs, and its class key (rewritten whole on every
// registration) naming the module as %MODULE% with the class's threading model.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/guid.h"

struct ClassRegistration {
  std::string_view progId;  // version-independent
  std::string_view description;
  CLSID clsid;
  std::string_view threadingModel;
  // With a type library, the version-independent ProgID also names its current
  // version (CurVer), and the class key is marked Programmable and names the library.
  const GUID* typeLibrary = nullptr;
};

std::string ClassRegistryScript(const ClassRegistration& registration);
