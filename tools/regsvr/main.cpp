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
#include <string_view>

#include "platform/com/activation.h"
#include "platform/com/module_resources.h"
#include "platform/registry/registry_store.h"
#include "script/hresult_text.h"
#include "script/program_version.h"

namespace {

constexpr char kUsage[] = "usage: vellum-regsvr [-u] MODULE\n";

constexpr char kHelp[] =
    "Registers a server module (libvellum.so, libvellumset.so, libvellumdb.so, ...): its\n"
    "classes, ProgIDs and type library go into the registry, where CreateObject finds\n"
    "them and the script runner and the page host read the library's constants.\n"
    "\n"
    "  -u          unregister the module instead\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "The registry written is $VELLUM_REGISTRY when set, else the per-user one,\n"
    "~/.local/share/vellum/registry (made from a copy of the system registry,\n"
    "/var/lib/vellum/registry, when it does not exist yet).\n"
    "Exit status: 0 on success, 1 on failure, 2 for bad usage.\n";

// The exit status when the arguments end the program (help, version, bad usage),
// else -1 with the module and mode filled in.
int ParseArguments(int argc, char** argv, bool* unregister, const char** modulePath) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && argument == "--help") {
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    } else if (!optionsEnded && argument == "--version") {
      std::printf("%s\n", script::VersionLine("vellum-regsvr").c_str());
      return 0;
    } else if (!optionsEnded && argument == "-u") {
      *unregister = true;
    } else if (!optionsEnded && argument.starts_with("-")) {
      std::fprintf(stderr, "vellum-regsvr: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    } else if (*modulePath != nullptr) {
      std::fprintf(stderr, "vellum-regsvr: one MODULE at a time\n%s", kUsage);
      return 2;
    } else {
      *modulePath = argv[i];
    }
  }
  if (*modulePath != nullptr) return -1;
  std::fprintf(stderr, "%s", kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  const char* modulePath = nullptr;
  const int ended = ParseArguments(argc, argv, &unregister, &modulePath);
  if (ended >= 0) return ended;

  // The module registers the path it was loaded from, so load it by its full path.
  char resolved[PATH_MAX];
  if (realpath(modulePath, resolved) == nullptr) {
    std::fprintf(stderr, "vellum-regsvr: %s: %s\n", modulePath, std::strerror(errno));
    return 1;
  }
  void* module = OpenServerModule(resolved);
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
    std::fprintf(stderr, "vellum-regsvr: %s in %s failed (registry %s): %s\n", entryName, resolved,
                 registry::WrittenRegistryPath().c_str(), HresultText(hr).c_str());
    return 1;
  }
  std::printf("%s in %s succeeded (registry %s).\n", entryName, resolved,
              registry::WrittenRegistryPath().c_str());
  return 0;
}
