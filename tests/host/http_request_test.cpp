// The request head parser and the path and query helpers, fed bytes directly.
#include "host/http_request.h"

#include <gtest/gtest.h>

#include <random>

#include "host/request_target.h"

namespace {

using host::ParseRequestHead;
using host::ParseStatus;

constexpr std::string_view kHead =
    "GET /pics/a%20b.js?text=Hi%21&x=1 HTTP/1.1\r\n"
    "Host: localhost:8080\r\n"
    "X-Padded:   spaced value \t\r\n"
    "\r\n";

TEST(HttpRequestTest, ACompleteHeadIsSplitIntoItsParts) {
  const std::string bytes = std::string(kHead) + "body bytes";
  const host::ParseResult parsed = ParseRequestHead(bytes);
  ASSERT_EQ(parsed.status, ParseStatus::kComplete);
  EXPECT_EQ(parsed.headBytes, kHead.size());
  const host::HttpRequest& request = parsed.request;
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/pics/a%20b.js?text=Hi%21&x=1");
  EXPECT_EQ(request.path, "/pics/a b.js");
  EXPECT_EQ(request.query, "text=Hi%21&x=1");
  EXPECT_EQ(request.minorVersion, 1);
  EXPECT_EQ(request.Header("host"), "localhost:8080");
  EXPECT_EQ(request.Header("x-padded"), "spaced value");
  EXPECT_EQ(request.Header("accept"), std::nullopt);

  // Bare line feeds end lines too; HTTP/1.0 without headers is complete.
  const host::ParseResult bare = ParseRequestHead("HEAD / HTTP/1.0\n\n");
  ASSERT_EQ(bare.status, ParseStatus::kComplete);
  EXPECT_EQ(bare.headBytes, 17u);
  EXPECT_EQ(bare.request.minorVersion, 0);
  EXPECT_TRUE(bare.request.headers.empty());
}

TEST(HttpRequestTest, EveryShorterPrefixAsksForMore) {
  for (size_t length = 0; length < kHead.size(); ++length) {
    EXPECT_EQ(ParseRequestHead(kHead.substr(0, length)).status, ParseStatus::kIncomplete) << length;
  }
}

TEST(HttpRequestTest, BrokenHeadsAreMalformed) {
  const char* broken[] = {
      "GET\r\n\r\n",
      "GET /\r\n\r\n",
      "GET / HTTP/2.0\r\n\r\n",
      "GET / HTTP/1.1 \r\n\r\n",
      "GET  / HTTP/1.1\r\n\r\n",
      "GET / http/1.1\r\n\r\n",
      "GET index.js HTTP/1.1\r\n\r\n",
      "GET http://host/index.js HTTP/1.1\r\n\r\n",
      "G(T / HTTP/1.1\r\n\r\n",
      "GET /a\tb HTTP/1.1\r\n\r\n",
      "GET /\x80 HTTP/1.1\r\n\r\n",
      "GET /%zz HTTP/1.1\r\n\r\n",
      "GET /a%2 HTTP/1.1\r\n\r\n",
      "GET /a%00.js HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\nNo colon\r\n\r\n",
      "GET / HTTP/1.1\r\nName : space before colon\r\n\r\n",
      "GET / HTTP/1.1\r\nA: b\r\n folded: line\r\n\r\n",
      "GET / HTTP/1.1\r\nA: b\x01\r\n\r\n",
      "GET / HTTP/1.1\r\nA: b\rc\r\n\r\n",
      "\r\nGET / HTTP/1.1\r\n\r\n",
      "\x16\x03\x01\x02\x05\x01\x07\x01\xfc\x03\x03\n\n",  // a TLS hello
  };
  for (const char* head : broken) {
    EXPECT_EQ(ParseRequestHead(head).status, ParseStatus::kMalformed) << head;
  }
}

TEST(HttpRequestTest, HeadsOverTheLimitsAreTooLarge) {
  std::string endless = "GET / HTTP/1.1\r\nX: ";
  endless.append(host::kMaxHeadBytes, 'a');
  EXPECT_EQ(ParseRequestHead(endless).status, ParseStatus::kTooLarge);
  EXPECT_EQ(ParseRequestHead(endless + "\r\n\r\n").status, ParseStatus::kTooLarge);
  std::string line(host::kMaxHeadBytes + 10, '/');
  line.insert(0, "GET ");
  EXPECT_EQ(ParseRequestHead(line).status, ParseStatus::kTooLarge);

  std::string many = "GET / HTTP/1.1\r\n";
  for (size_t i = 0; i < host::kMaxHeaderCount; ++i) many += "A: b\r\n";
  EXPECT_EQ(ParseRequestHead(many + "\r\n").status, ParseStatus::kComplete);
  EXPECT_EQ(ParseRequestHead(many + "A: b\r\n\r\n").status, ParseStatus::kTooLarge);
}

TEST(HttpRequestTest, RandomBytesNeverPassAsARequestLine) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(static_cast<size_t>(byte(rng) % 64), '\0');
    for (char& c : bytes) c = static_cast<char>(byte(rng));
    const host::ParseResult parsed = ParseRequestHead(bytes + "\r\n\r\n");
    if (parsed.status == ParseStatus::kComplete) {
      EXPECT_EQ(parsed.request.target.front(), '/');
      EXPECT_LE(parsed.headBytes, bytes.size() + 4);
    }
  }
}

TEST(HttpRequestTest, PercentDecodingAndQueryParameters) {
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

TEST(HttpRequestTest, SitePathsStayInsideTheSite) {
  EXPECT_EQ(host::SiteRelativePath("/"), "");
  EXPECT_EQ(host::SiteRelativePath("/a/b.js"), "a/b.js");
  EXPECT_EQ(host::SiteRelativePath("//etc/./passwd"), "etc/passwd");
  EXPECT_EQ(host::SiteRelativePath("/a/.../b"), "a/.../b");
  EXPECT_EQ(host::SiteRelativePath("/.."), std::nullopt);
  EXPECT_EQ(host::SiteRelativePath("/a/../b"), std::nullopt);
  EXPECT_EQ(host::SiteRelativePath("/a/.."), std::nullopt);
  EXPECT_EQ(host::SiteRelativePath(std::string_view("/a\0b", 4)), std::nullopt);
}

}  // namespace
