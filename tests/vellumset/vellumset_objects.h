// Helpers of the VellumSet tests: objects made through the module's own
// DllGetClassObject, values to pass, and readers for the arrays the objects return.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "platform/registry/registrar.h"
#include "tests/support/automation.h"
#include "tests/support/variant_values.h"
#include "vellumset/dictionary.h"
#include "vellumset/images.h"
#include "vellumset/module.h"

namespace vellumset_testing {

inline ComPtr<IDispatch> CreateDispatch(REFCLSID clsid) {
  return testing_support::CreateFromModule(&DllGetClassObject, clsid);
}

inline ComPtr<vellumset::Dictionary> CreateDictionary() {
  ComPtr<IDispatch> object = CreateDispatch(vellumset::CLSID_Dictionary);
  return ComPtr<vellumset::Dictionary>(
      static_cast<vellumset::Dictionary*>(static_cast<vellumset::IDictionary*>(object.Get())));
}

inline ComPtr<vellumset::Images> CreateImages() {
  ComPtr<IDispatch> object = CreateDispatch(vellumset::CLSID_Images);
  return ComPtr<vellumset::Images>(
      static_cast<vellumset::Images*>(static_cast<vellumset::IImages*>(object.Get())));
}

// Writes the ProgIDs of the two classes into the registry (a sandbox), so that error
// information can name its source.
inline void RegisterProgIds() {
  for (const UINT id : {vellumset::kImagesRegistryScript, vellumset::kDictionaryRegistryScript}) {
    const void* script = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(VelrtModuleResource(kRegistryResource, id, &script, &size));
    ASSERT_EQ(registry::RunRegistryScript(std::string_view(static_cast<const char*>(script), size),
                                          {{"MODULE", "/test"}}, true),
              S_OK);
  }
}

// A reference to a 32-bit integer (not through a VARIANT).
inline Variant LongReference(LONG* value) {
  Variant reference;
  reference.vt = VT_BYREF | VT_I4;
  reference.plVal = value;
  return reference;
}

inline Variant Date(double value) {
  Variant date;
  date.vt = VT_DATE;
  date.date = value;
  return date;
}

// The elements of a VT_ARRAY | VT_VARIANT value as texts ("<type N>" for a value
// without one), and its bounds.
inline std::vector<std::u16string> TextsOf(const VARIANT& array) {
  std::vector<std::u16string> texts;
  if (array.vt != (VT_ARRAY | VT_VARIANT)) return {u"<not an array>"};
  const auto* elements = static_cast<const VARIANT*>(array.parray->pvData);
  for (uint64_t i = 0; i < SafeArrayElementCount(array.parray); ++i) {
    Variant text;
    if (SUCCEEDED(VariantChangeType(&text, &elements[i], 0, VT_BSTR))) {
      texts.emplace_back(BstrView(text.bstrVal));
    } else {
      const std::string type = "<type " + std::to_string(elements[i].vt) + ">";
      texts.emplace_back(type.begin(), type.end());
    }
  }
  return texts;
}

inline std::pair<LONG, LONG> BoundsOf(const VARIANT& array) {
  LONG lower = 99;
  LONG upper = 99;
  if ((array.vt & VT_ARRAY) != 0) {
    SafeArrayGetLBound(array.parray, 1, &lower);
    SafeArrayGetUBound(array.parray, 1, &upper);
  }
  return {lower, upper};
}

}  // namespace vellumset_testing
