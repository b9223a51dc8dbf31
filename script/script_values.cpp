#include "script/script_values.h"

#include <cmath>
#include <cstring>

#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"

namespace script {

namespace {

constexpr int kMaxArrayDepth = 16;

bool ToVariantAt(duk_context* ctx, duk_idx_t index, VARIANT* value, std::string* problem,
                 int depth);

bool ArrayToVariant(duk_context* ctx, duk_idx_t index, VARIANT* value, std::string* problem,
                    int depth) {
  if (depth >= kMaxArrayDepth) {
    *problem = "arrays nested too deeply";
    return false;
  }
  const auto length = static_cast<ULONG>(duk_get_length(ctx, index));
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, length);
  if (array == nullptr) {
    *problem = "array too large";
    return false;
  }
  auto* elements = static_cast<VARIANT*>(array->pvData);
  for (ULONG i = 0; i < length; ++i) {
    duk_get_prop_index(ctx, index, i);
    const bool converted = ToVariantAt(ctx, -1, &elements[i], problem, depth + 1);
    duk_pop(ctx);
    if (!converted) {
      SafeArrayDestroy(array);
      return false;
    }
  }
  value->vt = VT_ARRAY | VT_VARIANT;
  value->parray = array;
  return true;
}

bool BytesToVariant(duk_context* ctx, duk_idx_t index, VARIANT* value, std::string* problem) {
  duk_size_t size = 0;
  const void* data = duk_get_buffer_data(ctx, index, &size);
  if (size > 0xFFFFFFFFu) {
    *problem = "byte array too large";
    return false;
  }
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
  if (array == nullptr) {
    *problem = "byte array too large";
    return false;
  }
  if (size > 0) std::memcpy(array->pvData, data, size);
  value->vt = VT_ARRAY | VT_UI1;
  value->parray = array;
  return true;
}

// The time of the script Date at the top of the stack, in milliseconds since 1970:
// replaces it with the number, or with undefined for anything else. Run as a
// protected call, as instanceof and getTime are script operations.
duk_ret_t DateMilliseconds(duk_context* ctx, void*) {
  duk_get_global_string(ctx, "Date");
  if (duk_is_function(ctx, -1) && duk_instanceof(ctx, -2, -1)) {
    duk_get_prop_string(ctx, -2, "getTime");
    duk_dup(ctx, -3);
    duk_call_method(ctx, 0);
    return 1;
  }
  duk_push_undefined(ctx);
  return 1;
}

// A script Date as an automation date (days since 30 December 1899); false for any
// other value.
bool DateToVariant(duk_context* ctx, duk_idx_t index, VARIANT* value) {
  duk_dup(ctx, index);
  const bool called = duk_safe_call(ctx, DateMilliseconds, nullptr, 1, 1) == DUK_EXEC_SUCCESS;
  const bool isDate = called && duk_is_number(ctx, -1) && std::isfinite(duk_get_number(ctx, -1));
  if (isDate) {
    value->vt = VT_DATE;
    value->date = duk_get_number(ctx, -1) / 86400000.0 + 25569.0;
  }
  duk_pop(ctx);
  return isDate;
}

bool ToVariantAt(duk_context* ctx, duk_idx_t index, VARIANT* value, std::string* problem,
                 int depth) {
  index = duk_normalize_index(ctx, index);
  if (duk_is_undefined(ctx, index)) {
    value->vt = VT_EMPTY;
  } else if (duk_is_null(ctx, index)) {
    value->vt = VT_NULL;
  } else if (duk_is_boolean(ctx, index)) {
    value->vt = VT_BOOL;
    value->boolVal = duk_get_boolean(ctx, index) ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (duk_is_number(ctx, index)) {
    const double number = duk_get_number(ctx, index);
    const bool integral = std::trunc(number) == number && number >= -2147483648.0 &&
                          number <= 2147483647.0 && !(number == 0 && std::signbit(number));
    if (integral) {
      value->vt = VT_I4;
      value->lVal = static_cast<LONG>(number);
    } else {
      value->vt = VT_R8;
      value->dblVal = number;
    }
  } else if (duk_is_string(ctx, index)) {
    duk_size_t length = 0;
    const char* text = duk_get_lstring(ctx, index, &length);
    value->bstrVal = AllocBstr(EngineTextToUtf16(std::string_view(text, length)));
    if (value->bstrVal == nullptr) {
      *problem = "out of memory";
      return false;
    }
    value->vt = VT_BSTR;
  } else if (duk_is_buffer_data(ctx, index)) {
    return BytesToVariant(ctx, index, value, problem);
  } else if (IDispatch* object = AutomationObjectAt(ctx, index)) {
    object->AddRef();
    value->vt = VT_DISPATCH;
    value->pdispVal = object;
  } else if (duk_is_array(ctx, index)) {
    return ArrayToVariant(ctx, index, value, problem, depth);
  } else if (duk_is_object(ctx, index) && DateToVariant(ctx, index, value)) {
    return true;
  } else {
    *problem = "a value of this kind cannot be passed to an automation call";
    return false;
  }
  return true;
}

bool PushArray(duk_context* ctx, SAFEARRAY* array, VARTYPE elementType, std::string* problem) {
  if (SafeArrayGetDim(array) != 1) {
    *problem = "multi-dimensional arrays have no script form";
    return false;
  }
  LONG lower = 0;
  SafeArrayGetLBound(array, 1, &lower);
  const ULONG count = array->rgsabound[0].cElements;
  if (elementType == VT_UI1) {
    void* bytes = duk_push_fixed_buffer(ctx, count);
    if (count > 0) std::memcpy(bytes, array->pvData, count);
    duk_push_buffer_object(ctx, -1, 0, count, DUK_BUFOBJ_UINT8ARRAY);
    duk_remove(ctx, -2);
    return true;
  }
  const duk_idx_t result = duk_push_array(ctx);
  for (ULONG i = 0; i < count; ++i) {
    const LONG position = lower + static_cast<LONG>(i);
    Variant element;
    if (elementType == VT_VARIANT) {
      SafeArrayGetElement(array, &position, &element);
    } else if (SUCCEEDED(SafeArrayGetElement(array, &position, &element.llVal))) {
      element.vt = elementType;
    }
    if (!PushVariant(ctx, element, problem)) {
      duk_pop(ctx);
      return false;
    }
    duk_put_prop_index(ctx, result, i);
  }
  return true;
}

}  // namespace

std::u16string EngineTextToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    int extra = 0;
    char32_t c = lead;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07;
    } else if (lead >= 0x80) {
      c = 0xFFFD;  // a byte that starts no sequence
    }
    for (int k = 0; k < extra && i < text.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    if (c > 0x10FFFF) c = 0xFFFD;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToEngineText(std::u16string_view text) {
  // Each UTF-16 unit is one engine character, surrogates included, as the engine keeps
  // the strings of scripts; so texts compare equal to literals after a round trip.
  std::string out;
  out.reserve(text.size());
  for (const char16_t unit : text) AppendUtf8(out, unit);
  return out;
}

std::string EngineTextToUtf8(std::string_view text) {
  const std::u16string wide = EngineTextToUtf16(text);
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // an unpaired surrogate has no UTF-8 form
    }
    AppendUtf8(out, c);
  }
  return out;
}

