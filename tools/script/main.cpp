// vellum-script FILE [ARGS...]
//
// Runs a JavaScript file with automation objects at hand:
//   CreateObject(progid)   creates an object registered under the ProgID
//   Enumerator(collection) walks a collection (see tools/script/enumerator.h)
//   print(...)             writes its arguments, separated by spaces, as one line
//   args                   the ARGS, as an array of strings
// A failed automation call throws an Error whose `number` is the HRESULT and whose
// `description` is the error information's description. An uncaught error is written
// to standard error and the exit status is 1 (2 for bad usage).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "duktape.h"
#include "platform/com/activation.h"
#include "tools/common/hresult_text.h"
#include "tools/script/enumerator.h"
#include "tools/script/script_values.h"

namespace {

duk_ret_t Print(duk_context* ctx) {
  const duk_idx_t count = duk_get_top(ctx);
  std::string line;
  for (duk_idx_t i = 0; i < count; ++i) {
    if (i > 0) line += ' ';
    line += script::EngineTextToUtf8(duk_safe_to_string(ctx, i));
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  return 0;
}

// Leaves the new object, or the Error to throw, on the stack; true for an error.
bool PushNewObject(duk_context* ctx, std::string_view progId) {
  const Bstr name(script::EngineTextToUtf16(progId));
  CLSID clsid;
  IDispatch* object = nullptr;
  HRESULT hr = CLSIDFromProgID(name.Get(), &clsid);
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&object));
  }
  if (FAILED(hr)) {
    const std::string message = "cannot create '" + std::string(progId) + "': " + HresultText(hr);
    duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", message.c_str());
    duk_push_int(ctx, hr);
    duk_put_prop_string(ctx, -2, "number");
    duk_push_string(ctx, "");
    duk_put_prop_string(ctx, -2, "description");
    return true;
  }
  script::PushAutomationObject(ctx, object);
  object->Release();
  return false;
}

// CreateObject(progid): the object, or an Error carrying the activation's HRESULT. The
// work is done in PushNewObject so that nothing needs destroying when the Error is thrown.
duk_ret_t CreateObject(duk_context* ctx) {
  duk_size_t length = 0;
  const char* name = duk_require_lstring(ctx, 0, &length);
  if (PushNewObject(ctx, std::string_view(name, length))) return duk_throw(ctx);
  return 1;
}

void DefineGlobals(duk_context* ctx, int argc, char** argv) {
  duk_push_c_function(ctx, Print, DUK_VARARGS);
  duk_put_global_string(ctx, "print");
  duk_push_c_function(ctx, CreateObject, 1);
  duk_put_global_string(ctx, "CreateObject");
  script::DefineEnumerator(ctx);
  const duk_idx_t args = duk_push_array(ctx);
  for (int i = 2; i < argc; ++i) {
    duk_push_string(ctx, argv[i]);
    duk_put_prop_index(ctx, args, static_cast<duk_uarridx_t>(i - 2));
  }
  duk_put_global_string(ctx, "args");
}

// Writes the error on top of the stack: its stack trace (or text) and its number.
void ReportError(duk_context* ctx, const char* file) {
  std::string text;
  if (duk_is_error(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "stack");
    text = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    if (duk_get_prop_string(ctx, -1, "number") && duk_is_number(ctx, -1)) {
      text += " (" + HresultText(static_cast<HRESULT>(duk_get_int(ctx, -1))) + ")";
    }
    duk_pop(ctx);
  } else {
    text = duk_safe_to_string(ctx, -1);
  }
  std::fprintf(stderr, "vellum-script: %s: %s\n", file, script::EngineTextToUtf8(text).c_str());
}

void Fatal(void*, const char* message) {
  std::fprintf(stderr, "vellum-script: fatal: %s\n", message != nullptr ? message : "");
  std::abort();
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
  duk_context* ctx = duk_create_heap(nullptr, nullptr, nullptr, nullptr, Fatal);
  if (ctx == nullptr) return 1;
  DefineGlobals(ctx, argc, argv);
  duk_push_string(ctx, argv[1]);
  int status = 0;
  if (duk_pcompile_lstring_filename(ctx, 0, source.data(), source.size()) != 0 ||
      duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS) {
    ReportError(ctx, argv[1]);
    status = 1;
  }
  std::fflush(stdout);
  duk_destroy_heap(ctx);  // releases every object the script still holds
  CoFreeUnusedLibraries();
  return status;
}
