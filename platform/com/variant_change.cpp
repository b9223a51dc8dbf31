// VariantChangeType: the standard coercions between the automation types.
//
// Every scalar source is first read into a Number (an exact integer, a real or a
// currency amount), which is then written in the target type with its range checks.
// Reals become integers by rounding half to even; a value out of range is
// DISP_E_OVERFLOW; a text that is not a number is DISP_E_TYPEMISMATCH.
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/com/interfaces.h"
#include "platform/com/safe_array.h"

namespace {

struct Number {
  enum Kind { kSigned, kUnsigned, kReal, kCurrency } kind = kSigned;
  int64_t integer = 0;  // kSigned, and kCurrency (value times 10,000)
  uint64_t unsignedInteger = 0;
  double real = 0;

  static Number Signed(int64_t v) { return {kSigned, v, 0, 0}; }
  static Number Unsigned(uint64_t v) { return {kUnsigned, 0, v, 0}; }
  static Number Real(double v) { return {kReal, 0, 0, v}; }
  static Number Currency(int64_t scaled) { return {kCurrency, scaled, 0, 0}; }

  double AsDouble() const {
    switch (kind) {
      case kSigned:
        return static_cast<double>(integer);
      case kUnsigned:
        return static_cast<double>(unsignedInteger);
      case kCurrency:
        return static_cast<double>(integer) / 10000.0;
      default:
        return real;
    }
  }
};

bool IsIntegerType(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool IsUnsignedType(VARTYPE type) {
  return type == VT_UI1 || type == VT_UI2 || type == VT_UI4 || type == VT_UI8 || type == VT_UINT;
}

// The range of an integer type, as the signed bounds of its values (UI8 is special).
void IntegerRange(VARTYPE type, int64_t& low, int64_t& high) {
  switch (type) {
    case VT_I1:
      low = INT8_MIN, high = INT8_MAX;
      break;
    case VT_UI1:
      low = 0, high = UINT8_MAX;
      break;
    case VT_I2:
      low = INT16_MIN, high = INT16_MAX;
      break;
    case VT_UI2:
      low = 0, high = UINT16_MAX;
      break;
    case VT_I4:
    case VT_INT:
      low = INT32_MIN, high = INT32_MAX;
      break;
    case VT_UI4:
    case VT_UINT:
      low = 0, high = UINT32_MAX;
      break;
    case VT_UI8:
      low = 0, high = INT64_MAX;
      break;
    default:
      low = INT64_MIN, high = INT64_MAX;
      break;
  }
}

// Rounds half to even, the rule of every real-to-integer coercion.
double RoundHalfEven(double value) { return std::nearbyint(value); }

// ---- reading a text ----

bool IsSpace(char16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::u16string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
    if (c != static_cast<char16_t>(word[i])) return false;
  }
  return true;
}

// "&H1F" and "&O17": hexadecimal and octal integers.
bool ParseRadixInteger(std::u16string_view text, Number& number) {
  if (text.size() < 3 || text[0] != '&') return false;
  const char16_t marker = text[1];
  const int radix = (marker == 'H' || marker == 'h')   ? 16
                    : (marker == 'O' || marker == 'o') ? 8
                                                       : 0;
  if (radix == 0) return false;
  uint64_t value = 0;
  for (char16_t c : text.substr(2)) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (radix == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (radix == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0 || digit >= radix || value > (UINT64_MAX >> 4)) return false;
    value = value * radix + static_cast<uint64_t>(digit);
  }
  number = Number::Unsigned(value);
  return true;
}

// A decimal number: optional sign, digits with an optional fraction, optional exponent.
// Integral texts that fit 64 bits stay exact; a value beyond the reals is refused.
HRESULT ParseDecimal(std::u16string_view text, Number& number) {
  std::string ascii;
  bool integral = true;
  size_t digits = 0;
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') ascii += '-';
    ++i;
  }
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) ascii += char(text[i]);
  if (i < text.size() && text[i] == '.') {
    integral = false;
    ascii += '.';
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      ascii += char(text[i]);
    }
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    integral = false;
    ascii += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ascii += char(text[i++]);
    const size_t exponentStart = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ascii += char(text[i]);
    if (i == exponentStart) return DISP_E_TYPEMISMATCH;
  }
  if (i != text.size()) return DISP_E_TYPEMISMATCH;
  const char* first = ascii.data();
  const char* last = ascii.data() + ascii.size();
  if (integral) {
    int64_t value = 0;
    if (std::from_chars(first, last, value).ec == std::errc()) {
      number = Number::Signed(value);
      return S_OK;
    }
  }
  // The syntax is checked above, so strtod sees only digits, sign, point and exponent;
  // the "C" locale keeps the point a point whatever the process's locale is.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  const double real = strtod_l(first, nullptr, cLocale);
  if (std::isinf(real)) return DISP_E_OVERFLOW;
  number = Number::Real(real);
  return S_OK;
}

