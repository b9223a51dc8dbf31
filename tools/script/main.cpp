// vellum-script [--strict] [--allow-folder DIR]... [--max-pixels N] [--image-memory MB]
//               FILE [ARGS...]
//
// Runs a JavaScript file with automation objects at hand:
//   CreateObject(progid)   creates an object registered under the ProgID
//   Enumerator(collection) walks a collection (see script/enumerator.h)
//   print(...)             writes its arguments, separated by spaces, as one line
//   args                   the ARGS, as an array of strings
//   eziPNG, eziBrowser...  the enumeration constants of the registered type libraries
// A failed automation call throws an Error whose `number` is the HRESULT and whose
// `description` is the error information's description; with --strict, so does an
// editing call that appends to the object's ErrorDescription. An uncaught error is
// written to standard error and the exit status is 1 (2 for bad usage).
//
// The components may open any file the process can, unless --allow-folder names the
// folders they are kept to; --max-pixels sets the limit on decoded pixels per image
// (by default VELLUM_MAX_PIXELS or the registry's MaxPixels, else none); --image-memory
// caps the memory all images hold together (a larger image fails to be made).
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/activation.h"
#include "platform/kernel/decimal.h"
#include "platform/kernel/global_memory.h"
#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"
#include "platform/policy/pixel_limit.h"
#include "script/program_version.h"
#include "script/script_globals.h"

namespace {

constexpr char kUsage[] =
    "usage: vellum-script [--strict] [--allow-folder DIR]... [--max-pixels N]\n"
    "                     [--image-memory MB] FILE [ARGS...]\n";

constexpr char kHelp[] =
    "Runs a JavaScript (ES5.1) file that creates registered automation objects by\n"
    "ProgID. The script sees CreateObject(progid), Enumerator(collection), print(...),\n"
    "args (the ARGS as strings) and the enumeration constants of every registered type\n"
    "library (eziPNG, eziBrowser, ...) as read-only globals.\n"
    "\n"
    "  --strict    an editing call that appends to an object's ErrorDescription throws\n"
    "              an Error carrying the appended text, instead of returning normally\n"
    "  --allow-folder DIR\n"
    "              keeps the files the objects open inside DIR (repeatable); without it\n"
    "              they may open any file this process can\n"
    "  --max-pixels N\n"
    "              refuses images of more than N decoded pixels (default: VELLUM_MAX_PIXELS,\n"
    "              else the registry value MaxPixels, else no limit)\n"
    "  --image-memory MB\n"
    "              the most memory (in MiB) all images may hold together; making an\n"
    "              image that would pass it fails as out of memory (default: no cap)\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "  --          ends the options (for a FILE whose name starts with '-')\n"
    "\n"
    "The registry is $VELLUM_REGISTRY when set, else ~/.local/share/vellum/registry when\n"
    "it exists, else /var/lib/vellum/registry. Register modules with vellum-regsvr.\n"
    "Exit status: 0 when the script ran to its end, 1 when it threw, 2 for bad usage.\n";

struct Options {
  bool strict = false;
  std::vector<std::string> allowedFolders;
  int fileIndex = 0;  // argv index of FILE
};

bool IsValueOption(std::string_view argument) {
  return argument == "--allow-folder" || argument == "--max-pixels" || argument == "--image-memory";
}

// Caps the global memory, which holds the images, at `value` MiB (1 to 2^24).
bool SetImageMemory(std::string_view value) {
  uint64_t megabytes = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), megabytes);
  if (error != std::errc() || end != value.data() + value.size() || megabytes == 0 ||
      megabytes > (uint64_t{1} << 24)) {
    std::fprintf(stderr, "vellum-script: --image-memory takes megabytes: %.*s\n",
                 static_cast<int>(value.size()), value.data());
    return false;
  }
  // One script runs at a time, so nothing would free memory while it waited.
  SetGlobalMemoryBudget(megabytes << 20, std::chrono::milliseconds(0));
  return true;
}

// Takes an option with a value (IsValueOption); false for bad usage.
bool TakeValueOption(std::string_view option, const char* value, Options* options) {
  if (option == "--allow-folder") {
    options->allowedFolders.push_back(value);
    return true;
  }
  if (option == "--image-memory") return SetImageMemory(value);
  const std::optional<uint64_t> pixels = ParseDecimal(value);
  if (!pixels) {
    std::fprintf(stderr, "vellum-script: --max-pixels takes a count: %s\n", value);
    return false;
  }
  policy::SetMaxImagePixels(*pixels);
  return true;
}

// The exit status when the arguments end the program (help, version, bad usage),
// else -1 with the options filled in.
int ParseArguments(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") {
      ++i;
      break;
    }
    if (argument.empty() || argument[0] != '-' || argument == "-") break;
    if (argument == "--help") {
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    }
    if (argument == "--version") {
      std::printf("%s\n", script::VersionLine("vellum-script").c_str());
      return 0;
    }
    if (IsValueOption(argument) && i + 1 < argc) {
      if (!TakeValueOption(argument, argv[++i], options)) return 2;
      continue;
    }
    if (argument != "--strict") {
      std::fprintf(stderr, "vellum-script: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
    options->strict = true;
  }
  if (i >= argc) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  if (const DWORD error = policy::SetAllowedFolders(options->allowedFolders)) {
    std::fprintf(stderr, "vellum-script: cannot allow the folders: %s",
                 SystemMessageText(error).c_str());
    return 2;
  }
  options->fileIndex = i;
  return -1;
}

void DefineArgs(duk_context* ctx, int first, int argc, char** argv) {
  const duk_idx_t args = duk_push_array(ctx);
  for (int i = first; i < argc; ++i) {
    duk_push_string(ctx, argv[i]);
    duk_put_prop_index(ctx, args, static_cast<duk_uarridx_t>(i - first));
  }
  duk_put_global_string(ctx, "args");
}

bool ReadFile(const char* path, std::string* source) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *source = content.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int ended = ParseArguments(argc, argv, &options);
  if (ended >= 0) return ended;
  const char* path = argv[options.fileIndex];
  std::string source;
  if (!ReadFile(path, &source)) {
    std::fprintf(stderr, "vellum-script: cannot read %s\n", path);
    return 1;
  }
  duk_context* ctx = script::CreateHeap();
  if (ctx == nullptr) return 1;
  script::DefineCommonGlobals(ctx, stdout);
  script::SetStrictErrors(ctx, options.strict);
  DefineArgs(ctx, options.fileIndex + 1, argc, argv);
  int status = 0;
  if (!script::RunSource(ctx, source, path)) {
    std::fprintf(stderr, "vellum-script: %s: %s\n", path, script::ErrorText(ctx).c_str());
    status = 1;
  }
  std::fflush(stdout);
  duk_destroy_heap(ctx);  // releases every object the script still holds
  CoFreeUnusedLibraries();
  return status;
}
