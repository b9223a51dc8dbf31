// The request texts the host reads itself, fed bytes directly: targets, site paths,
// query parameters, byte ranges, entity tags, HTTP dates and mime.types lines.
#include <gtest/gtest.h>

#include <ostream>

#include "host/http_texts.h"
#include "host/request_target.h"

namespace {

using host::ByteRange;

TEST(RequestTextsTest, TargetsSplitIntoADecodedPathAndTheQueryAsSent) {
  const std::optional<host::RequestTarget> target =
      host::SplitTarget("/pics/a%20b.js?text=Hi%21&x=1");
  ASSERT_TRUE(target.has_value());
  EXPECT_EQ(target->path, "/pics/a b.js");
  EXPECT_EQ(target->query, "text=Hi%21&x=1");
  EXPECT_EQ(host::SplitTarget("/")->query, "");
  EXPECT_EQ(host::SplitTarget("/a?")->path, "/a");
  // The absolute form, as a proxy's client sends it.
  const std::optional<host::RequestTarget> absolute =
      host::SplitTarget("HTTP://example.org:8080/pics/a%20b.js?text=Hi");
  ASSERT_TRUE(absolute.has_value());
  EXPECT_EQ(absolute->path, "/pics/a b.js");
  EXPECT_EQ(absolute->query, "text=Hi");
  EXPECT_EQ(host::SplitTarget("https://example.org")->path, "/");
  EXPECT_EQ(host::SplitTarget("http://example.org?x=1")->query, "x=1");
  for (const char* broken : {"", "index.js", "ftp://host/index.js", "http:/index.js", "*", "/a b",
                             "/a\tb", "/\x80", "/%zz", "/a%2", "/a%00.js", "http://h/a%00"}) {
    EXPECT_EQ(host::SplitTarget(broken), std::nullopt) << broken;
  }
}

TEST(RequestTextsTest, PercentDecodingAndQueryParameters) {
  EXPECT_EQ(host::PercentDecode("a%2Fb%2e+c", false), "a/b.+c");
  EXPECT_EQ(host::PercentDecode("a+b%2B", true), "a b+");
  EXPECT_EQ(host::PercentDecode("%", false), std::nullopt);
  EXPECT_EQ(host::PercentDecode("%4", false), std::nullopt);
  EXPECT_EQ(host::PercentDecode("%g0", false), std::nullopt);
  EXPECT_EQ(host::PercentDecode("%252e", false), "%2e");  // decoded once only

  const std::string_view query = "text=Hello+World%21&empty=&flag&na%6De=v&text=second&bad=%zz";
  EXPECT_EQ(host::QueryParameter(query, "text"), "Hello World!");
  EXPECT_EQ(host::QueryParameter(query, "name"), "v");
  EXPECT_EQ(host::QueryParameter(query, "empty"), "");
  EXPECT_EQ(host::QueryParameter(query, "flag"), "");
  EXPECT_EQ(host::QueryParameter(query, "missing"), "");
  EXPECT_EQ(host::QueryParameter(query, "bad"), "%zz");
  EXPECT_EQ(host::QueryParameter("", "text"), "");
}

TEST(RequestTextsTest, SitePathsStayInsideTheSite) {
  EXPECT_EQ(host::SiteRelativePath("/"), "");
  EXPECT_EQ(host::SiteRelativePath("/a/b.js"), "a/b.js");
  EXPECT_EQ(host::SiteRelativePath("//etc/./passwd"), "etc/passwd");
  EXPECT_EQ(host::SiteRelativePath("/a/.../b"), "a/.../b");
  EXPECT_EQ(host::SiteRelativePath("/.."), std::nullopt);
  EXPECT_EQ(host::SiteRelativePath("/a/../b"), std::nullopt);
  EXPECT_EQ(host::SiteRelativePath("/a/.."), std::nullopt);
  EXPECT_EQ(host::SiteRelativePath(std::string_view("/a\0b", 4)), std::nullopt);
}

struct RangeCase {
  const char* header;
  uint64_t size;
  ByteRange::Kind kind;
  uint64_t first, last;
};

// Test names show the case, not the bytes of its pointer.
void PrintTo(const RangeCase& c, std::ostream* out) {
  *out << '"' << c.header << "\" of " << c.size;
}

class RangeTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeTest, OneRangeOfBytesIsHonoured) {
  const RangeCase& c = GetParam();
  const ByteRange range = host::ParseRange(c.header, c.size);
  EXPECT_EQ(range.kind, c.kind) << c.header;
  if (c.kind == ByteRange::Kind::kPart) {
    EXPECT_EQ(range.first, c.first) << c.header;
    EXPECT_EQ(range.last, c.last) << c.header;
  }
}

