// Driving automation objects from tests the way scripts do: by name, through
// GetIDsOfNames and Invoke.
//
//   Automation easel(object);
//   EXPECT_EQ(easel.Get(u"Width").Long(), 0);
//   EXPECT_EQ(easel.Put(u"ImageQuality", 0).Error(), E_INVALIDARG);
//   CallResult r = easel.Call(u"RotateImage", 90, 0);
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/activation.h"
#include "platform/com/object.h"

namespace testing_support {

// An object of a module's class, made through that module's DllGetClassObject; null
// when it cannot be made.
ComPtr<IDispatch> CreateFromModule(DllGetClassObjectFunction getClassObject, REFCLSID clsid);

// A test value as a VARIANT: int -> VT_I4, double -> VT_R8, bool -> VT_BOOL,
// text -> VT_BSTR; a Variant is taken as it is.
Variant ToVariant(int value);
Variant ToVariant(double value);
Variant ToVariant(bool value);
Variant ToVariant(std::u16string_view value);
inline Variant ToVariant(const char16_t* value) { return ToVariant(std::u16string_view(value)); }
inline Variant ToVariant(Variant&& value) { return std::move(value); }

struct CallResult {
  HRESULT hr = S_OK;  // what Invoke returned
  SCODE scode = 0;    // the member's own failure, with DISP_E_EXCEPTION
  std::u16string description;
  std::u16string source;
  UINT argumentError = 0;
  Variant value;

  // The failure a script sees: the member's HRESULT, or Invoke's own.
  HRESULT Error() const { return hr == DISP_E_EXCEPTION && scode != 0 ? scode : hr; }
  LONG Long() const;
  double Double() const;
  std::u16string Text() const;
};

class Automation {
 public:
  explicit Automation(IDispatch* object) : object_(object) {}

  // DISPID_UNKNOWN when the object does not know the name.
  DISPID Id(std::u16string_view name) const;

  template <typename... A>
  CallResult Get(std::u16string_view name, A&&... args) {
    return Invoke(Id(name), DISPATCH_PROPERTYGET, Pack(std::forward<A>(args)...));
  }
  template <typename... A>
  CallResult Call(std::u16string_view name, A&&... args) {
    return Invoke(Id(name), DISPATCH_METHOD, Pack(std::forward<A>(args)...));
  }
  // A put: index arguments (if any) first, then the value, passed as the named
  // DISPID_PROPERTYPUT argument.
  template <typename... A>
  CallResult Put(std::u16string_view name, A&&... args) {
    return Invoke(Id(name), DISPATCH_PROPERTYPUT, Pack(std::forward<A>(args)...));
  }

  // Arguments in call order; a put names its last one DISPID_PROPERTYPUT.
  CallResult Invoke(DISPID id, WORD flags, std::vector<Variant> arguments);

 private:
  template <typename... A>
  static std::vector<Variant> Pack(A&&... args) {
    std::vector<Variant> packed;
    packed.reserve(sizeof...(A));
    (packed.push_back(ToVariant(std::forward<A>(args))), ...);
    return packed;
  }

  IDispatch* object_;
};

}  // namespace testing_support
