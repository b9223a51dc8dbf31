#include "vellumset/field_calls.h"

namespace vellumset {

bool FindFieldMember(IDispatch* field, const char16_t* name, DISPID* id) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  return field != nullptr && SUCCEEDED(field->GetIDsOfNames(IID_NULL, names, 1, 0, id));
}

HRESULT InvokeFieldMember(IDispatch* field, DISPID id, WORD flags, VARIANT* argument,
                          VARIANT* result, EXCEPINFO* exception) {
  DISPPARAMS params = {argument, nullptr, argument != nullptr ? 1u : 0u, 0};
  EXCEPINFO ignored{};
  UINT argumentError = 0;
  const HRESULT hr = field->Invoke(id, IID_NULL, 0, flags, &params, result,
                                   exception != nullptr ? exception : &ignored, &argumentError);
  ClearExcepInfo(&ignored);
  return hr;
}

}  // namespace vellumset
