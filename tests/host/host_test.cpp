// The real vellum-host, run as a process of its own on a free port with a private
// registry, with .asp pages and site files, talked to over sockets.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/host_process.h"
#include "tests/support/http_client.h"
#include "tests/support/oracle.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::Eventually;
using testing_support::Exchange;
using testing_support::Get;
using testing_support::HostProcess;
using testing_support::HttpConnection;
using testing_support::HttpReply;
using testing_support::ReadFileText;
using testing_support::WriteFileBytes;

class HostTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  HostTest() : ToolRunner(REGSVR_PATH, "") { std::filesystem::create_directory(Site()); }

  std::string Site() const { return Directory().File("site"); }
  std::string ErrorLog() const { return Directory().File("error.log"); }
  std::string AccessLog() const { return Directory().File("access.log"); }
  void AddFile(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(Site() + "/" + name).parent_path());
    WriteFileBytes(Site() + "/" + name, std::vector<uint8_t>(content.begin(), content.end()));
  }
  std::string ErrorText() const { return ReadFileText(ErrorLog()); }
  std::string AccessText() const { return ReadFileText(AccessLog()); }

  // Starts the host on the site as it is now, in development mode unless the options
  // say --development=false.
  int Start(std::vector<std::string> options = {}) {
    std::vector<std::string> arguments = {"--port", "0", "--access-log", AccessLog(),
                                          "--development"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(Site());
    host_ = std::make_unique<HostProcess>(HOST_PATH, arguments, Registry(), ErrorLog());
    EXPECT_NE(host_->Port(), 0) << host_->FirstLine() << ErrorText();
    return host_->Port();
  }

  // Waits (a while) until the log holds the text or matches the pattern.
  bool ErrorLogShows(const std::string& text) const {
    return Eventually([&] { return ErrorText().find(text) != std::string::npos; });
  }
  bool AccessLogMatches(const std::regex& pattern) const {
    return Eventually([&] { return std::regex_search(AccessText(), pattern); });
  }

  std::unique_ptr<HostProcess> host_;
};

