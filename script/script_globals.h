// What every program that runs scripts over automation objects gives them, and how it
// runs them: a heap, the common globals, a protected run, and the text of an uncaught
// error.
//
//   CreateObject(progid)   creates an object registered under the ProgID
//   Enumerator(collection) walks a collection (see script/enumerator.h)
//   print(...)             writes its arguments, separated by spaces, as one line
//   eziPNG, eziBrowser...  the enumeration constants of the registered type libraries,
//                          read-only (see script/type_constants.h)
//
// A failed automation call throws an Error whose `number` is the HRESULT and whose
// `description` is the error information's description.
//
// Strict errors: editing methods of the image generator report most failures by
// appending to the object's ErrorDescription and returning normally. With strict
// errors on, a method call after which the object's ErrorDescription has grown throws
// an Error (number DISP_E_EXCEPTION) whose description is the text the call appended.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "duktape.h"

namespace script {

// A new engine heap; a fatal engine error is reported and aborts the process.
duk_context* CreateHeap();

// Defines CreateObject, Enumerator, print writing its lines to `stream`, and the
// registered enumeration constants.
void DefineCommonGlobals(duk_context* ctx, std::FILE* stream);

// Turns strict errors on or off for the heap (off in a new heap).
void SetStrictErrors(duk_context* ctx, bool strict);
bool StrictErrors(duk_context* ctx);

// Compiles and runs `source`; false with the error left on top of the stack.
bool RunSource(duk_context* ctx, std::string_view source, const char* fileName);

// The error on top of the stack as UTF-8: its stack trace (or text), with its number
// as an HRESULT text ("DISP_E_EXCEPTION (0x80020009)") after the first line when it
// has one.
std::string ErrorText(duk_context* ctx);

// An uncaught error told without the engine's insides, for a page's error report.
struct ErrorReport {
  std::string message;  // "Error: text", and the HRESULT text when it has a number
  std::string file;     // of the innermost script frame ("" when none is known)
  int line = 0;         // in `file`; 0 when unknown
  std::string stack;    // the script's frames, one per line, without the engine's own
};

// The report of the error on top of the stack (left there).
ErrorReport ErrorReportOf(duk_context* ctx);

}  // namespace script
