// vellum-script FILE [ARGS...]
//
// Runs a JavaScript file with automation objects at hand:
//   CreateObject(progid)   creates an object registered under the ProgID
//   Enumerator(collection) walks a collection (see script/enumerator.h)
//   print(...)             writes its arguments, separated by spaces, as one line
//   args                   the ARGS, as an array of strings
// A failed automation call throws an Error whose `number` is the HRESULT and whose
// `description` is the error information's description. An uncaught error is written
// to standard error and the exit status is 1 (2 for bad usage).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/com/activation.h"
#include "script/script_globals.h"

namespace {

void DefineArgs(duk_context* ctx, int argc, char** argv) {
  const duk_idx_t args = duk_push_array(ctx);
  for (int i = 2; i < argc; ++i) {
    duk_push_string(ctx, argv[i]);
    duk_put_prop_index(ctx, args, static_cast<duk_uarridx_t>(i - 2));
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
  if (argc < 2) {
    std::fprintf(stderr, "usage: vellum-script FILE [ARGS...]\n");
    return 2;
  }
  std::string source;
  if (!ReadFile(argv[1], &source)) {
    std::fprintf(stderr, "vellum-script: cannot read %s\n", argv[1]);
    return 1;
  }
  duk_context* ctx = script::CreateHeap();
  if (ctx == nullptr) return 1;
  script::DefineCommonGlobals(ctx, stdout);
  DefineArgs(ctx, argc, argv);
  int status = 0;
  if (!script::RunSource(ctx, source, argv[1])) {
    std::fprintf(stderr, "vellum-script: %s: %s\n", argv[1], script::ErrorText(ctx).c_str());
    status = 1;
  }
  std::fflush(stdout);
  duk_destroy_heap(ctx);  // releases every object the script still holds
  CoFreeUnusedLibraries();
  return status;
}
