#include "tests/support/automation.h"

#include <algorithm>

namespace testing_support {

ComPtr<IDispatch> CreateFromModule(DllGetClassObjectFunction getClassObject, REFCLSID clsid) {
  ComPtr<IClassFactory> factory;
  ComPtr<IDispatch> object;
  if (SUCCEEDED(getClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid()))) {
    factory->CreateInstance(nullptr, IID_IDispatch, object.ReceiveVoid());
  }
  return object;
}

Variant ToVariant(int value) { return Variant::Long(value); }

Variant ToVariant(double value) { return Variant::Double(value); }

Variant ToVariant(bool value) { return Variant::Bool(value); }

Variant ToVariant(std::u16string_view value) { return Variant::String(value); }

LONG CallResult::Long() const {
  Variant converted;
  return SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_I4)) ? converted.lVal : -99999;
}

double CallResult::Double() const {
  Variant converted;
  return SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_R8)) ? converted.dblVal : -99999;
}

std::u16string CallResult::Text() const {
  Variant converted;
  if (FAILED(VariantChangeType(&converted, &value, 0, VT_BSTR))) return u"<not a text>";
  return std::u16string(BstrView(converted.bstrVal));
}

DISPID Automation::Id(std::u16string_view name) const {
  std::u16string text(name);
  LPOLESTR names[] = {text.data()};
  DISPID id = DISPID_UNKNOWN;
  object_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  return id;
}

CallResult Automation::Invoke(DISPID id, WORD flags, std::vector<Variant> arguments) {
  std::reverse(arguments.begin(), arguments.end());  // rgvarg holds the last argument first
  DISPID putId = DISPID_PROPERTYPUT;
  const bool isPut = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  DISPPARAMS params = {arguments.empty() ? nullptr : arguments.data(), isPut ? &putId : nullptr,
                       static_cast<UINT>(arguments.size()), isPut && !arguments.empty() ? 1u : 0u};
  CallResult result;
  EXCEPINFO exception{};
  result.hr = object_->Invoke(id, IID_NULL, 0, flags, &params, &result.value, &exception,
                              &result.argumentError);
  result.scode = exception.scode;
  result.description = BstrView(exception.bstrDescription);
  result.source = BstrView(exception.bstrSource);
  ClearExcepInfo(&exception);
  return result;
}

}  // namespace testing_support