constexpr auto kPart = ByteRange::Kind::kPart;
constexpr auto kWhole = ByteRange::Kind::kWhole;
constexpr auto kNone = ByteRange::Kind::kUnsatisfiable;

INSTANTIATE_TEST_SUITE_P(
    Ranges, RangeTest,
    ::testing::Values(
        RangeCase{"bytes=0-99", 1000, kPart, 0, 99}, RangeCase{"bytes=900-", 1000, kPart, 900, 999},
        RangeCase{"bytes=-100", 1000, kPart, 900, 999},
        RangeCase{"bytes=-5000", 1000, kPart, 0, 999},
        RangeCase{"bytes=990-5000", 1000, kPart, 990, 999},
        RangeCase{" bytes=5-5 ", 1000, kPart, 5, 5}, RangeCase{"bytes=1000-", 1000, kNone, 0, 0},
        RangeCase{"bytes=-0", 1000, kNone, 0, 0}, RangeCase{"bytes=0-0", 0, kNone, 0, 0},
        RangeCase{"bytes=5-4", 1000, kWhole, 0, 0}, RangeCase{"bytes=0-1,5-6", 1000, kWhole, 0, 0},
        RangeCase{"items=0-1", 1000, kWhole, 0, 0}, RangeCase{"bytes=a-b", 1000, kWhole, 0, 0},
        RangeCase{"bytes=-", 1000, kWhole, 0, 0},
        RangeCase{"bytes=99999999999999999999-", 1000, kWhole, 0, 0}));

TEST(RequestTextsTest, EntityTagsCompareWeakly) {
  EXPECT_TRUE(host::EtagListMatches("\"a\"", "\"a\""));
  EXPECT_TRUE(host::EtagListMatches("\"x\", W/\"a\" ", "\"a\""));
  EXPECT_TRUE(host::EtagListMatches("*", "\"a\""));
  EXPECT_FALSE(host::EtagListMatches("\"ab\"", "\"a\""));
  EXPECT_FALSE(host::EtagListMatches("a", "\"a\""));
  EXPECT_FALSE(host::EtagListMatches("", "\"a\""));
}

TEST(RequestTextsTest, HttpDatesInTheirThreeForms) {
  const std::time_t expected = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
  EXPECT_EQ(host::FormatHttpDate(expected), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(host::ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
  EXPECT_EQ(host::ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
  EXPECT_EQ(host::ParseHttpDate("Sun Nov  6 08:49:37 1994"), expected);
  EXPECT_EQ(host::ParseHttpDate("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
  EXPECT_EQ(host::ParseHttpDate("Tue, 29 Feb 2028 23:59:59 GMT"), 1835481599);
  for (const char* broken :
       {"", "yesterday", "Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 06 Nov 1994 8:49:37 GMT",
        "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 06 Nov 1994 24:00:00 GMT",
        "Sun, 6 Nov 1994 08:49:37 GMT", "Sun Nov 6 08:49:37 1994"}) {
    EXPECT_EQ(host::ParseHttpDate(broken), std::nullopt) << broken;
  }
}

TEST(RequestTextsTest, MimeTypesLinesGiveTypesByExtension) {
  const auto types = host::ParseMimeTypes(
      "# comment\napplication/json\t\tjson map\nimage/jpeg jpeg JPG # trailing\n"
      "not-a-type abc\ntext/other json\r\n\nimage/png\n");
  EXPECT_EQ(types.at("json"), "application/json");  // the first line wins
  EXPECT_EQ(types.at("map"), "application/json");
  EXPECT_EQ(types.at("jpg"), "image/jpeg");
  EXPECT_FALSE(types.contains("abc"));
  EXPECT_FALSE(types.contains("trailing"));
  EXPECT_EQ(types.size(), 4u);
}

}  // namespace