TEST_F(HostTest, ImagePagesSendWhatSaveImageChose) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  AddFile("chart.asp", R"(<%
    var e = CreateObject("Quillmark.Easel");
    e.CreateImage(Number(Request.QueryString("w")), 20, 0x0000FF);
    e.FillRectInImage(0, 10, 10, 10, 0x00FF00);
    e.BufferResponse = Request.QueryString("buffer") == "1";
    e.SaveImage(2, Number(Request.QueryString("format")), "");
  %>)");
  const int port = Start();

  // Unbuffered: chunked as it is written; buffered: with its length.
  for (const char* buffer : {"0", "1"}) {
    const HttpReply png = Get(port, std::string("/chart.asp?format=4&w=30&buffer=") + buffer);
    ASSERT_EQ(png.status, 200);
    EXPECT_EQ(png.headers.at("content-type"), "image/png");
    EXPECT_TRUE(png.complete);
    EXPECT_EQ(png.headers.contains("content-length"), buffer == std::string("1"));
    EXPECT_EQ(png.chunked, buffer == std::string("0"));
    const std::string file = Directory().File("chart.png");
    WriteFileBytes(file, std::vector<uint8_t>(png.body.begin(), png.body.end()));
    const std::optional<testing_support::RawImage> image = testing_support::DecodeWithPillow(file);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, 30);
    EXPECT_EQ(image->height, 20);
    EXPECT_EQ(std::vector<uint8_t>(image->rgb.begin(), image->rgb.begin() + 3),
              (std::vector<uint8_t>{255, 0, 0}));
    const size_t lowerLeft = (15 * 30 + 5) * 3;
    EXPECT_EQ(
        std::vector<uint8_t>(image->rgb.begin() + lowerLeft, image->rgb.begin() + lowerLeft + 3),
        (std::vector<uint8_t>{0, 255, 0}));
  }

  // Formats browsers do not show come as attachments named after the page.
  const HttpReply psd = Get(port, "/chart.asp?format=9&w=12");
  ASSERT_EQ(psd.status, 200);
  EXPECT_EQ(psd.headers.at("content-type"), "image/psd");
  EXPECT_EQ(psd.headers.at("content-disposition"), "attachment; filename=\"chart.PSD\"");
  EXPECT_TRUE(psd.body.starts_with("8BPS"));

  // Larger than one piece of SaveImage's output: the pieces arrive whole and in order.
  const HttpReply bmp = Get(port, "/chart.asp?format=1&w=2000");
  ASSERT_EQ(bmp.status, 200);
  EXPECT_TRUE(bmp.complete);
  EXPECT_EQ(bmp.body.size(), 54u + 2000u * 20u * 3u);
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, BufferingDecidesHowTheBodyGoesOut) {
  AddFile("buffered.asp", R"(<%
    Response.Write("dropped");
    Response.Clear();
    Response.ContentType = "text/plain";
    Response.AddHeader("X-Page", "yes");
    Response.Write("h\u00e9llo ");
    Response.BinaryWrite(new Uint8Array([119, 111, 114, 108, 100]));
  %>)");
  AddFile("streamed.asp", R"(<%
    function attempt(f) { try { f(); return "ok"; } catch (e) { return String(e.number); } }
    Response.Buffer = false;
    var before = attempt(function () { Response.AddHeader("X-Early", "1"); });
    Response.Write("one,");
    var results = [before,
                   attempt(function () { Response.Buffer = true; }),
                   attempt(function () { Response.AddHeader("X-Late", "1"); }),
                   attempt(function () { Response.ContentType = "text/plain"; }),
                   attempt(function () { Response.Clear(); }),
                   attempt(function () { Response.Write(""); }),
                   Response.IsClientConnected];
    Response.Write("two," + results.join(","));
  %>)");
  AddFile("headers.asp", R"(<%
    function attempt(f) { try { f(); return "ok"; } catch (e) { return String(e.number); } }
    Response.Write([attempt(function () { Response.AddHeader("X-Bad", "a\r\nSet-Cookie: b"); }),
                    attempt(function () { Response.AddHeader("Content-Length", "1"); }),
                    attempt(function () { Response.AddHeader("Bad Name", "v"); }),
                    attempt(function () { Response.BinaryWrite("text"); })].join(","));
  %>)");
  const int port = Start();

  const HttpReply buffered = Get(port, "/buffered.asp");
  ASSERT_EQ(buffered.status, 200);
  EXPECT_EQ(buffered.headers.at("content-type"), "text/plain; charset=utf-8");
  EXPECT_EQ(buffered.headers.at("x-page"), "yes");
  EXPECT_EQ(buffered.headers.at("content-length"), "12");
  EXPECT_EQ(buffered.body, "h\xC3\xA9llo world");

  const HttpReply streamed = Get(port, "/streamed.asp");
  ASSERT_EQ(streamed.status, 200);
  EXPECT_TRUE(streamed.chunked);
  EXPECT_EQ(streamed.headers.at("x-early"), "1");
  EXPECT_FALSE(streamed.headers.contains("x-late"));
  EXPECT_TRUE(streamed.complete);
  // E_FAIL = -2147467259 for each change after the head went out.
  EXPECT_EQ(streamed.body, "one,two,ok,-2147467259,-2147467259,-2147467259,-2147467259,ok,true");

  // An HTTP/1.0 client gets the streamed body up to the close instead of chunks.
  const HttpReply old = Exchange(port, "GET /streamed.asp HTTP/1.0\r\n\r\n");
  EXPECT_FALSE(old.chunked);
  EXPECT_TRUE(old.body.starts_with("one,two,ok,"));

  // Texts that would break the head, framing headers and non-bytes are refused.
  const HttpReply refused = Get(port, "/headers.asp");
  EXPECT_EQ(refused.body, "-2147024809,-2147024809,-2147024809,-2147352571");
  EXPECT_EQ(host_->Stop(), 0);
}

const char* const kBrokenPage = R"(<%
  Response.Write("partial output");
  function picture() { throw new Error("no <b>such</b> picture"); }
  picture();
%>)";

