#include "vellum/ez_font.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/automation.h"
#include "tests/vellum/vellum_objects.h"

namespace {

using testing_support::Automation;
using vellum_testing::AsFont;
using vellum_testing::CreateDispatch;

class FontTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(object_); }
  Automation Script() { return Automation(object_.Get()); }
  const LOGFONTA& Record() { return AsFont(object_)->LogFont(); }

  ComPtr<IDispatch> object_ = CreateDispatch(vellum::CLSID_EZFont);
};

TEST_F(FontTest, ANewFontDrawsInArialButHasNoName) {
  EXPECT_EQ(Script().Get(u"Name").Text(), u"");
  for (const char16_t* name : {u"Height", u"Width", u"Orientation", u"Weight", u"Italic",
                               u"Underline", u"StrikeOut", u"Color", u"FontFamily"}) {
    EXPECT_EQ(Script().Get(name).Long(), 0);
  }
  EXPECT_STREQ(Record().lfFaceName, "Arial");
  EXPECT_EQ(Record().lfCharSet, 1);       // DEFAULT_CHARSET
  EXPECT_EQ(Record().lfOutPrecision, 4);  // OUT_TT_PRECIS
}

TEST_F(FontTest, WeightFamilyAndColourAreChecked) {
  EXPECT_EQ(Script().Put(u"Weight", 1001).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"Weight", -1).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"Weight", 1000).hr, S_OK);
  EXPECT_EQ(Script().Put(u"FontFamily", 6).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"FontFamily", -1).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"FontFamily", 2).hr, S_OK);
  EXPECT_EQ(Script().Get(u"FontFamily").Long(), 2);
  EXPECT_EQ(Record().lfPitchAndFamily, 0x20);  // FF_SWISS
  EXPECT_EQ(Script().Put(u"Color", 0x1000000).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"Color", -1).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"Color", 0xFFFFFF).hr, S_OK);
  EXPECT_EQ(Script().Get(u"Color").Long(), 0xFFFFFF);
}

TEST_F(FontTest, StyleFlagsKeepTheirLowByte) {
  EXPECT_EQ(Script().Put(u"Italic", -1).hr, S_OK);
  EXPECT_EQ(Script().Get(u"Italic").Long(), 255);
  EXPECT_EQ(Script().Put(u"Underline", 256).hr, S_OK);
  EXPECT_EQ(Script().Get(u"Underline").Long(), 0);
  EXPECT_EQ(Script().Put(u"StrikeOut", 1).hr, S_OK);
  EXPECT_EQ(Record().lfStrikeOut, 1);
  EXPECT_EQ(Script().Put(u"Orientation", 900).hr, S_OK);
  EXPECT_EQ(Record().lfEscapement, 900);  // escapement follows orientation
  EXPECT_EQ(Record().lfOrientation, 900);
  EXPECT_EQ(Script().Put(u"Height", -24).hr, S_OK);  // stored without a check
  EXPECT_EQ(Record().lfHeight, -24);
}

TEST_F(FontTest, NamesMustFitTheFaceNameField) {
  EXPECT_EQ(Script().Put(u"Name", u"").Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"Name", std::u16string(32, u'n')).Error(), E_INVALIDARG);
  const std::u16string longest(31, u'n');
  EXPECT_EQ(Script().Put(u"Name", longest).hr, S_OK);
  EXPECT_EQ(Script().Get(u"Name").Text(), longest);
  EXPECT_EQ(std::strlen(Record().lfFaceName), 31u);
  // 16 characters of two bytes each do not fit 31 bytes; 15 do.
  EXPECT_EQ(Script().Put(u"Name", std::u16string(16, u'\u00E9')).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"Name", std::u16string(15, u'\u00E9')).hr, S_OK);
  EXPECT_EQ(std::strlen(Record().lfFaceName), 30u);
  EXPECT_EQ(Script().Put(u"Name", std::u16string(u"A\0B", 3)).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"Name", std::u16string(1, u'\xD800')).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Put(u"Name", u"DejaVu Sans").hr, S_OK);
  EXPECT_STREQ(Record().lfFaceName, "DejaVu Sans");
}

TEST_F(FontTest, SupportsErrorInfoForIEZFontOnly) {
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(object_.As(&support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(vellum::IID_IEZFont), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(vellum::IID_IEasel), S_FALSE);
}

}  // namespace
