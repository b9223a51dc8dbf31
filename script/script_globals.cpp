#include "script/script_globals.h"

#include <algorithm>
#include <cstdlib>

#include "platform/com/activation.h"
#include "script/enumerator.h"
#include "script/hresult_text.h"
#include "script/registration_hint.h"
#include "script/script_values.h"
#include "script/type_constants.h"

namespace script {

namespace {

constexpr const char* kStreamKey = DUK_HIDDEN_SYMBOL("stream");
// A hidden key, as an array so that the engine finds it through its cache of literals:
// every automation call reads it.
constexpr char kStrictKey[] =
    "\xFF"
    "strictErrors";

duk_ret_t Print(duk_context* ctx) {
  const duk_idx_t count = duk_get_top(ctx);
  std::string line;
  for (duk_idx_t i = 0; i < count; ++i) {
    if (i > 0) line += ' ';
    line += EngineTextToUtf8(duk_safe_to_string(ctx, i));
  }
  line += '\n';
  duk_push_current_function(ctx);
  duk_get_prop_string(ctx, -1, kStreamKey);
  auto* stream = static_cast<std::FILE*>(duk_get_pointer(ctx, -1));
  std::fwrite(line.data(), 1, line.size(), stream);
  return 0;
}

// Leaves the new object, or the Error to throw, on the stack; true for an error.
bool PushNewObject(duk_context* ctx, std::string_view progId) {
  const Bstr name(EngineTextToUtf16(progId));
  CLSID clsid;
  IDispatch* object = nullptr;
  HRESULT hr = CLSIDFromProgID(name.Get(), &clsid);
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&object));
  }
  if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG) {
    PushAutomationError(ctx, hr, EngineTextToUtf16(UnregisteredClassText(progId)), "");
    return true;
  }
  if (FAILED(hr)) {
    PushAutomationError(ctx, hr, u"", "cannot create '" + std::string(progId) + "'");
    return true;
  }
  PushAutomationObject(ctx, object);
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

// Puts " [code]" after the message in an error's text (before its stack lines), unless
// the message already names the code.
void AddCodeAfterMessage(const std::string& code, const std::string& message, std::string* text) {
  if (message.find(code) != std::string::npos) return;
  const size_t start = message.empty() ? std::string::npos : text->find(message);
  size_t end = start == std::string::npos ? std::min(text->find('\n'), text->size())
                                          : start + message.size();
  while (end > 0 && ((*text)[end - 1] == '\n' || (*text)[end - 1] == '\r')) --end;
  text->insert(end, " [" + code + "]");
}

void Fatal(void*, const char* message) {
  std::fprintf(stderr, "script engine: fatal: %s\n", message != nullptr ? message : "");
  std::abort();
}

}  // namespace

duk_context* CreateHeap() { return duk_create_heap(nullptr, nullptr, nullptr, nullptr, Fatal); }

void DefineCommonGlobals(duk_context* ctx, std::FILE* stream) {
  duk_push_c_function(ctx, Print, DUK_VARARGS);
  duk_push_pointer(ctx, stream);
  duk_put_prop_string(ctx, -2, kStreamKey);
  duk_put_global_string(ctx, "print");
  duk_push_c_function(ctx, CreateObject, 1);
  duk_put_global_string(ctx, "CreateObject");
  DefineEnumerator(ctx);
  DefineTypeLibraryConstants(ctx);
}

void SetStrictErrors(duk_context* ctx, bool strict) {
  duk_push_global_stash(ctx);
  duk_push_boolean(ctx, strict);
  duk_put_prop_literal(ctx, -2, kStrictKey);
  duk_pop(ctx);
}

bool StrictErrors(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_get_prop_literal(ctx, -1, kStrictKey);
  const bool strict = duk_get_boolean_default(ctx, -1, false);
  duk_pop_2(ctx);
  return strict;
}

bool RunSource(duk_context* ctx, std::string_view source, const char* fileName) {
  duk_push_string(ctx, fileName);
  return duk_pcompile_lstring_filename(ctx, 0, source.data(), source.size()) == 0 &&
         duk_pcall(ctx, 0) == DUK_EXEC_SUCCESS;
}

std::string ErrorText(duk_context* ctx) {
  std::string text;
  if (duk_is_error(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "stack");
    text = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    duk_get_prop_string(ctx, -1, "message");
    const std::string message = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    if (duk_get_prop_string(ctx, -1, "number") && duk_is_number(ctx, -1)) {
      AddCodeAfterMessage(HresultText(static_cast<HRESULT>(duk_get_int(ctx, -1))), message, &text);
    }
    duk_pop(ctx);
  } else {
    text = duk_safe_to_string(ctx, -1);
  }
  return EngineTextToUtf8(text);
}

namespace {

// A frame line "    at name (file:line) flags": the file and line in brackets.
bool FrameLocation(std::string_view frame, std::string* file, int* line) {
  const size_t open = frame.find(" (");
  const size_t close = frame.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return false;
  }
  const std::string_view place = frame.substr(open + 2, close - open - 2);
  const size_t colon = place.rfind(':');
  if (colon == std::string_view::npos || colon + 1 == place.size()) return false;
  int number = 0;
  for (const char c : place.substr(colon + 1)) {
    if (c < '0' || c > '9' || number > 100000000) return false;
    number = number * 10 + (c - '0');
  }
  *file = place.substr(0, colon);
  *line = number;
  return true;
}

}  // namespace

ErrorReport ErrorReportOf(duk_context* ctx) {
  ErrorReport report;
  duk_dup(ctx, -1);  // duk_safe_to_string replaces the value by its text
  report.message = EngineTextToUtf8(duk_safe_to_string(ctx, -1));
  duk_pop(ctx);
  if (!duk_is_error(ctx, -1)) return report;
  if (duk_get_prop_string(ctx, -1, "number") && duk_is_number(ctx, -1)) {
    const std::string code = HresultText(static_cast<HRESULT>(duk_get_int(ctx, -1)));
    if (report.message.find(code) == std::string::npos) report.message += " [" + code + "]";
  }
  duk_pop(ctx);
  duk_get_prop_string(ctx, -1, "stack");
  const std::string stack = EngineTextToUtf8(duk_safe_to_string(ctx, -1));
  duk_pop(ctx);
  // Frames of the engine's C code carry "internal" and a source path of ours: left out.
  size_t start = stack.find('\n');
  while (start != std::string::npos) {
    const size_t end = stack.find('\n', start + 1);
    const std::string_view frame = std::string_view(stack).substr(
        start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    start = end;
    if (frame.ends_with(" internal") || frame.find(" internal ") != std::string_view::npos) {
      continue;
    }
    if (report.file.empty() && frame.find(") native") == std::string_view::npos) {
      FrameLocation(frame, &report.file, &report.line);
    }
    report.stack += std::string(frame) + "\n";
  }
  return report;
}

}  // namespace script
