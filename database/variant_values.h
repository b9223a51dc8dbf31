// Values crossing between scripts (VARIANTs) and the engines.
//
//   script value (VARIANT)            engine value
//   Empty, Null                       NULL
//   Boolean                           boolean (1 or 0 where the engine has no booleans)
//   any integer type                  64-bit integer
//   Single, Double, Currency          real
//   String                            text (UTF-8)
//   byte array                        bytes (bound without a copy)
//   object                            its default value (a Field's Value)
//
// and back: integers as Long (64-bit beyond its range), reals as Double, booleans as
// Boolean, texts as String, bytes as a byte array, NULL as Null.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "database/engine.h"
#include "platform/com/variant.h"

namespace database {

// Engine text (UTF-8, perhaps malformed: malformed sequences become U+FFFD) as a BSTR;
// null when out of memory.
BSTR AllocBstrFromEngineText(std::string_view text);

// The value a script's value stands for, owning its bytes; for a field of `kind`
// (kNull: any kind) it is converted to that kind first. DISP_E_TYPEMISMATCH or
// DISP_E_OVERFLOW (with `problem` set) when it cannot be.
HRESULT ValueForColumn(const VARIANT& value, ValueKind kind, Value* out, std::string* problem);

// A stored value as a script reads it; `type` is the column's type (an integer of a
// boolean column reads as a Boolean).
HRESULT VariantOfValue(const ValueView& value, DataType type, VARIANT* out);

// The values a script binds to a statement: nothing (missing or Empty), an array of
// values, a dictionary (an object with Keys and Items) of named values, or a single
// value. Byte arrays are bound where they lie: the argument must outlive the binding.
class ScriptParameters {
 public:
  HRESULT Read(const VARIANT& argument, std::string* problem);
  const Parameters& Get() const { return parameters_; }

 private:
  HRESULT Add(const VARIANT& value, std::string* problem, int depth = 0);
  HRESULT ReadArray(SAFEARRAY* array, std::string* problem);
  HRESULT ReadDictionary(IDispatch* dictionary, std::string* problem);

  Parameters parameters_;
  std::deque<std::string> texts_;  // converted texts the views point into
  std::deque<Variant> kept_;       // values fetched from objects, kept while bound
};

}  // namespace database
