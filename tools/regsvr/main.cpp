// vellum-regsvr [-u] MODULE
//
// Registers an in-process server module (its DllRegisterServer) or, with -u,
// unregisters it (DllUnregisterServer), in the registry named by VELLUM_REGISTRY or
// the user's default one. Exit status 0 on success, 1 on failure, 2 for bad usage.
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/activation.h"
#include "platform/registry/registry_store.h"
#include "script/hresult_text.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vellum-regsvr [-u] MODULE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  const char* modulePath = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0) {
      unregister = true;
    } else if (argv[i][0] == '-' || modulePath != nullptr) {
      return Usage();
    } else {
      modulePath = argv[i];
    }
  }
  if (modulePath == nullptr) return Usage();

  // The module registers the path it was loaded from, so load it by its full path.
  char resolved[PATH_MAX];
  if (realpath(modulePath, resolved) == nullptr) {
    std::fprintf(stderr, "vellum-regsvr: %s: %s\n", modulePath, std::strerror(errno));
    return 1;
  }
  void* module = dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "vellum-regsvr: cannot load %s: %s\n", resolved, dlerror());
    return 1;
  }
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const auto entry = reinterpret_cast<DllRegisterServerFunction>(dlsym(module, entryName));
  if (entry == nullptr) {
    std::fprintf(stderr, "vellum-regsvr: %s has no %s entry\n", resolved, entryName);
    dlclose(module);
    return 1;
  }
  const HRESULT hr = entry();
  dlclose(module);
  if (FAILED(hr)) {
    std::fprintf(stderr, "vellum-regsvr: %s in %s failed: %s\n", entryName, resolved,
                 HresultText(hr).c_str());
    return 1;
  }
  std::printf("%s in %s succeeded (registry %s).\n", entryName, resolved,
              registry::RegistryPath().c_str());
  return 0;
}
