// Where the limit on decoded pixels comes from: the process, the environment, the registry.
#include "platform/policy/pixel_limit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/kernel/decimal.h"
#include "platform/registry/registry_store.h"
#include "tests/support/registry_sandbox.h"

namespace {

class PixelLimitSources : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("VELLUM_MAX_PIXELS"); }
  void TearDown() override {
    unsetenv("VELLUM_MAX_PIXELS");
    policy::SetMaxImagePixels(std::nullopt);
  }
  static void SetRegistryValue(const std::string& text) {
    ASSERT_EQ(registry::UpdateRegistry([&](registry::RegistryKey& root) {
                root.Create("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vellum").SetValue("MaxPixels", text);
                return S_OK;
              }),
              S_OK);
  }

  testing_support::RegistrySandbox registry_;
};

TEST_F(PixelLimitSources, TheProcessComesBeforeTheEnvironmentWhichComesBeforeTheRegistry) {
  EXPECT_EQ(policy::MaxImagePixels(), 0u);  // nothing set: no limit
  SetRegistryValue("5000");
  EXPECT_EQ(policy::MaxImagePixels(), 5000u);
  setenv("VELLUM_MAX_PIXELS", "700", 1);
  EXPECT_EQ(policy::MaxImagePixels(), 700u);
  policy::SetMaxImagePixels(0);  // the process may also lift it
  EXPECT_EQ(policy::MaxImagePixels(), 0u);
  policy::SetMaxImagePixels(std::nullopt);
  EXPECT_EQ(policy::MaxImagePixels(), 700u);
}

TEST_F(PixelLimitSources, TextThatIsNotACountIsPassedOver) {
  SetRegistryValue("5000");
  for (const char* text : {"", "12M", " 700", "-5", "0x100", "99999999999999999999"}) {
    setenv("VELLUM_MAX_PIXELS", text, 1);
    EXPECT_EQ(policy::MaxImagePixels(), 5000u) << text;
  }
  SetRegistryValue("lots");
  EXPECT_EQ(policy::MaxImagePixels(), 0u);
  EXPECT_EQ(ParseDecimal("9999999999999999999"), 9999999999999999999u);
}

}  // namespace
