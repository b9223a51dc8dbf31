// vellum-reference [--check] DIR (--module MODULE NOTES | --page-objects FILE NOTES)...
//
// Writes the member reference into DIR: a page per object, one per library with its
// enumerations, and an index (reference_pages.h). A module gives its type library (its
// "TYPELIB" resource) and its registration (registered into a scratch registry, which
// tells each class's ProgID and threading model); --page-objects reads the page objects'
// library from a file in its serialised form (what vellum-pages-library writes). NOTES
// is the library's prose (notes.h).
// With --check, DIR is compared with what would be written instead, and the exit
// status is 1 when they differ. Exit status 1 on any problem, 2 for bad usage.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation/type_library_file.h"
#include "platform/com/activation.h"
#include "platform/com/guid.h"
#include "platform/com/module_resources.h"
#include "platform/registry/registry_store.h"
#include "script/hresult_text.h"
#include "script/program_version.h"
#include "tools/reference/reference_pages.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: vellum-reference [--check] DIR (--module MODULE NOTES | --page-objects FILE "
    "NOTES)...\n";

constexpr char kHelp[] =
    "Writes the member reference (Markdown) into DIR from the type libraries of the\n"
    "given server modules and of the page objects, with the prose of each library's\n"
    "NOTES file. Every object and member needs its notes; notes of something the\n"
    "library does not have are refused.\n"
    "\n"
    "  --module MODULE NOTES      a server module (its type library and registration)\n"
    "  --page-objects FILE NOTES  the page objects' type library, serialised\n"
    "  --check                    compare DIR with what would be written; exit 1 if they\n"
    "                             differ\n"
    "  --help                     print this help and exit\n"
    "  --version                  print the version and exit\n";

struct Source {
  bool pageObjects = false;
  std::string library;  // the module, or the file of the page objects' library
  std::string notes;
};

struct Arguments {
  bool check = false;
  std::string directory;
  std::vector<Source> sources;
};

