// Creating the server's objects in tests, through the module's own DllGetClassObject.
#pragma once

#include "platform/com/object.h"
#include "vellum/easel.h"
#include "vellum/ez_font.h"
#include "vellum/module.h"

namespace vellum_testing {

inline ComPtr<IDispatch> CreateDispatch(REFCLSID clsid) {
  ComPtr<IClassFactory> factory;
  ComPtr<IDispatch> object;
  if (SUCCEEDED(DllGetClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid()))) {
    factory->CreateInstance(nullptr, IID_IDispatch, object.ReceiveVoid());
  }
  return object;
}

// The implementation behind an object made by CreateDispatch.
inline vellum::Easel* AsEasel(const ComPtr<IDispatch>& object) {
  return static_cast<vellum::Easel*>(static_cast<vellum::IEasel*>(object.Get()));
}
inline vellum::EZFont* AsFont(const ComPtr<IDispatch>& object) {
  return static_cast<vellum::EZFont*>(static_cast<vellum::IEZFont*>(object.Get()));
}

}  // namespace vellum_testing
