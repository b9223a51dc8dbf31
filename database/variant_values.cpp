#include "database/variant_values.h"

#include <climits>
#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/interfaces.h"
#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"

namespace database {

namespace {

// The value a reference leads to (one level), without copying it.
const VARIANT& Direct(const VARIANT& value) {
  if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal != nullptr) return *value.pvarVal;
  return value;
}

bool IsInteger(VARTYPE type) {
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

HRESULT Mismatch(std::string* problem, const std::string& text,
                 HRESULT result = DISP_E_TYPEMISMATCH) {
  *problem = text;
  return result;
}

// A byte array's bytes, refused beyond the largest value.
HRESULT BytesOf(SAFEARRAY* array, std::span<const uint8_t>* bytes, std::string* problem) {
  const uint64_t count = SafeArrayElementCount(array);
  if (count > kMaxValueBytes)
    return Mismatch(problem, "a value may hold at most 1 GiB", E_INVALIDARG);
  *bytes = {static_cast<const uint8_t*>(array->pvData), static_cast<size_t>(count)};
  return S_OK;
}

// The default value of an object (a Field's Value).
HRESULT DefaultValueOf(IDispatch* object, Variant* value, std::string* problem) {
  if (object == nullptr) return Mismatch(problem, "a null object has no value");
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  const HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, value,
                                    nullptr, nullptr);
  return SUCCEEDED(hr) ? S_OK : Mismatch(problem, "an object without a value cannot be stored");
}

// A value of the kind the script's value has; texts and bytes are views into
// `value` or `text` (which must outlive the view).
HRESULT ViewOf(const VARIANT& given, std::string* text, ValueView* out, std::string* problem) {
  const VARIANT& value = Direct(given);
  if (SAFEARRAY* array = ByteArrayOf(value)) {
    std::span<const uint8_t> bytes;
    const HRESULT hr = BytesOf(array, &bytes, problem);
    *out = ValueView::Bytes(bytes);
    return hr;
  }
  const VARTYPE type = value.vt & ~VT_BYREF;
  if (type == VT_EMPTY || type == VT_NULL) {
    *out = ValueView::Null();
    return S_OK;
  }
  if (type == VT_BOOL) {
    const VARIANT_BOOL flag = (value.vt & VT_BYREF) ? *value.pboolVal : value.boolVal;
    *out = ValueView::Boolean(flag != VARIANT_FALSE);
    return S_OK;
  }
  if (type == VT_BSTR) {
    const std::optional<std::string> utf8 =
        Utf16ToUtf8(BstrView((value.vt & VT_BYREF) ? *value.pbstrVal : value.bstrVal));
    if (!utf8) return Mismatch(problem, "the text is not valid Unicode");
    *text = *utf8;
    *out = ValueView::Text(*text);
    return S_OK;
  }
  Variant converted;
  if (IsInteger(type)) {
    const HRESULT hr = VariantChangeType(&converted, &value, 0, VT_I8);
    if (FAILED(hr)) return Mismatch(problem, "the integer does not fit 64 bits", hr);
    *out = ValueView::Integer(converted.llVal);
    return S_OK;
  }
  if (type == VT_R4 || type == VT_R8 || type == VT_CY) {
    const HRESULT hr = VariantChangeType(&converted, &value, 0, VT_R8);
    if (FAILED(hr)) return Mismatch(problem, "the number cannot be read", hr);
    *out = ValueView::Real(converted.dblVal);
    return S_OK;
  }
  return Mismatch(problem, "a value of this type cannot be stored");
}

// The value converted to `kind` with the standard coercions.
HRESULT Coerced(const VARIANT& value, ValueKind kind, Value* out, std::string* problem) {
  const VARIANT& direct = Direct(value);
  const VARTYPE type = direct.vt & ~VT_BYREF;
  if (kind == ValueKind::kInteger && type == VT_BOOL) {
    const VARIANT_BOOL flag = (direct.vt & VT_BYREF) ? *direct.pboolVal : direct.boolVal;
    *out = Value{ValueKind::kInteger, flag != VARIANT_FALSE ? 1 : 0, 0, {}};
    return S_OK;
  }
  static constexpr struct {
    ValueKind kind;
    VARTYPE type;
    const char* name;
  } kTargets[] = {{ValueKind::kInteger, VT_I8, "an integer"},
                  {ValueKind::kReal, VT_R8, "a number"},
                  {ValueKind::kBoolean, VT_BOOL, "a boolean"},
                  {ValueKind::kText, VT_BSTR, "a text"}};
  for (const auto& target : kTargets) {
    if (target.kind != kind) continue;
    if (ByteArrayOf(direct) != nullptr) {
      return Mismatch(problem, std::string("the field takes ") + target.name + ", not bytes");
    }
    Variant converted;
    const HRESULT hr = VariantChangeType(&converted, &direct, 0, target.type);
    if (FAILED(hr)) {
      return Mismatch(problem, std::string("the value cannot be read as ") + target.name, hr);
    }
    std::string text;
    ValueView view;
    const HRESULT read = ViewOf(converted, &text, &view, problem);
    if (FAILED(read)) return read;
    *out = Value::Copy(view);
    return S_OK;
  }
  return Mismatch(problem, "the field takes a byte array");  // kBytes
}

}  // namespace

