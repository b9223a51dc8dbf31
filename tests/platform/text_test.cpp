#include <gtest/gtest.h>

#include <string>

#include "platform/kernel/code_page.h"
#include "platform/kernel/debug_output.h"
#include "platform/kernel/last_error.h"

namespace {

TEST(CodePage, RoundTripsEveryPlane) {
  const std::u16string text = u"a\u00e9\u20ac\U0001F600z";
  auto narrow = Utf16ToUtf8(text);
  ASSERT_TRUE(narrow);
  EXPECT_EQ(*narrow, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(Utf8ToUtf16(*narrow), text);
}

TEST(CodePage, KeepsEmbeddedNuls) {
  const std::u16string text(u"a\0b", 3);
  EXPECT_EQ(Utf16ToUtf8(text), std::string("a\0b", 3));
}

TEST(CodePage, RefusesBrokenInput) {
  EXPECT_FALSE(Utf16ToUtf8(std::u16string(1, u'\xD800')));
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_FALSE(Utf16ToUtf8(std::u16string(u"\xDC00x")));
  for (const char* bad :
       {"\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3", "\xFF", "\x80"}) {
    EXPECT_FALSE(Utf8ToUtf16(bad)) << bad;
  }
}

TEST(CodePage, PlatformCallsMeasureAndRefuseSmallBuffers) {
  const char16_t* wide = u"h\u00e9";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 4);
  char buffer[4];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, 4, nullptr, nullptr), 4);
  EXPECT_STREQ(buffer, "h\xC3\xA9");
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, wide, -1, buffer, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  char16_t back[3];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", 3, back, 3), 2);
  EXPECT_EQ(back[1], u'\u00e9');
}

TEST(SystemMessage, EndsInCrLfAndIsEmptyForUnknownCodes) {
  EXPECT_EQ(SystemMessageText(ERROR_FILE_NOT_FOUND), "No such file or directory\r\n");
  EXPECT_EQ(SystemMessageText(0), "");
  EXPECT_EQ(SystemMessageText(3999), "");
  EXPECT_EQ(SystemMessageText(0xFFFFFFFF), "");
}

TEST(DebugOutput, IsSilentUnlessSwitchedOn) {
  testing::internal::CaptureStderr();
  SetDebugOutput(false);
  OutputDebugStringA("hidden");
  SetDebugOutput(true);
  OutputDebugStringA("shown");
  OutputDebugStringA(nullptr);
  SetDebugOutput(false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown");
}

}  // namespace