TEST_F(HostTest, InDevelopmentA500PageShowsTheScriptError) {
  AddFile("broken.asp", kBrokenPage);
  AddFile("syntax.asp", "<% var = ; %>");
  AddFile("late.asp", R"(<%
    Response.Buffer = false;
    Response.Write("started");
    throw new Error("too late");
  %>)");
  const int port = Start();
  const HttpReply broken = Get(port, "/broken.asp");
  EXPECT_EQ(broken.status, 500);
  EXPECT_NE(broken.body.find("/broken.asp, line 3"), std::string::npos) << broken.body;
  EXPECT_NE(broken.body.find("no &lt;b&gt;such&lt;/b&gt; picture"), std::string::npos);
  EXPECT_NE(broken.body.find("at picture (/broken.asp:3)"), std::string::npos);
  EXPECT_EQ(broken.body.find("partial output"), std::string::npos);
  EXPECT_EQ(broken.body.find(".cpp"), std::string::npos);
  EXPECT_EQ(Get(port, "/syntax.asp").status, 500);
  // Once the body is streaming the response is broken off: no terminating chunk.
  const HttpReply late = Get(port, "/late.asp");
  EXPECT_EQ(late.status, 200);
  EXPECT_FALSE(late.complete);
  EXPECT_EQ(host_->Stop(), 0);
  EXPECT_NE(ErrorText().find("too late"), std::string::npos);
}

TEST_F(HostTest, InProductionA500PageShowsOnlyTheIncidentTheLogExplains) {
  AddFile("broken.asp", kBrokenPage);
  const int port = Start({"--development=false"});
  const HttpReply broken = Get(port, "/broken.asp");
  EXPECT_EQ(broken.status, 500);
  const std::smatch found = [&] {
    std::smatch match;
    std::regex_search(broken.body, match, std::regex("incident ([0-9a-f]+-[0-9]+)"));
    return match;
  }();
  ASSERT_FALSE(found.empty()) << broken.body;
  for (const char* hidden : {"such", "broken.asp", "picture", "line"}) {
    EXPECT_EQ(broken.body.find(hidden), std::string::npos) << hidden;
  }
  EXPECT_EQ(host_->Stop(), 0);
  // The log line of the incident holds the request, the file and line, and the stack.
  const std::string log = ErrorText();
  const size_t incident = log.find("incident " + found[1].str() + ": ");
  ASSERT_NE(incident, std::string::npos) << log;
  const std::string entry = log.substr(incident);
  EXPECT_NE(
      entry.find("\"GET /broken.asp\": /broken.asp:3: Script error: Error: no <b>such</b> picture"),
      std::string::npos)
      << entry;
  EXPECT_NE(entry.find("at picture (/broken.asp:3)"), std::string::npos);
}

// --strict-errors makes every page strict; a page's directive still decides for itself.
TEST_F(HostTest, StrictErrorsFailThePagesOfTheSite) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  const std::string body = R"(<% var e = CreateObject("Quillmark.Easel");
    e.RotateImage(45, 0); Response.Write("returned"); %>)";
  AddFile("plain.asp", body);
  AddFile("lenient.asp", "<%@ StrictErrors=False %>" + body);
  const int port = Start({"--strict-errors"});
  const HttpReply plain = Get(port, "/plain.asp");
  EXPECT_EQ(plain.status, 500);
  EXPECT_NE(plain.body.find("No images were loaded"), std::string::npos) << plain.body;
  EXPECT_EQ(Get(port, "/lenient.asp").body, "returned");
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, PagesSeeTheirRequest) {
  AddFile("index.asp", R"(<%
    var v = Request.ServerVariables;
    Response.Write([v("SCRIPT_NAME"), v("QUERY_STRING"), v("REQUEST_METHOD"), v("SERVER_NAME"),
                    v("SERVER_PORT"), v("REMOTE_ADDR"), v("HTTP_HOST"), v("http_x_custom_thing"),
                    v("NO_SUCH_VARIABLE").Count, Request.QueryString("q"),
                    Request.QueryString("none").Count].join("|"));
    print("index page ran");
  %>)");
  const int port = Start();
  const std::string rest =
      " /?q=a%20b+c&r=1 HTTP/1.1\r\nHost: example.test:81\r\nX-Custom-Thing: z\r\n\r\n";
  const HttpReply reply = Exchange(port, "GET" + rest);
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "/index.asp|q=a%20b+c&r=1|GET|example.test|" + std::to_string(port) +
                            "|127.0.0.1|example.test:81|z|0|a b c|0");
  // HEAD runs the page but sends only the head.
  const HttpReply head = Exchange(port, "HEAD" + rest);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.headers.at("content-length"), std::to_string(reply.body.size() + 1));  // HEAD
  EXPECT_EQ(head.body, "");
  EXPECT_EQ(host_->Stop(), 0);
  EXPECT_NE(ErrorText().find("index page ran"), std::string::npos);
}