HRESULT ParseNumber(BSTR text, Number& number) {
  const std::u16string_view trimmed = Trim(BstrView(text));
  if (ParseRadixInteger(trimmed, number)) return S_OK;
  return ParseDecimal(trimmed, number);
}

// ---- reading a source value ----

HRESULT ReadNumber(const VARIANT& source, Number& number) {
  switch (source.vt) {
    case VT_EMPTY:
      number = Number::Signed(0);
      return S_OK;
    case VT_BOOL:
    case VT_I2:
      number = Number::Signed(source.iVal);
      return S_OK;
    case VT_I1:
      number = Number::Signed(source.cVal);
      return S_OK;
    case VT_UI1:
      number = Number::Signed(source.bVal);
      return S_OK;
    case VT_UI2:
      number = Number::Signed(source.uiVal);
      return S_OK;
    case VT_I4:
    case VT_INT:
      number = Number::Signed(source.lVal);
      return S_OK;
    case VT_UI4:
    case VT_UINT:
      number = Number::Signed(source.ulVal);
      return S_OK;
    case VT_I8:
      number = Number::Signed(source.llVal);
      return S_OK;
    case VT_UI8:
      number = Number::Unsigned(source.ullVal);
      return S_OK;
    case VT_R4:
      number = Number::Real(source.fltVal);
      return S_OK;
    case VT_R8:
    case VT_DATE:
      number = Number::Real(source.dblVal);
      return S_OK;
    case VT_CY:
      number = Number::Currency(source.cyVal.int64);
      return S_OK;
    case VT_BSTR:
      return ParseNumber(source.bstrVal, number);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// ---- writing the target ----

HRESULT WriteInteger(const Number& number, VARTYPE type, VARIANT& target) {
  int64_t low = 0;
  int64_t high = 0;
  IntegerRange(type, low, high);
  uint64_t bits = 0;  // the value as the target's bits
  if (number.kind == Number::kUnsigned) {
    if (type != VT_UI8 && number.unsignedInteger > static_cast<uint64_t>(high)) {
      return DISP_E_OVERFLOW;
    }
    bits = number.unsignedInteger;
  } else if (number.kind == Number::kSigned) {
    if (number.integer < low || (type != VT_UI8 && number.integer > high)) return DISP_E_OVERFLOW;
    bits = static_cast<uint64_t>(number.integer);
  } else {
    const double rounded = RoundHalfEven(number.AsDouble());
    if (number.kind == Number::kCurrency) {
      // Exact for currency: the scaled integer divided by 10,000, ties to even.
      const int64_t whole = number.integer / 10000;
      const int64_t rest = number.integer % 10000;
      int64_t value = whole;
      if (rest > 5000 || (rest == 5000 && (whole & 1))) ++value;
      if (rest < -5000 || (rest == -5000 && (whole & 1))) --value;
      return WriteInteger(Number::Signed(value), type, target);
    }
    if (std::isnan(rounded)) return DISP_E_OVERFLOW;
    const double highLimit = type == VT_UI8 ? 18446744073709551615.0 : static_cast<double>(high);
    if (rounded < static_cast<double>(low) || rounded > highLimit) return DISP_E_OVERFLOW;
    if (rounded >= 9223372036854775808.0) {  // only VT_UI8 gets here
      if (rounded >= 18446744073709551616.0) return DISP_E_OVERFLOW;
      bits = static_cast<uint64_t>(rounded);
    } else {
      if (type == VT_I8 && rounded >= 9223372036854775807.0) return DISP_E_OVERFLOW;
      bits = static_cast<uint64_t>(static_cast<int64_t>(rounded));
    }
  }
  target.vt = type;
  target.ullVal = 0;
  switch (type) {
    case VT_I1:
    case VT_UI1:
      target.bVal = static_cast<BYTE>(bits);
      break;
    case VT_I2:
    case VT_UI2:
      target.uiVal = static_cast<USHORT>(bits);
      break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      target.ulVal = static_cast<ULONG>(bits);
      break;
    default:
      target.ullVal = bits;
      break;
  }
  return S_OK;
}

HRESULT WriteNumber(const Number& number, VARTYPE type, VARIANT& target) {
  if (IsIntegerType(type)) return WriteInteger(number, type, target);
  const double value = number.AsDouble();
  switch (type) {
    case VT_R4:
      if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
        return DISP_E_OVERFLOW;
      }
      target.vt = VT_R4;
      target.fltVal = static_cast<float>(value);
      return S_OK;
    case VT_R8:
    case VT_DATE:
      target.vt = type;
      target.dblVal = value;
      return S_OK;
    case VT_CY: {
      if (number.kind == Number::kCurrency) {
        target.vt = VT_CY;
        target.cyVal.int64 = number.integer;
        return S_OK;
      }
      const double scaled = RoundHalfEven(value * 10000.0);
      if (std::isnan(scaled) || scaled < -9223372036854775808.0 ||
          scaled >= 9223372036854775808.0) {
        return DISP_E_OVERFLOW;
      }
      target.vt = VT_CY;
      target.cyVal.int64 = static_cast<int64_t>(scaled);
      return S_OK;
    }
    case VT_BOOL:
      target.vt = VT_BOOL;
      target.boolVal = value != 0.0 || std::isnan(value) ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT WriteBoolFromText(BSTR text, VARIANT& target) {
  const std::u16string_view trimmed = Trim(BstrView(text));
  if (EqualsIgnoringCase(trimmed, "true") || EqualsIgnoringCase(trimmed, "false")) {
    target.vt = VT_BOOL;
    target.boolVal = EqualsIgnoringCase(trimmed, "true") ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  Number number;
  const HRESULT hr = ParseNumber(text, number);
  return FAILED(hr) ? hr : WriteNumber(number, VT_BOOL, target);
}

std::string FormatReal(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*G", digits, value);
  return text;
}

std::string FormatCurrency(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : scaled;
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += "." + fraction;
  return text;
}

// The text form of a scalar; nothing for a type that has none (dates, errors).
HRESULT FormatScalar(const VARIANT& source, USHORT flags, std::string& text) {
  switch (source.vt) {
    case VT_EMPTY:
      text.clear();
      return S_OK;
    case VT_BOOL:
      if (flags & VARIANT_ALPHABOOL) {
        text = source.boolVal ? "True" : "False";
      } else {
        text = source.boolVal ? "-1" : "0";
      }
      return S_OK;
    case VT_R4:
      text = FormatReal(source.fltVal, 7);
      return S_OK;
    case VT_R8:
      text = FormatReal(source.dblVal, 15);
      return S_OK;
    case VT_CY:
      text = FormatCurrency(source.cyVal.int64);
      return S_OK;
    case VT_UI8:
      text = std::to_string(source.ullVal);
      return S_OK;
    default: {
      Number number;
      if (!IsIntegerType(source.vt) || FAILED(ReadNumber(source, number))) {
        return DISP_E_TYPEMISMATCH;
      }
      text = std::to_string(number.integer);
      return S_OK;
    }
  }
}

HRESULT WriteText(const VARIANT& source, USHORT flags, VARIANT& target) {
  std::string text;
  const HRESULT hr = FormatScalar(source, flags, text);
  if (FAILED(hr)) return hr;
  BSTR value = AllocBstrFromUtf8(text);
  if (value == nullptr) return E_OUTOFMEMORY;
  target.vt = VT_BSTR;
  target.bstrVal = value;
  return S_OK;
}

HRESULT ConvertObject(const VARIANT& source, VARTYPE type, VARIANT& target) {
  IUnknown* object = source.punkVal;
  if (object == nullptr) {
    target.vt = type;
    target.punkVal = nullptr;
    return S_OK;
  }
  const HRESULT hr = object->QueryInterface(type == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                            reinterpret_cast<void**>(&target.punkVal));
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  target.vt = type;
  return S_OK;
}

HRESULT Coerce(const VARIANT& source, USHORT flags, VARTYPE type, VARIANT& target, int depth);

// An object converted to a scalar through its default member (DISPID_VALUE).
HRESULT ConvertDefaultValue(const VARIANT& source, USHORT flags, VARTYPE type, VARIANT& target,
                            int depth) {
  if ((flags & VARIANT_NOVALUEPROP) || depth > 0 || source.punkVal == nullptr) {
    return DISP_E_TYPEMISMATCH;
  }
  IDispatch* dispatch = nullptr;
  if (FAILED(source.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return DISP_E_TYPEMISMATCH;
  }
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  Variant value;
  HRESULT hr = dispatch->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value,
                                nullptr, nullptr);
  dispatch->Release();
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  return Coerce(value, flags, type, target, depth + 1);
}

HRESULT Coerce(const VARIANT& source, USHORT flags, VARTYPE type, VARIANT& target, int depth) {
  if (source.vt == type) return VariantCopy(&target, &source);
  if (type == VT_EMPTY) return S_OK;
  if ((type & VT_ARRAY) || (source.vt & VT_ARRAY) || source.vt == VT_NULL || type == VT_NULL ||
      source.vt == VT_ERROR || type == VT_ERROR) {
    return DISP_E_TYPEMISMATCH;
  }
  const bool sourceIsObject = source.vt == VT_DISPATCH || source.vt == VT_UNKNOWN;
  if (type == VT_DISPATCH || type == VT_UNKNOWN) {
    return sourceIsObject ? ConvertObject(source, type, target) : DISP_E_TYPEMISMATCH;
  }
  if (sourceIsObject) return ConvertDefaultValue(source, flags, type, target, depth);
  if (type == VT_BSTR) return WriteText(source, flags, target);
  if (source.vt == VT_BSTR && (type == VT_DATE)) return DISP_E_TYPEMISMATCH;
  if (source.vt == VT_BSTR && type == VT_BOOL) return WriteBoolFromText(source.bstrVal, target);
  Number number;
  const HRESULT hr = ReadNumber(source, number);
  if (FAILED(hr)) return hr;
  // Booleans keep their bits in unsigned targets (true is all ones).
  if (source.vt == VT_BOOL && IsUnsignedType(type) && number.integer < 0) {
    int64_t low = 0;
    int64_t high = 0;
    IntegerRange(type, low, high);
    number = Number::Unsigned(type == VT_UI8 ? UINT64_MAX : static_cast<uint64_t>(high));
  }
  return WriteNumber(number, type, target);
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANT* target, const VARIANT* source, LCID, USHORT flags,
                            VARTYPE type) {
  if (target == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsKnownVariantType(source->vt)) return DISP_E_BADVARTYPE;
  if (type & VT_BYREF) return DISP_E_TYPEMISMATCH;
  if (!IsKnownVariantType(type) && type != VT_EMPTY) return DISP_E_BADVARTYPE;
  try {
    Variant value;
    HRESULT hr = VariantCopyInd(&value, source);
    if (FAILED(hr)) return hr;
    Variant converted;
    hr = Coerce(value, flags, type, converted, 0);
    if (FAILED(hr)) return hr;
    hr = VariantClear(target);
    if (FAILED(hr)) return hr;
    *target = converted.Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT VariantChangeType(VARIANT* target, const VARIANT* source, USHORT flags, VARTYPE type) {
  return VariantChangeTypeEx(target, source, 0, flags, type);
}
