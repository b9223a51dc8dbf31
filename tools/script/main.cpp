// vellum-script [--allow-folder DIR]... [--max-pixels N] FILE [ARGS...]
//
// Runs a JavaScript file with automation objects at hand:
//   CreateObject(progid)   creates an object registered under the ProgID
//   Enumerator(collection) walks a collection (see script/enumerator.h)
//   print(...)             writes its arguments, separated by spaces, as one line
//   args                   the ARGS, as an array of strings
// A failed automation call throws an Error whose `number` is the HRESULT and whose
// `description` is the error information's description. An uncaught error is written
// to standard error and the exit status is 1 (2 for bad usage).
//
// The components may open any file the process can, unless --allow-folder names the
// folders they are kept to; --max-pixels sets the limit on decoded pixels per image
// (by default VELLUM_MAX_PIXELS or the registry's MaxPixels, else none).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/activation.h"
#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"
#include "platform/policy/pixel_limit.h"
#include "script/script_globals.h"

namespace {

constexpr char kUsage[] =
    "usage: vellum-script [--allow-folder DIR]... [--max-pixels N] FILE [ARGS...]\n";

// Takes the options before FILE; the index of FILE, or 0 for bad usage (reported).
int TakeOptions(int argc, char** argv) {
  std::vector<std::string> folders;
  int at = 1;
  for (; at + 1 < argc && std::strncmp(argv[at], "--", 2) == 0; at += 2) {
    if (std::strcmp(argv[at], "--allow-folder") == 0) {
      folders.push_back(argv[at + 1]);
    } else if (std::strcmp(argv[at], "--max-pixels") == 0) {
      const std::optional<uint64_t> pixels = policy::ParsePixelCount(argv[at + 1]);
      if (!pixels) {
        std::fprintf(stderr, "vellum-script: --max-pixels takes a count: %s\n", argv[at + 1]);
        return 0;
      }
      policy::SetMaxImagePixels(*pixels);
    } else {
      std::fprintf(stderr, "vellum-script: unknown option %s\n%s", argv[at], kUsage);
      return 0;
    }
  }
  if (at >= argc) {
    std::fputs(kUsage, stderr);
    return 0;
  }
  if (const DWORD error = policy::SetAllowedFolders(folders)) {
    std::fprintf(stderr, "vellum-script: cannot allow the folders: %s",
                 SystemMessageText(error).c_str());
    return 0;
  }
  return at;
}

void DefineArgs(duk_context* ctx, int argc, char** argv, int first) {
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
  const int file = TakeOptions(argc, argv);
  if (file == 0) return 2;
  const char* path = argv[file];
  std::string source;
  if (!ReadFile(path, &source)) {
    std::fprintf(stderr, "vellum-script: cannot read %s\n", path);
    return 1;
  }
  duk_context* ctx = script::CreateHeap();
  if (ctx == nullptr) return 1;
  script::DefineCommonGlobals(ctx, stdout);
  DefineArgs(ctx, argc, argv, file + 1);
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
