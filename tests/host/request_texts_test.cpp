// The request texts the host reads itself, fed bytes directly: targets, site paths,
// query parameters, byte ranges, entity tags, HTTP dates, mime.types lines and what a
// proxy in front says of the client.
#include <gtest/gtest.h>

#include <ostream>

#include "host/forwarded.h"
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
  for (const char* broken :
       {"", "index.js", "?x=1", "ftp://host/index.js", "http:/index.js", "*", "/a b", "/a\tb",
        "/\x80", "/%zz", "/a%2", "/a%00.js", "http://h/a%00"}) {
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

// A request from `peer` with `headers`: the client's address and whether it came over
// TLS once the headers of a trusted proxy (127.0.0.1, ::1) are believed.
struct ForwardedCase {
  const char* peer;
  std::vector<std::pair<std::string, std::string>> headers;
  const char* client;
  bool secure;
};

class ForwardedTest : public ::testing::TestWithParam<ForwardedCase> {};

TEST_P(ForwardedTest, OnlyATrustedProxySaysWhoTheClientIs) {
  host::RequestRecord record;
  record.remoteAddress = GetParam().peer;
  record.headers = GetParam().headers;
  host::ApplyForwardedHeaders({"127.0.0.1", "::1"}, &record);
  EXPECT_EQ(record.remoteAddress, GetParam().client);
  EXPECT_EQ(record.secure, GetParam().secure);
}

INSTANTIATE_TEST_SUITE_P(
    Proxies, ForwardedTest,
    ::testing::Values(
        ForwardedCase{"127.0.0.1",
                      {{"x-forwarded-for", "203.0.113.7"}, {"x-forwarded-proto", "https"}},
                      "203.0.113.7",
                      true},
        // Any other peer is taken as it came, whatever it claims.
        ForwardedCase{"192.0.2.1",
                      {{"x-forwarded-for", "203.0.113.7"}, {"x-forwarded-proto", "https"}},
                      "192.0.2.1",
                      false},
        ForwardedCase{"127.0.0.1", {}, "127.0.0.1", false},
        // The nearest hop no trusted proxy added: addresses further back are the
        // client's own claims.
        ForwardedCase{"127.0.0.1",
                      {{"x-forwarded-for", "198.51.100.1, 203.0.113.7, ::1"}},
                      "203.0.113.7",
                      false},
        ForwardedCase{"127.0.0.1",
                      {{"x-forwarded-for", "198.51.100.1"}, {"x-forwarded-for", "203.0.113.7"}},
                      "203.0.113.7",
                      false},
        ForwardedCase{
            "::ffff:127.0.0.1", {{"x-forwarded-for", "2001:db8::1"}}, "2001:db8::1", false},
        // Text that is no address never becomes one.
        ForwardedCase{
            "127.0.0.1", {{"x-forwarded-for", "<script>, 127.0.0.1"}}, "127.0.0.1", false},
        ForwardedCase{
            "127.0.0.1", {{"x-forwarded-for", "evil\" - -, 203.0.113.7"}}, "203.0.113.7", false},
        // The protocol the nearest proxy saw.
        ForwardedCase{"::1", {{"x-forwarded-proto", "HTTPS"}}, "::1", true},
        ForwardedCase{"::1", {{"x-forwarded-proto", "https, http"}}, "::1", false}));

}  // namespace