TEST_F(HostTest, FilesAreServedAndRefusalsExplained) {
  AddFile("notes.txt", "plain notes\n");
  AddFile("img/dot.GIF", "GIF89a");
  const int port = Start();

  const HttpReply notes = Get(port, "/notes.txt");
  EXPECT_EQ(notes.status, 200);
  EXPECT_EQ(notes.headers.at("content-type"), "text/plain; charset=utf-8");
  EXPECT_EQ(notes.headers.at("content-length"), "12");
  EXPECT_EQ(notes.body, "plain notes\n");
  const HttpReply head = Exchange(port, "HEAD /notes.txt HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(head.headers.at("content-length"), "12");
  EXPECT_EQ(head.body, "");
  const HttpReply gif = Get(port, "/img/dot%2EGIF");
  EXPECT_EQ(gif.headers.at("content-type"), "image/gif");
  EXPECT_EQ(gif.body, "GIF89a");

  EXPECT_EQ(Get(port, "/missing.txt").status, 404);
  const HttpReply folder = Get(port, "/img?x=1");
  EXPECT_EQ(folder.status, 301);
  EXPECT_EQ(folder.headers.at("location"), "/img/?x=1");
  // Never to another host ("//img/" would be one).
  EXPECT_EQ(Get(port, "//img").headers.at("location"), "/img/");
  EXPECT_EQ(Get(port, "/img/").status, 404);  // no index file there
  EXPECT_EQ(Get(port, "/").status, 404);
  const HttpReply post =
      Exchange(port, "POST /notes.txt HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc");
  EXPECT_EQ(post.status, 405);
  EXPECT_EQ(post.headers.at("allow"), "GET, HEAD");
  EXPECT_EQ(Exchange(port, "GET /notes.txt\r\n\r\n").status, 400);
  EXPECT_EQ(Exchange(port, "G(T /notes.txt HTTP/1.1\r\nHost: h\r\n\r\n").status, 400);
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, PathsCannotLeaveTheSite) {
  const std::string secret = Directory().File("secret.txt");
  WriteFileBytes(secret, {'s', 'e', 'c', 'r', 'e', 't'});
  std::filesystem::create_symlink(secret, Site() + "/link.txt");
  std::filesystem::create_symlink(Directory().Path(), Site() + "/up");
  const int port = Start();
  const char* attempts[] = {"/../secret.txt",
                            "/%2e%2e/secret.txt",
                            "/%2E%2E%2Fsecret.txt",
                            "/x/..%2f..%2fsecret.txt",
                            "/link.txt",
                            "/up/secret.txt",
                            "//",
                            "/.%2e/.%2e/etc/passwd"};
  for (const char* target : attempts) {
    const HttpReply reply = Get(port, target);
    EXPECT_TRUE(reply.status == 403 || reply.status == 404) << target << " " << reply.status;
    EXPECT_EQ(reply.body.find("secret"), std::string::npos) << target;
  }
  // Absolute paths, and the path of an absolute-form target, are read inside the site.
  EXPECT_EQ(Get(port, "//etc/passwd").status, 404);
  EXPECT_EQ(Get(port, std::string("/%2F") + secret.substr(1)).status, 404);
  EXPECT_EQ(Get(port, "http://localhost" + secret).status, 404);
  EXPECT_EQ(Get(port, "http://localhost/../secret.txt").status, 403);
  EXPECT_EQ(Get(port, "/notes.txt%00.js").status, 400);
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, NamesThatMustNeverBeSentAre404) {
  const std::vector<std::string> denied = {".env",       ".git/config",      "data/pictures.db",
                                           "old.SQLite", "parts/header.inc", "host.conf"};
  for (const std::string& name : denied) AddFile(name, "private " + name);
  AddFile("public.txt", "public");
  std::filesystem::create_symlink(Site() + "/.env", Site() + "/innocent.txt");
  const std::string config = Site() + "/settings.cfg";
  std::ofstream(config) << "workers = 2\n";
  const int port = Start({"--config", config});
  for (const std::string& name : denied) {
    const HttpReply reply = Get(port, "/" + name);
    EXPECT_EQ(reply.status, 404) << name;
    EXPECT_EQ(reply.body.find("private"), std::string::npos) << name;
  }
  EXPECT_EQ(Get(port, "/innocent.txt").status, 404);
  EXPECT_EQ(Get(port, "/settings.cfg").status, 404);  // the host's own configuration
  EXPECT_EQ(Get(port, "/public.txt").body, "public");
  EXPECT_EQ(host_->Stop(), 0);

  // The list is the host's option; it replaces the default one.
  const int other = Start({"--deny", "*.txt"});
  EXPECT_EQ(Get(other, "/public.txt").status, 404);
  EXPECT_EQ(Get(other, "/.env").body, "private .env");
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, ConnectionsCarryManyRequestsInTurnAndPipelined) {
  AddFile("notes.txt", "plain notes\n");
  AddFile("count.asp", R"(<%Response.Write("page " + Request.QueryString("n"));%>)");
  const int port = Start();
  HttpConnection connection(port);
  for (const std::string n : {"1", "2", "3"}) {
    ASSERT_TRUE(connection.Send("GET /count.asp?n=" + n + " HTTP/1.1\r\nHost: h\r\n\r\n"));
    const std::optional<HttpReply> reply = connection.Read();
    ASSERT_TRUE(reply.has_value()) << n;
    EXPECT_EQ(reply->body, "page " + n);
  }
  ASSERT_TRUE(connection.Send("GET /notes.txt HTTP/1.1\r\nHost: h\r\n\r\n"));
  EXPECT_EQ(connection.Read()->body, "plain notes\n");
  EXPECT_FALSE(connection.ClosedByServer(200));

  // Three requests in one send: three replies, in order.
  ASSERT_TRUE(
      connection.Send("GET /count.asp?n=a HTTP/1.1\r\nHost: h\r\n\r\n"
                      "GET /missing HTTP/1.1\r\nHost: h\r\n\r\n"
                      "GET /notes.txt HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n"));
  const std::optional<HttpReply> first = connection.Read();
  const std::optional<HttpReply> second = connection.Read();
  const std::optional<HttpReply> third = connection.Read();
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(first->body, "page a");
  EXPECT_EQ(second->status, 404);
  EXPECT_EQ(third->body, "plain notes\n");
  EXPECT_TRUE(connection.ClosedByServer(2000));
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, FilesCarryValidatorsForConditionalAndRangedRequests) {
  std::string digits;
  for (int i = 0; i < 1000; ++i) digits += static_cast<char>('0' + i % 10);
  AddFile("digits.txt", digits);
  const int port = Start();
  const HttpReply whole = Get(port, "/digits.txt");
  ASSERT_EQ(whole.status, 200);
  const std::string etag = whole.headers.at("etag");
  const std::string modified = whole.headers.at("last-modified");
  EXPECT_EQ(whole.headers.at("accept-ranges"), "bytes");

  const HttpReply sameTag = Get(port, "/digits.txt", "If-None-Match: \"x\", " + etag + "\r\n");
  EXPECT_EQ(sameTag.status, 304);
  EXPECT_EQ(sameTag.body, "");
  EXPECT_EQ(sameTag.headers.at("etag"), etag);
  // A length on a 304 is the file's: a cache that took "0" from it would cut its copy.
  EXPECT_EQ(
      sameTag.headers.count("content-length") == 0 ? "1000" : sameTag.headers.at("content-length"),
      "1000");
  EXPECT_EQ(Get(port, "/digits.txt", "If-Modified-Since: " + modified + "\r\n").status, 304);
  EXPECT_EQ(Get(port, "/digits.txt", "If-None-Match: \"other\"\r\n").status, 200);
  EXPECT_EQ(Get(port, "/digits.txt", "If-Modified-Since: Thu, 01 Jan 1970 00:00:00 GMT\r\n").status,
            200);

  const HttpReply part = Get(port, "/digits.txt", "Range: bytes=995-\r\n");
  EXPECT_EQ(part.status, 206);
  EXPECT_EQ(part.headers.at("content-range"), "bytes 995-999/1000");
  EXPECT_EQ(part.body, "56789");
  EXPECT_EQ(Get(port, "/digits.txt", "Range: bytes=10-14\r\nIf-Range: " + etag + "\r\n").body,
            "01234");
  // The client holds part of another version: the whole file instead.
  EXPECT_EQ(Get(port, "/digits.txt", "Range: bytes=10-14\r\nIf-Range: \"old\"\r\n").body.size(),
            1000u);
  const HttpReply beyond = Get(port, "/digits.txt", "Range: bytes=2000-\r\n");
  EXPECT_EQ(beyond.status, 416);
  EXPECT_EQ(beyond.headers.at("content-range"), "bytes */1000");
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, TheAccessLogRecordsEveryRequestAndSighupReopensIt) {
  AddFile("notes.txt", "plain notes\n");
  const int port = Start();
  Get(port, "/notes.txt", "Referer: http://example.test/\"x\"\r\nUser-Agent: tester/1.0\r\n");
  Get(port, "/missing");
  const std::regex line(
      R"(127\.0\.0\.1 - - \[\d\d/\w\w\w/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] )"
      R"("GET /notes\.txt HTTP/1\.1" 200 12 "http://example\.test/\\x22x\\x22" "tester/1\.0" )"
      R"(\d+\.\d{3}\n)");
  EXPECT_TRUE(AccessLogMatches(line)) << AccessText();
  // The refusal with the bytes of its page.
  EXPECT_TRUE(AccessLogMatches(std::regex(R"("GET /missing HTTP/1\.1" 404 [1-9]\d* )")));

  std::filesystem::rename(AccessLog(), AccessLog() + ".1");
  host_->Signal(SIGHUP);
  for (int wait = 0; wait < 100 && !std::filesystem::exists(AccessLog()); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Get(port, "/notes.txt?after");
  EXPECT_TRUE(AccessLogMatches(std::regex("after")));
  EXPECT_EQ(host_->Stop(), 0);
  EXPECT_NE(AccessText().find("/notes.txt?after"), std::string::npos);
  EXPECT_EQ(ReadFileText(AccessLog() + ".1").find("after"), std::string::npos);
}

TEST_F(HostTest, ConcurrentPagesAndADepartedClient) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  AddFile("gradient.asp", R"(<%
    var e = CreateObject("Quillmark.Easel");
    e.CreateGradientImage(64, 48, 0x000000, 0xFFFFFF, 0);
    e.SaveImage(2, 4, "");
  %>)");
  AddFile("endless.asp", R"(<%
    Response.Buffer = false;
    var piece = new Uint8Array(65536);
    var sent = 0;
    while (Response.IsClientConnected && sent < 100000) { Response.BinaryWrite(piece); sent++; }
    print("client left: " + (sent < 100000));
  %>)");
  const int port = Start();
  std::vector<std::thread> clients;
  std::vector<HttpReply> replies(6);
  for (size_t i = 0; i < replies.size(); ++i) {
    clients.emplace_back([&, i] { replies[i] = Get(port, "/gradient.asp"); });
  }
  for (std::thread& client : clients) client.join();
  // The same picture each time (the PNG's tIME chunk says when it was made).
  const auto timeless = [](std::string png) {
    const size_t chunk = png.find("tIME");
    if (chunk != std::string::npos && chunk >= 4) png.erase(chunk - 4, 4 + 4 + 7 + 4);
    return png;
  };
  for (const HttpReply& reply : replies) {
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body.starts_with("\x89PNG"));
    EXPECT_EQ(timeless(reply.body), timeless(replies[0].body));
  }

  // A client that reads the start and leaves: the page sees it go.
  {
    HttpConnection leaving(port);
    leaving.Send("GET /endless.asp HTTP/1.1\r\nHost: h\r\n\r\n");
    char piece[1024];
    EXPECT_GT(recv(leaving.Socket(), piece, sizeof piece, 0), 0);
  }
  EXPECT_EQ(Get(port, "/gradient.asp").status, 200);  // still serving
  EXPECT_TRUE(ErrorLogShows("client left"));
  EXPECT_EQ(host_->Stop(), 0);
  EXPECT_NE(ErrorText().find("client left: true"), std::string::npos);
}

