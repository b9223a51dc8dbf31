#include "platform/com/module_resources.h"

#include <dlfcn.h>

void* OpenServerModule(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

bool FindModuleResource(void* module, const char* type, UINT id, std::string* bytes) {
  if (module == nullptr || bytes == nullptr) return false;
  const auto lookup =
      reinterpret_cast<ModuleResourceFunction>(dlsym(module, kModuleResourceSymbol));
  const void* data = nullptr;
  DWORD size = 0;
  if (lookup == nullptr || !lookup(type, id, &data, &size) || data == nullptr) return false;
  bytes->assign(static_cast<const char*>(data), size);
  return true;
}
