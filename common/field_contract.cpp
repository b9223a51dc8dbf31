#include "common/field_contract.h"

#include <vector>

#include "platform/com/error_info.h"
#include "platform/com/object.h"

namespace field_contract {

namespace {

// Installs the error information a failed Invoke described.
void KeepErrorInfo(const EXCEPINFO& exception) {
  ReportErrorInfo(GUID_NULL, exception.bstrSource,
                  exception.bstrDescription != nullptr ? exception.bstrDescription : u"");
}

ComPtr<IField> EarlyBound(IDispatch* field) {
  ComPtr<IField> bound;
  if (field != nullptr) field->QueryInterface(IID_IField, bound.ReceiveVoid());
  return bound;
}

}  // namespace

HRESULT FindMember(IDispatch* field, const char16_t* name, LCID locale, DISPID* id) {
  if (field == nullptr || id == nullptr) return E_POINTER;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  *id = DISPID_UNKNOWN;
  return field->GetIDsOfNames(IID_NULL, names, 1, locale, id);
}

HRESULT InvokeByName(IDispatch* field, const char16_t* name, WORD flags,
                     std::span<VARIANT> arguments, LCID locale, VARIANT* result,
                     EXCEPINFO* exception) {
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = FindMember(field, name, locale, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());  // rgvarg is last-first
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO reported{};
  UINT argumentError = 0;
  hr = field->Invoke(id, IID_NULL, locale, flags, &params, result, &reported, &argumentError);
  if (hr == DISP_E_EXCEPTION) {
    if (reported.scode != 0) hr = reported.scode;
    if (exception == nullptr) KeepErrorInfo(reported);
  }
  if (exception != nullptr) {
    *exception = reported;
  } else {
    ClearExcepInfo(&reported);
  }
  return hr;
}

HRESULT GetChunk(IDispatch* field, LONG length, LCID locale, VARIANT* chunk) {
  if (const ComPtr<IField> bound = EarlyBound(field)) return bound->GetChunk(length, chunk);
  VARIANT argument = Variant::Long(length).Detach();
  return InvokeByName(field, kGetChunk, DISPATCH_METHOD, {&argument, 1}, locale, chunk);
}

HRESULT AppendChunk(IDispatch* field, const VARIANT& data, LCID locale) {
  if (const ComPtr<IField> bound = EarlyBound(field)) return bound->AppendChunk(data);
  VARIANT argument = data;  // lent to the call, not owned
  Variant ignored;
  return InvokeByName(field, kAppendChunk, DISPATCH_METHOD, {&argument, 1}, locale, &ignored);
}

HRESULT ActualSize(IDispatch* field, LCID locale, LONG* size) {
  if (size == nullptr) return E_POINTER;
  if (const ComPtr<IField> bound = EarlyBound(field)) return bound->get_ActualSize(size);
  Variant value;
  HRESULT hr = InvokeByName(field, kActualSize, DISPATCH_PROPERTYGET, {}, locale, &value);
  if (SUCCEEDED(hr)) hr = VariantChangeType(&value, &value, 0, VT_I4);
  if (SUCCEEDED(hr)) *size = value.lVal;
  return hr;
}

}  // namespace field_contract