TEST_F(HostTest, SlowClientsAreCutOffAndTheHostStillStops) {
  AddFile("notes.txt", "notes");
  const int port = Start({"--head-timeout", "1", "--keep-alive-timeout", "1"});
  // Silent: closed without a reply. Partial head: 408. Trickling bytes does not extend the time.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(port, "").status, 0);
  EXPECT_EQ(Exchange(port, "GET /notes.txt HTTP/1.1\r\n").status, 408);
  HttpConnection trickler(port);
  for (int i = 0; i < 40; ++i) {
    if (!trickler.Send("X")) break;
    pollfd ready = {trickler.Socket(), POLLIN, 0};
    if (poll(&ready, 1, 100) > 0) break;
  }
  const std::optional<HttpReply> reply = trickler.Read();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 408);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
  EXPECT_TRUE(ErrorLogShows("408: the request head from 127.0.0.1"));

  // A client that connected and says nothing does not hold up the stop.
  HttpConnection idle(port);
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, AStopLetsTheRequestsInFlightFinish) {
  AddFile("slow.asp", R"(<%
    var end = Date.now() + Number(Request.QueryString("ms"));
    while (Date.now() < end) {}
    Response.Write("finished");
  %>)");
  const int port = Start();
  HttpConnection inFlight(port);
  ASSERT_TRUE(inFlight.Send("GET /slow.asp?ms=1500 HTTP/1.1\r\nHost: h\r\n\r\n"));
  HttpConnection idle(port);  // kept open, no request: closed at the stop
  ASSERT_TRUE(idle.Connected());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  host_->Signal(SIGTERM);
  const std::optional<HttpReply> reply = inFlight.Read();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(reply->body, "finished");
  EXPECT_EQ(reply->headers.at("connection"), "close");
  EXPECT_TRUE(idle.ClosedByServer(2000));
  EXPECT_EQ(host_->Wait(), 0);
  EXPECT_FALSE(HttpConnection(port).Connected());

  // A second signal does not wait for the page.
  const int again = Start();
  HttpConnection stuck(again);
  ASSERT_TRUE(stuck.Send("GET /slow.asp?ms=20000 HTTP/1.1\r\nHost: h\r\n\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto signalled = std::chrono::steady_clock::now();
  host_->Signal(SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  host_->Signal(SIGTERM);
  EXPECT_EQ(host_->Wait(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(5));
  EXPECT_TRUE(ErrorLogShows("stopped at once"));
}

// Image pages served to eight clients at once, each page drawing text and saving a
// different format: every reply is whole (the suite also runs under ThreadSanitizer,
// which would stop the host at the first race).
TEST_F(HostTest, ImagePagesUnderConcurrentLoad) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  AddFile("badge.asp", R"(<%
    var e = CreateObject("Quillmark.Easel");
    e.CreateGradientImage(120, 40, 0x204080, 0xFFFFFF, 0);
    e.Font.Height = -16;
    e.AntiAliasFactor = 4;
    e.DrawTextOnImage(4, 4, 0, 0, "n" + Request.QueryString("n"));
    e.RotateImage(15, 0);
    e.SaveImage(2, Number(Request.QueryString("format")), "");
  %>)");
  const int port = Start();
  const char* types[] = {"image/bmp",  "image/gif", "image/jpeg", "image/png", "image/pcx",
                         "image/tiff", "image/wmf", "image/emf",  "image/psd"};
  constexpr int kClients = 8;
  constexpr int kRequests = 4;
  std::vector<std::string> failures(kClients);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int r = 0; r < kRequests; ++r) {
        const int format = 1 + (c + r * kClients) % 9;
        const HttpReply reply =
            Get(port, "/badge.asp?n=" + std::to_string(r) + "&format=" + std::to_string(format));
        if (reply.status != 200 || reply.body.size() < 100 ||
            reply.headers.count("content-type") == 0 ||
            reply.headers.at("content-type") != types[format - 1]) {
          failures[c] +=
              "format " + std::to_string(format) + ": " + std::to_string(reply.status) + "; ";
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  for (const std::string& failure : failures) EXPECT_EQ(failure, "");
  EXPECT_EQ(host_->Stop(), 0) << ErrorText();
}

// A page's objects open files only in the site and the data folder; images over the
// host's pixel limit (100 megapixels unless set) are refused from their headers, and
// an image larger than the whole budget of image memory fails at once.
TEST_F(HostTest, PagesAreKeptToTheSiteAndDataFoldersAndThePixelLimit) {
  for (const char* module : {VELLUM_MODULE_PATH, VELLUMSET_MODULE_PATH, DATABASE_MODULE_PATH}) {
    ASSERT_EQ(Register(module).status, 0) << module;
  }
  const std::string data = Directory().File("data");
  const std::string outside = Directory().File("outside");
  std::filesystem::create_directory(data);
  std::filesystem::create_directory(outside);
  WriteFileBytes(outside + "/items.txt", {'a', '=', '1', '\n'});
  // The headers of a 26000 x 26000 bitmap at 24 bits (676 megapixels), without pixels.
  std::vector<uint8_t> bomb = {'B', 'M'};
  for (const uint32_t field :
       {54u, 0u, 54u, 40u, 26000u, 26000u, 0x180001u, 0u, 0u, 0u, 0u, 0u, 0u}) {
    for (int shift = 0; shift < 32; shift += 8)
      bomb.push_back(static_cast<uint8_t>(field >> shift));
  }
  WriteFileBytes(data + "/bomb.bmp", bomb);
  AddFile("files.asp", R"(<%
    var data = Request.QueryString("data"), outside = Request.QueryString("outside");
    function attempt(what, work) {
      try { work(); Response.Write(what + ": ok\n"); }
      catch (x) { Response.Write(what + ": " + (x.description.split("\r\n")[0] || "failed") + "\n"); }
    }
    function save(path, width) {
      var e = CreateObject("Quillmark.Easel");
      e.CreateImage(width, 10, 0);
      e.SaveImage(0, 4, path);
    }
    function load(path) { CreateObject("Quillmark.Easel").LoadImage(path); }
    attempt("save data", function () { save(data + "/p.png", 20); });
    attempt("load data", function () { load(data + "/p.png"); });
    attempt("save outside", function () { save(outside + "/p.png", 20); });
    attempt("load outside", function () { load(outside + "/items.txt"); });
    attempt("items outside", function () {
      CreateObject("VellumSet.Dictionary").LoadItems(outside + "/items.txt");
    });
    var images = CreateObject("Quillmark.Images");
    attempt("images data", function () { images.LoadImage("x", data + "/p.png"); });
    attempt("images outside", function () { images.SaveImage("x", outside + "/x.bin"); });
    var db = CreateObject("Vellum.Database");
    attempt("open outside", function () { db.Open(outside + "/x.db"); });
    attempt("open data", function () { db.Open(data + "/x.db"); });
    attempt("attach outside", function () { db.Execute("ATTACH '" + outside + "/y.db' AS y"); });
    attempt("bomb", function () { load(data + "/bomb.bmp"); });
    attempt("past the image memory", function () { save(data + "/big.png", 3000); });
  %>)");
  Start({"--data-folder", data, "--image-memory", "64K"});
  const HttpReply reply = Get(host_->Port(), "/files.asp?data=" + data + "&outside=" + outside);
  ASSERT_EQ(reply.status, 200) << reply.body << ErrorText();
  const std::string outsideText = "The file is outside the folders this server may open files in";
  EXPECT_EQ(reply.body,
            "save data: ok\nload data: ok\n"
            "save outside: " +
                outsideText + "\nload outside: " + outsideText +
                "\n"
                "items outside: Access is denied: the file is outside the folders this server may "
                "open files in\n"
                "images data: ok\nimages outside: Access is denied: the file is outside the "
                "folders this server may "
                "open files in\n"
                "open outside: " +
                outside +
                "/x.db is outside the folders this server may open "
                "files in\n"
                "open data: ok\nattach outside: not authorized\n"
                "bomb: The image has more pixels than the limit on decoded images allows\n"
                "past the image memory: failed\n");
  for (const char* made : {"p.png", "x.bin", "x.db", "y.db"}) {
    EXPECT_FALSE(std::filesystem::exists(outside + "/" + made)) << made;
  }
  EXPECT_EQ(host_->Stop(), 0) << ErrorText();
}

}  // namespace
