// The database module's lock count, held by every object the module hands out and by its
// ServerModule (module.cpp), so objects keep the module loaded without knowing it.
#pragma once

#include "platform/server/module_lock.h"

namespace database {

inline ModuleLockCount& ModuleLocks() {
  static ModuleLockCount locks;
  return locks;
}

}  // namespace database