// The exit status when the arguments end the program, else -1.
int ParseArguments(int argc, char** argv, Arguments* arguments) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help") {
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    }
    if (argument == "--version") {
      std::printf("%s\n", script::VersionLine("vellum-reference").c_str());
      return 0;
    }
    if (argument == "--check") {
      arguments->check = true;
    } else if ((argument == "--module" || argument == "--page-objects") && i + 2 < argc) {
      arguments->sources.push_back({argument == "--page-objects", argv[i + 1], argv[i + 2]});
      i += 2;
    } else if (!argument.starts_with("-") && arguments->directory.empty()) {
      arguments->directory = argv[i];
    } else {
      std::fprintf(stderr, "vellum-reference: unexpected argument %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (!arguments->directory.empty() && !arguments->sources.empty()) return -1;
  std::fprintf(stderr, "%s", kUsage);
  return 2;
}

bool ReadText(const fs::path& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return true;
}

// A registry of our own, so that registering the modules touches no real one.
class ScratchRegistry {
 public:
  ScratchRegistry() {
    std::string pattern = (fs::temp_directory_path() / "vellum-reference-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) directory_ = pattern;
    if (!directory_.empty()) setenv("VELLUM_REGISTRY", (directory_ / "registry").c_str(), 1);
  }
  ~ScratchRegistry() {
    std::error_code ignored;
    if (!directory_.empty()) fs::remove_all(directory_, ignored);
  }
  bool Ready() const { return !directory_.empty(); }

 private:
  fs::path directory_;
};

std::string ClassValue(const GUID& clsid, const std::string& subkey, const std::string& name) {
  std::string value;
  const std::string path = "CLSID\\" + GuidToString(clsid) + (subkey.empty() ? "" : "\\" + subkey);
  return registry::QueryClassesRoot(path, name, &value) == S_OK ? value : std::string();
}

// Loads a module's type library and registers the module to learn its classes'
// ProgIDs; false with the problem reported.
bool LoadModule(const std::string& path, reference::DocumentedLibrary* documented,
                std::vector<std::string>* problems) {
  std::error_code error;
  const fs::path resolved = fs::canonical(path, error);
  void* module = error ? nullptr : OpenServerModule(resolved.c_str());
  if (module == nullptr) {
    problems->push_back("cannot load " + path + (error ? ": " + error.message() : ""));
    return false;
  }
  std::string bytes;
  std::unique_ptr<automation::TypeLibraryDesc> library;
  if (FindModuleResource(module, kTypeLibResource, 1, &bytes)) {
    library = automation::ParseTypeLibrary(bytes);
  }
  const auto registerServer =
      reinterpret_cast<DllRegisterServerFunction>(dlsym(module, "DllRegisterServer"));
  const HRESULT registered = registerServer != nullptr ? registerServer() : E_NOTIMPL;
  dlclose(module);
  if (library == nullptr) {
    problems->push_back(path + " carries no readable type library");
    return false;
  }
  if (FAILED(registered)) {
    problems->push_back("registering " + path + " failed: " + HresultText(registered));
    return false;
  }
  documented->library = std::move(*library);
  documented->origin = resolved.filename().string();
  for (const automation::ClassDesc& klass : documented->library.classes) {
    reference::ClassRegistration& registration = documented->registrations[klass.name];
    registration.progId = ClassValue(klass.clsid, "VersionIndependentProgID", "");
    registration.versionedProgId = ClassValue(klass.clsid, "ProgID", "");
    if (registration.progId.empty()) std::swap(registration.progId, registration.versionedProgId);
    registration.threadingModel = ClassValue(klass.clsid, "InprocServer32", "ThreadingModel");
  }
  return true;
}

// The page objects' library, from its serialised form.
bool LoadPageObjects(const std::string& path, reference::DocumentedLibrary* documented,
                     std::vector<std::string>* problems) {
  std::string bytes;
  std::unique_ptr<automation::TypeLibraryDesc> library;
  if (ReadText(path, &bytes)) library = automation::ParseTypeLibrary(bytes);
  if (library == nullptr) {
    problems->push_back(path + " is not a readable type library");
    return false;
  }
  documented->library = std::move(*library);
  documented->origin = "the page host, `vellum-host`";
  return true;
}

bool LoadSource(const Source& source, reference::DocumentedLibrary* documented,
                std::vector<std::string>* problems) {
  const bool loaded = source.pageObjects ? LoadPageObjects(source.library, documented, problems)
                                         : LoadModule(source.library, documented, problems);
  if (!loaded) return false;
  std::string text;
  if (!ReadText(source.notes, &text)) {
    problems->push_back("cannot read " + source.notes);
    return false;
  }
  documented->notesFile = source.notes;
  documented->notes = reference::ParseNotes(text, source.notes, problems);
  return true;
}

// Compares or writes the pages; the exit status.
int Publish(const std::map<std::string, std::string>& pages, const fs::path& directory,
            bool check) {
  std::vector<std::string> differences;
  std::error_code error;
  if (!check) fs::create_directories(directory, error);
  for (const auto& [name, text] : pages) {
    std::string current;
    const bool present = ReadText(directory / name, &current);
    if (present && current == text) continue;
    differences.push_back((directory / name).string() + (present ? " differs" : " is missing"));
    if (!check) {
      std::ofstream file(directory / name, std::ios::binary | std::ios::trunc);
      file << text;
      if (!file.flush()) {
        std::fprintf(stderr, "vellum-reference: cannot write %s\n", (directory / name).c_str());
        return 1;
      }
    }
  }
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".md" || pages.contains(name)) continue;
    differences.push_back(entry.path().string() + " is not generated any more");
    if (!check) fs::remove(entry.path(), error);
  }
  if (check) {
    for (const std::string& difference : differences) {
      std::fprintf(stderr, "vellum-reference: %s\n", difference.c_str());
    }
    if (differences.empty()) return 0;
    std::fprintf(stderr,
                 "vellum-reference: %s is out of date; regenerate it with: bash "
                 "scripts/reference.sh\n",
                 directory.c_str());
    return 1;
  }
  std::printf("%zu pages in %s, %zu changed\n", pages.size(), directory.c_str(),
              differences.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  const int ended = ParseArguments(argc, argv, &arguments);
  if (ended >= 0) return ended;
  const ScratchRegistry registry;
  if (!registry.Ready()) {
    std::fprintf(stderr, "vellum-reference: cannot make a scratch registry\n");
    return 1;
  }
  std::vector<std::string> problems;
  std::vector<reference::DocumentedLibrary> libraries;
  for (const Source& source : arguments.sources) {
    reference::DocumentedLibrary documented;
    if (LoadSource(source, &documented, &problems)) libraries.push_back(std::move(documented));
  }
  const std::map<std::string, std::string> pages = reference::MakePages(libraries, &problems);
  CoFreeUnusedLibraries();
  if (!problems.empty()) {
    for (const std::string& problem : problems) {
      std::fprintf(stderr, "vellum-reference: %s\n", problem.c_str());
    }
    return 1;
  }
  return Publish(pages, arguments.directory, arguments.check);
}
