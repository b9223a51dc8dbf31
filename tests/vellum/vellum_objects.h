// Creating the server's objects in tests, through the module's own DllGetClassObject.
#pragma once

#include "platform/com/object.h"
#include "tests/support/automation.h"
#include "vellum/easel.h"
#include "vellum/ez_font.h"
#include "vellum/module.h"

namespace vellum_testing {

inline ComPtr<IDispatch> CreateDispatch(REFCLSID clsid) {
  return testing_support::CreateFromModule(&DllGetClassObject, clsid);
}

// The implementation behind an object made by CreateDispatch.
inline vellum::Easel* AsEasel(const ComPtr<IDispatch>& object) {
  return static_cast<vellum::Easel*>(static_cast<vellum::IEasel*>(object.Get()));
}
inline vellum::EZFont* AsFont(const ComPtr<IDispatch>& object) {
  return static_cast<vellum::EZFont*>(static_cast<vellum::IEZFont*>(object.Get()));
}

}  // namespace vellum_testing