BSTR AllocBstrFromEngineText(std::string_view text) {
  if (const std::optional<std::u16string> wide = Utf8ToUtf16(text)) return AllocBstr(*wide);
  std::u16string wide;
  wide.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    const std::optional<std::u16string> piece =
        length <= text.size() - i ? Utf8ToUtf16(text.substr(i, length)) : std::nullopt;
    if (piece) {
      wide += *piece;
      i += length;
    } else {
      wide += u'\uFFFD';
      ++i;
    }
  }
  return AllocBstr(wide);
}

HRESULT ValueForColumn(const VARIANT& value, ValueKind kind, Value* out, std::string* problem) {
  const VARIANT& direct = Direct(value);
  const VARTYPE type = direct.vt & ~VT_BYREF;
  if (type == VT_DISPATCH) {
    Variant inner;
    const HRESULT hr = DefaultValueOf((direct.vt & VT_BYREF) ? *direct.ppdispVal : direct.pdispVal,
                                      &inner, problem);
    if (FAILED(hr)) return hr;
    if ((inner.vt & ~VT_BYREF) == VT_DISPATCH) return Mismatch(problem, "the value is an object");
    return ValueForColumn(inner, kind, out, problem);
  }
  if (type == VT_EMPTY || type == VT_NULL) {
    *out = Value{};
    return S_OK;
  }
  if (kind == ValueKind::kNull || (kind == ValueKind::kBytes && ByteArrayOf(direct) != nullptr)) {
    std::string text;
    ValueView view;
    const HRESULT hr = ViewOf(direct, &text, &view, problem);
    if (FAILED(hr)) return hr;
    *out = Value::Copy(view);
    return S_OK;
  }
  return Coerced(direct, kind, out, problem);
}

HRESULT VariantOfValue(const ValueView& value, DataType type, VARIANT* out) {
  VariantInit(out);
  switch (value.kind) {
    case ValueKind::kNull:
      out->vt = VT_NULL;
      return S_OK;
    case ValueKind::kBoolean:
      out->vt = VT_BOOL;
      out->boolVal = value.integer != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case ValueKind::kInteger:
      if (type == kTypeBoolean) {
        out->vt = VT_BOOL;
        out->boolVal = value.integer != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      } else if (value.integer >= INT32_MIN && value.integer <= INT32_MAX) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(value.integer);
      } else {
        out->vt = VT_I8;
        out->llVal = value.integer;
      }
      return S_OK;
    case ValueKind::kReal:
      out->vt = VT_R8;
      out->dblVal = value.real;
      return S_OK;
    case ValueKind::kText:
      out->bstrVal = AllocBstrFromEngineText(value.Text());
      if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      return S_OK;
    case ValueKind::kBytes:
      if (value.bytes.size() > ULONG_MAX) return DISP_E_OVERFLOW;
      out->parray = MakeByteVector(value.bytes.data(), static_cast<ULONG>(value.bytes.size()));
      if (out->parray == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_ARRAY | VT_UI1;
      return S_OK;
  }
  return E_UNEXPECTED;
}

