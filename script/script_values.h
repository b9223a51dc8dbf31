// Values crossing between the script engine and automation calls.
//
//   script                         VARIANT
//   integral number (32-bit)   <-> VT_I4 (any integer type comes back as a number)
//   other number               <-> VT_R8 (also R4, CY, DATE)
//   string                     <-> VT_BSTR
//   boolean                    <-> VT_BOOL
//   null, undefined            <-> VT_NULL, VT_EMPTY
//   Uint8Array (or buffer)     <-> VT_ARRAY | VT_UI1
//   array                       -> VT_ARRAY | VT_VARIANT; one-dimensional arrays of
//                                  any element type come back as arrays
//   Date                        -> VT_DATE (comes back as a number of days)
//   automation object          <-> VT_DISPATCH
#pragma once

#include <string>

#include "duktape.h"
#include "platform/com/interfaces.h"

namespace script {

// Texts of the engine (extended UTF-8: surrogates may stand alone as 3-byte sequences)
// to and from UTF-16.
std::u16string EngineTextToUtf16(std::string_view text);
std::string Utf16ToEngineText(std::u16string_view text);
// Engine text as UTF-8 for output: surrogate pairs joined, unpaired ones replaced.
std::string EngineTextToUtf8(std::string_view text);

// Converts the value at `index` into `value` (initialised by the caller). False, with
// `problem` set, for a value that has no VARIANT form (a function, a plain object).
bool ToVariant(duk_context* ctx, duk_idx_t index, VARIANT* value, std::string* problem);

// Pushes the script form of a VARIANT (references are read through). False, with
// `problem` set and nothing pushed, for a value without one (a multi-dimensional array).
bool PushVariant(duk_context* ctx, const VARIANT& value, std::string* problem);

// Pushes the Error a failed call throws: `number` is the HRESULT, `description` the
// error information's description, which is also the message when there is one.
void PushAutomationError(duk_context* ctx, HRESULT hr, const std::u16string& description,
                         const std::string& what);

// Wraps an automation object as a script object (automation_proxy.cpp); pushes it.
void PushAutomationObject(duk_context* ctx, IDispatch* object);
// The automation object a script value wraps, or null.
IDispatch* AutomationObjectAt(duk_context* ctx, duk_idx_t index);

}  // namespace script
