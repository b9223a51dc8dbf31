#include "script/enumerator.h"

#include "platform/com/interfaces.h"
#include "script/script_values.h"

namespace script {

namespace {

constexpr const char* kEnumKey = DUK_HIDDEN_SYMBOL("enumVariant");
constexpr const char* kItemKey = DUK_HIDDEN_SYMBOL("item");
constexpr const char* kAtEndKey = DUK_HIDDEN_SYMBOL("atEnd");

IEnumVARIANT* EnumOfThis(duk_context* ctx) {
  duk_push_this(ctx);
  duk_get_prop_string(ctx, -1, kEnumKey);
  auto* values = static_cast<IEnumVARIANT*>(duk_get_pointer(ctx, -1));
  duk_pop_2(ctx);
  return values;
}

// Takes the next value into the enumerator object at `target`: its item, or the end.
void Advance(duk_context* ctx, duk_idx_t target, IEnumVARIANT* values) {
  target = duk_normalize_index(ctx, target);
  bool fetched = false;
  {
    Variant value;
    ULONG count = 0;
    std::string problem;
    if (values != nullptr && values->Next(1, &value, &count) == S_OK && count == 1) {
      fetched = PushVariant(ctx, value, &problem);
    }
  }
  if (!fetched) duk_push_undefined(ctx);
  duk_put_prop_string(ctx, target, kItemKey);
  duk_push_boolean(ctx, !fetched);
  duk_put_prop_string(ctx, target, kAtEndKey);
}

duk_ret_t AtEnd(duk_context* ctx) {
  duk_push_this(ctx);
  duk_get_prop_string(ctx, -1, kAtEndKey);
  return 1;
}

duk_ret_t Item(duk_context* ctx) {
  duk_push_this(ctx);
  duk_get_prop_string(ctx, -1, kItemKey);
  return 1;
}

duk_ret_t MoveNext(duk_context* ctx) {
  IEnumVARIANT* values = EnumOfThis(ctx);
  duk_push_this(ctx);
  Advance(ctx, -1, values);
  return 0;
}

duk_ret_t MoveFirst(duk_context* ctx) {
  IEnumVARIANT* values = EnumOfThis(ctx);
  if (values != nullptr) values->Reset();
  duk_push_this(ctx);
  Advance(ctx, -1, values);
  return 0;
}

duk_ret_t ReleaseEnum(duk_context* ctx) {
  duk_get_prop_string(ctx, 0, kEnumKey);
  auto* values = static_cast<IEnumVARIANT*>(duk_get_pointer(ctx, -1));
  if (values != nullptr) values->Release();
  duk_push_pointer(ctx, nullptr);
  duk_put_prop_string(ctx, 0, kEnumKey);
  return 0;
}

// The collection's enumerator (one reference), or the failure.
HRESULT NewEnum(IDispatch* collection, IEnumVARIANT** values) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  Variant made;
  HRESULT hr =
      collection->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                         &made, nullptr, nullptr);
  if (SUCCEEDED(hr)) {
    hr = (made.vt == VT_UNKNOWN || made.vt == VT_DISPATCH) && made.punkVal != nullptr
             ? made.punkVal->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(values))
             : DISP_E_TYPEMISMATCH;
  }
  return hr;
}

// new Enumerator(collection). The enumerator is made before anything is pushed, so that
// no C++ object is alive when an error is thrown.
duk_ret_t Construct(duk_context* ctx) {
  IDispatch* collection = AutomationObjectAt(ctx, 0);
  IEnumVARIANT* values = nullptr;
  const HRESULT hr = collection != nullptr ? NewEnum(collection, &values) : E_INVALIDARG;
  if (FAILED(hr)) {
    PushAutomationError(ctx, hr, u"", "Enumerator");
    return duk_throw(ctx);
  }
  duk_push_object(ctx);
  duk_push_pointer(ctx, values);
  duk_put_prop_string(ctx, -2, kEnumKey);
  duk_push_c_function(ctx, ReleaseEnum, 1);
  duk_set_finalizer(ctx, -2);
  const duk_function_list_entry methods[] = {{"atEnd", AtEnd, 0},
                                             {"item", Item, 0},
                                             {"moveNext", MoveNext, 0},
                                             {"moveFirst", MoveFirst, 0},
                                             {nullptr, nullptr, 0}};
  duk_put_function_list(ctx, -1, methods);
  Advance(ctx, -1, values);
  return 1;
}

}  // namespace

void DefineEnumerator(duk_context* ctx) {
  duk_push_c_function(ctx, Construct, 1);
  duk_put_global_string(ctx, "Enumerator");
}

}  // namespace script