HRESULT ScriptParameters::Read(const VARIANT& argument, std::string* problem) {
  const VARIANT& value = Direct(argument);
  const VARTYPE type = value.vt & ~VT_BYREF;
  if (type == VT_EMPTY || (type == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND)) return S_OK;
  if ((type & VT_ARRAY) && ByteArrayOf(value) == nullptr) {
    return ReadArray((value.vt & VT_BYREF) ? *value.pparray : value.parray, problem);
  }
  if (type == VT_DISPATCH) {
    IDispatch* object = (value.vt & VT_BYREF) ? *value.ppdispVal : value.pdispVal;
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Keys")};
    DISPID id = DISPID_UNKNOWN;
    if (object != nullptr && SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) {
      return ReadDictionary(object, problem);
    }
  }
  return Add(value, problem);
}

HRESULT ScriptParameters::Add(const VARIANT& value, std::string* problem, int depth) {
  const VARIANT& direct = Direct(value);
  if ((direct.vt & ~VT_BYREF) == VT_DISPATCH) {
    if (depth > 0) return Mismatch(problem, "the value is an object");
    Variant& inner = kept_.emplace_back();
    const HRESULT hr = DefaultValueOf((direct.vt & VT_BYREF) ? *direct.ppdispVal : direct.pdispVal,
                                      &inner, problem);
    return FAILED(hr) ? hr : Add(inner, problem, depth + 1);
  }
  std::string& text = texts_.emplace_back();
  ValueView view;
  const HRESULT hr = ViewOf(direct, &text, &view, problem);
  if (FAILED(hr)) {
    *problem = "value " + std::to_string(parameters_.values.size() + 1) + ": " + *problem;
    return hr;
  }
  parameters_.values.push_back(view);
  return S_OK;
}

HRESULT ScriptParameters::ReadArray(SAFEARRAY* array, std::string* problem) {
  if (array == nullptr) return S_OK;
  VARTYPE element = VT_EMPTY;
  if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &element))) {
    return Mismatch(problem, "the values must be a list");
  }
  const ULONG count = array->rgsabound[0].cElements;
  if (element == VT_VARIANT) {  // read where they lie: a byte array is not copied
    const auto* values = static_cast<const VARIANT*>(array->pvData);
    for (ULONG i = 0; i < count; ++i) {
      const HRESULT hr = Add(values[i], problem);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  LONG lower = 0;
  SafeArrayGetLBound(array, 1, &lower);
  for (ULONG i = 0; i < count; ++i) {
    const LONG index = lower + static_cast<LONG>(i);
    Variant& item = kept_.emplace_back();
    HRESULT hr = SafeArrayGetElement(array, &index, &item.llVal);
    if (FAILED(hr)) return Mismatch(problem, "the list of values cannot be read", hr);
    item.vt = element;
    hr = Add(item, problem);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ScriptParameters::ReadDictionary(IDispatch* dictionary, std::string* problem) {
  const auto call = [dictionary](const char16_t* name, Variant* result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = dictionary->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (SUCCEEDED(hr)) {
      hr = dictionary->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                              result, nullptr, nullptr);
    }
    return hr;
  };
  Variant& keys = kept_.emplace_back();
  Variant& items = kept_.emplace_back();
  if (FAILED(call(u"Keys", &keys)) || FAILED(call(u"Items", &items)) ||
      keys.vt != (VT_ARRAY | VT_VARIANT) || items.vt != (VT_ARRAY | VT_VARIANT) ||
      SafeArrayElementCount(keys.parray) != SafeArrayElementCount(items.parray)) {
    return Mismatch(problem, "the dictionary of values cannot be read");
  }
  const auto* names = static_cast<const VARIANT*>(keys.parray->pvData);
  for (uint64_t i = 0; i < SafeArrayElementCount(keys.parray); ++i) {
    Variant name;
    if (FAILED(VariantChangeType(&name, &names[i], 0, VT_BSTR))) {
      return Mismatch(problem, "the names of the values must be texts");
    }
    std::optional<std::string> utf8 = Utf16ToUtf8(BstrView(name.bstrVal));
    if (!utf8 || utf8->empty()) return Mismatch(problem, "a value has an empty or invalid name");
    // ":id", "@id" and "$id" all name the parameter id.
    if (utf8->front() == ':' || utf8->front() == '@' || utf8->front() == '$') utf8->erase(0, 1);
    parameters_.names.push_back(std::move(*utf8));
  }
  return ReadArray(items.parray, problem);
}

}  // namespace database