bool ToVariant(duk_context* ctx, duk_idx_t index, VARIANT* value, std::string* problem) {
  return ToVariantAt(ctx, index, value, problem, 0);
}

bool PushVariant(duk_context* ctx, const VARIANT& value, std::string* problem) {
  Variant direct;
  if (FAILED(VariantCopyInd(&direct, &value))) {
    *problem = "the value cannot be read";
    return false;
  }
  if (direct.vt & VT_ARRAY) return PushArray(ctx, direct.parray, direct.vt & VT_TYPEMASK, problem);
  switch (direct.vt) {
    case VT_EMPTY:
      duk_push_undefined(ctx);
      return true;
    case VT_NULL:
      duk_push_null(ctx);
      return true;
    case VT_BOOL:
      duk_push_boolean(ctx, direct.boolVal != VARIANT_FALSE);
      return true;
    case VT_BSTR: {
      const std::string text = Utf16ToEngineText(BstrView(direct.bstrVal));
      duk_push_lstring(ctx, text.data(), text.size());
      return true;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IDispatch* object = nullptr;
      if (direct.punkVal != nullptr) {
        direct.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object));
      }
      if (object == nullptr) {
        duk_push_null(ctx);
      } else {
        PushAutomationObject(ctx, object);
        object->Release();
      }
      return true;
    }
    case VT_ERROR:
      duk_push_int(ctx, direct.scode);
      return true;
    default: {
      Variant number;
      if (FAILED(VariantChangeType(&number, &direct, 0, VT_R8))) {
        *problem = "the value has no script form";
        return false;
      }
      duk_push_number(ctx, number.dblVal);
      return true;
    }
  }
}

}  // namespace script
