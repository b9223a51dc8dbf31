// The page objects through real HTTP: vellum-host run as a process on a site of .asp
// pages, talked to over sockets with forms, uploads, cookies and concurrent clients.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
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
using testing_support::HttpReply;
using testing_support::ReadFileText;
using testing_support::WriteFileBytes;

// A request with a body.
HttpReply Post(int port, const std::string& target, const std::string& type,
               const std::string& body, const std::string& headers = "") {
  return Exchange(port, "POST " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
                            "Content-Type: " + type + "\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body);
}

// A multipart/form-data body of fields and files (field, file name, type, bytes).
struct Part {
  std::string name;
  std::string fileName;  // empty for a plain field
  std::string type;
  std::string bytes;
};
const char* const kBoundary = "----vellum-test-boundary";

std::string Multipart(const std::vector<Part>& parts) {
  std::string body;
  for (const Part& part : parts) {
    body += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" +
            part.name + "\"";
    if (!part.fileName.empty()) body += "; filename=\"" + part.fileName + "\"";
    body += "\r\n";
    if (!part.type.empty()) body += "Content-Type: " + part.type + "\r\n";
    body += "\r\n" + part.bytes + "\r\n";
  }
  return body + "--" + kBoundary + "--\r\n";
}

std::string MultipartType() { return std::string("multipart/form-data; boundary=") + kBoundary; }

class PageObjectsTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  PageObjectsTest() : ToolRunner(REGSVR_PATH, "") { std::filesystem::create_directory(Site()); }

  std::string Site() const { return Directory().File("site"); }
  std::string ErrorLog() const { return Directory().File("error.log"); }
  void AddFile(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(Site() + "/" + name).parent_path());
    WriteFileBytes(Site() + "/" + name, std::vector<uint8_t>(content.begin(), content.end()));
  }
  std::string ErrorText() const { return ReadFileText(ErrorLog()); }

  int Start(std::vector<std::string> options = {}) {
    std::vector<std::string> arguments = {"--port", "0", "--access-log", "", "--development"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(Site());
    host_ = std::make_unique<HostProcess>(HOST_PATH, arguments, Registry(), ErrorLog());
    EXPECT_NE(host_->Port(), 0) << host_->FirstLine() << ErrorText();
    return host_->Port();
  }

  std::unique_ptr<HostProcess> host_;
};

TEST_F(PageObjectsTest, FormsQueriesAndCookiesArriveAsCollections) {
  AddFile("fields.asp", R"(<%
    var f = Request.Form, q = Request.QueryString;
    Response.Write([f("tag").Count, f("tag"), f("tag")(2), f("name"), f.Count, f.Key(2),
                    q("page"), q("page").Count, q("none").Count, Request("name"),
                    Request.Cookies("theme"), Request.Cookies("sid"), Request.Cookies.Count,
                    Request.ServerVariables("REQUEST_METHOD"),
                    Request.ServerVariables("CONTENT_TYPE"), Request.TotalBytes].join("|"));
  %>)");
  const int port = Start();
  const std::string body = "tag=red&name=Ann+B%C3%A9&tag=blue+green";
  const HttpReply reply = Post(port, "/fields.asp?page=2", "application/x-www-form-urlencoded",
                               body, "Cookie: theme=dark%20blue; sid=x1\r\n");
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.body,
            "2|red, blue green|blue green|Ann B\xC3\xA9|2|name|2|1|0|Ann B\xC3\xA9|"
            "dark blue|x1|2|POST|application/x-www-form-urlencoded|" +
                std::to_string(body.size()));
}

TEST_F(PageObjectsTest, UploadsOfSeveralFilesReachTheEasel) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  AddFile("make.asp", R"(<% var e = Server.CreateObject("Quillmark.Easel");
    e.CreateImage(Number(Request.QueryString("w")), 4, 0x00FF00); e.SaveImage(eziBrowser, eziPNG, ""); %>)");
  AddFile("shop/photo.asp", R"(<%
    var list = [];
    for (var i = 1; i <= Request.Files.Count; i++) {
      var file = Request.Files(i);
      list.push(Request.Files.Key(i) + "=" + file.FileName + "/" + file.ContentType + "/" + file.Size);
    }
    var easel = Server.CreateObject("Quillmark.Easel");
    easel.LoadImage(Request.Files("second").Bytes);
    Response.AddHeader("X-Files", list.join(","));
    Response.AddHeader("X-Caption", String(Request.Form("caption")));
    Response.AddHeader("X-Size", easel.Width + "x" + easel.Height);
    easel.SaveImage(eziBrowser, eziPSD, "");
  %>)");
  const int port = Start();
  const std::string small = Get(port, "/make.asp?w=3").body;
  const std::string wide = Get(port, "/make.asp?w=9").body;
  ASSERT_TRUE(wide.starts_with("\x89PNG"));
  const HttpReply reply = Post(port, "/shop/photo.asp", MultipartType(),
                               Multipart({{"first", "a.png", "image/png", small},
                                          {"caption", "", "", "two pictures"},
                                          {"second", "b.png", "image/png", wide}}));
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.headers.at("x-files"), "first=a.png/image/png/" + std::to_string(small.size()) +
                                             ",second=b.png/image/png/" +
                                             std::to_string(wide.size()));
  EXPECT_EQ(reply.headers.at("x-caption"), "two pictures");
  EXPECT_EQ(reply.headers.at("x-size"), "9x4");
  // An image saved to the browser is named after the page that sent it.
  EXPECT_EQ(reply.headers.at("content-type"), "image/psd");
  EXPECT_EQ(reply.headers.at("content-disposition"), "attachment; filename=\"photo.PSD\"");
  EXPECT_TRUE(reply.body.starts_with("8BPS"));
}

TEST_F(PageObjectsTest, ResponseSetsStatusCookiesRedirectsAndEnds) {
  AddFile("cookies.asp", R"(<%
    var c = Response.Cookies("theme");
    c.Item = "dark blue;";
    c.Expires = new Date(Date.UTC(2031, 0, 2, 3, 4, 5));
    c.HttpOnly = true;
    c.SameSite = "Strict";
    Response.Status = "201 Made";
  %>made)");
  AddFile("read.asp", "<%= Request.Cookies(\"theme\") %>");
  AddFile("go.asp", R"(text before<% Response.Redirect("/target.asp?x=a b");
    Application.Value.put("after", 1); %>)");
  AddFile(
      "end.asp",
      R"(kept<% try { Response.End(); } finally { Application.Value.put("after", 1); } %>dropped)");
  AddFile("after.asp", "<%= typeof Application(\"after\") %>");
  const int port = Start();
  const HttpReply cookies = Get(port, "/cookies.asp");
  EXPECT_EQ(cookies.status, 201);
  EXPECT_EQ(cookies.body, "made");
  const std::string cookie = cookies.headers.at("set-cookie");
  EXPECT_EQ(cookie,
            "theme=dark%20blue%3B; Expires=Thu, 02 Jan 2031 03:04:05 GMT; Path=/; HttpOnly; "
            "SameSite=Strict");
  // The cookie comes back as it was set.
  EXPECT_EQ(Get(port, "/read.asp", "Cookie: " + cookie.substr(0, cookie.find("; ")) + "\r\n").body,
            "dark blue;");
  const HttpReply redirect = Get(port, "/go.asp");
  EXPECT_EQ(redirect.status, 302);
  EXPECT_EQ(redirect.headers.at("location"), "/target.asp?x=a%20b");
  EXPECT_EQ(redirect.body.find("text before"), std::string::npos);
  const HttpReply end = Get(port, "/end.asp");
  EXPECT_EQ(end.status, 200);
  EXPECT_EQ(end.body, "kept");
  EXPECT_EQ(Get(port, "/after.asp").body, "undefined");
}

TEST_F(PageObjectsTest, ApplicationIsSharedByConcurrentRequests) {
  ASSERT_EQ(Register(VELLUMSET_MODULE_PATH).status, 0);
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  AddFile("global.asa", R"(<script runat="server" language="JScript">
    function Application_OnStart() {
      Application.Value.put("count", 0);
      Application.Value.put("seen", Server.CreateObject("VellumSet.Dictionary"));
    }
  </script>)");
  AddFile("count.asp", R"(<%
    for (var i = 0; i < 25; i++) {
      Application.Lock();
      var n = Application("count");
      for (var k = 0; k < 2000; k++) {}  // a read-modify-write that takes a while
      Application.Value.put("count", n + 1);
      Application.Unlock();
    }
    Application("seen").Item.put(Request.QueryString("client") + "", 1);
  %>)");
  AddFile("total.asp", R"(<%= Application("count") %>|<%= Application("seen").Count %><%
    try { Application.Value.put("easel", Server.CreateObject("Quillmark.Easel")); }
    catch (e) { Response.Write("|refused"); } %>)");
  const int port = Start();
  std::vector<std::thread> clients;
  std::atomic<int> ok{0};
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      for (int r = 0; r < 2; ++r) {
        if (Get(port, "/count.asp?client=" + std::to_string(c)).status == 200) ++ok;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(ok, 8);
  EXPECT_EQ(Get(port, "/total.asp").body, "200|4|refused");
}

// The pages of one visitor run in turn, so that a page's read-modify-write of a session
// value is not undone by another; a page that waits past its time limit fails, and
// pages without session state are not held up.
TEST_F(PageObjectsTest, PagesOfOneSessionRunInTurn) {
  AddFile("add.asp", R"(<%
    var n = Session("n") || 0;
    var t = Date.now(); while (Date.now() - t < 100) {}
    Session.Value.put("n", n + 1);
    Response.Write(Session("n"));
  %>)");
  AddFile("long.asp", R"(<% Server.ScriptTimeout = 20; Application.Value.put("long", "running");
    var t = Date.now(); while (Date.now() - t < Number(Request("ms"))) {}
    if (Request("quit").Count) Session.Abandon();
    Application.Value.put("long", "done"); %>)");
  AddFile("state.asp", R"(<%@ EnableSessionState=False %><%= Application("long") %>)");
  const int port = Start({"--workers", "4", "--script-timeout", "2"});
  const std::string cookie = Get(port, "/add.asp").headers.at("set-cookie");
  const std::string sent = "Cookie: " + cookie.substr(0, cookie.find(';')) + "\r\n";
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c) clients.emplace_back([&] { Get(port, "/add.asp", sent); });
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(Get(port, "/add.asp", sent).body, "6");

  std::thread holder([&] { EXPECT_EQ(Get(port, "/long.asp?ms=4000", sent).status, 200); });
  EXPECT_TRUE(Eventually([&] { return Get(port, "/state.asp").body == "running"; }));
  const HttpReply waited = Get(port, "/add.asp", sent);
  EXPECT_EQ(waited.status, 500);
  EXPECT_NE(waited.body.find("for another page of its session"), std::string::npos) << waited.body;
  holder.join();
  EXPECT_EQ(Get(port, "/state.asp").body, "done");
  EXPECT_EQ(Get(port, "/add.asp", sent).body, "7");

  // A page that waited while the page before it abandoned the session gets a new one.
  std::thread quitter([&] { Get(port, "/long.asp?ms=500&quit=1", sent); });
  EXPECT_TRUE(Eventually([&] { return Get(port, "/state.asp").body == "running"; }));
  const HttpReply fresh = Get(port, "/add.asp", sent);
  quitter.join();
  EXPECT_EQ(fresh.body, "1");
  EXPECT_NE(fresh.headers.at("set-cookie").substr(0, cookie.find(';')),
            cookie.substr(0, cookie.find(';')));
}

TEST_F(PageObjectsTest, SessionsExpireAndAreAbandoned) {
  AddFile("global.asa", R"(<script runat="server" language="JScript">
    function Application_OnStart() { Application.Value.put("ended", 0); }
    function Session_OnStart() { Session.Value.put("n", 0); }
    function Session_OnEnd() {
      Application.Lock();
      Application.Value.put("ended", Application("ended") + 1);
      Application.Unlock();
    }
  </script>)");
  AddFile("visit.asp", R"(<%
    Session.Value.put("n", Session("n") + 1);
    Response.Write(Session("n") + "|" + Application("ended"));
    if (Request.QueryString("quit").Count) Session.Abandon();
  %>)");
  AddFile("image.asp", "<%@ EnableSessionState=False %><%= typeof Session %>");
  AddFile("ended.asp", "<%@ EnableSessionState=False %><%= Application(\"ended\") %>");
  const int port = Start({"--session-timeout", "2"});
  // Session_OnEnd runs after the reply of the page that ended the session has gone out;
  // a page without session state sees when it has, without starting a session itself.
  auto endedReaches = [&](const std::string& count) {
    return Eventually([&] { return Get(port, "/ended.asp").body == count; }, 10000);
  };
  // A page without session state starts none.
  const HttpReply image = Get(port, "/image.asp");
  EXPECT_EQ(image.body, "undefined");
  EXPECT_FALSE(image.headers.contains("set-cookie"));
  const HttpReply first = Get(port, "/visit.asp");
  EXPECT_EQ(first.body, "1|0");
  const std::string cookie = first.headers.at("set-cookie");
  EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("; SameSite=Lax"), std::string::npos);
  const std::string id = cookie.substr(0, cookie.find(';'));
  ASSERT_EQ(id.size(), std::string("VellumSession=").size() + 32);
  const std::string sent = "Cookie: " + id + "\r\n";
  EXPECT_EQ(Get(port, "/visit.asp", sent).body, "2|0");
  EXPECT_EQ(Get(port, "/visit.asp?quit=1", sent).body, "3|0");
  ASSERT_TRUE(endedReaches("1"));
  // Abandoned: the same cookie finds a new session, and the old one has ended.
  const HttpReply after = Get(port, "/visit.asp", sent);
  EXPECT_EQ(after.body, "1|1");
  const std::string next = after.headers.at("set-cookie");
  EXPECT_NE(next.substr(0, next.find(';')), id);
  // Left alone past its timeout, a session ends by itself.
  ASSERT_TRUE(endedReaches("2"));
  EXPECT_EQ(Get(port, "/visit.asp", "Cookie: " + next.substr(0, next.find(';')) + "\r\n").body,
            "1|2");
}

// Behind nginx over HTTPS: the proxy on loopback says who the client is and that it
// came over TLS, so the session cookie is Secure; a host told to believe no proxy
// ignores what the same headers claim.
TEST_F(PageObjectsTest, BehindAnHttpsProxyTheSessionCookieIsSecure) {
  AddFile("who.asp", R"(<%= Request.ServerVariables("HTTPS") %>|<%=
    Request.ServerVariables("REMOTE_ADDR") %>|<%= Session.SessionID.length %>)");
  const std::string forwarded = "X-Forwarded-For: 203.0.113.7\r\nX-Forwarded-Proto: https\r\n";
  const HttpReply proxied = Get(Start(), "/who.asp", forwarded);
  EXPECT_EQ(proxied.body, "on|203.0.113.7|32");
  EXPECT_NE(proxied.headers.at("set-cookie").find("; Secure"), std::string::npos);

  const HttpReply direct = Get(Start({"--trusted-proxies", ""}), "/who.asp", forwarded);
  EXPECT_EQ(direct.body, "off|127.0.0.1|32");
  EXPECT_EQ(direct.headers.at("set-cookie").find("Secure"), std::string::npos);
}

TEST_F(PageObjectsTest, AnEndlessPageIsStoppedWhileOthersAreServed) {
  AddFile("loop.asp",
          "<% Server.ScriptTimeout = 2; while (true) { try { for (;;) {} } catch (e) {} } %>");
  AddFile("grow.asp",
          "<% var a = []; for (;;) a.push({ n: a.length, text: 'item ' + a.length }); %>");
  AddFile("quick.asp", "quick");
  const int port = Start({"--script-memory", "8M", "--workers", "4"});
  const auto start = std::chrono::steady_clock::now();
  HttpReply looped;
  std::thread loop([&] { looped = Get(port, "/loop.asp"); });
  // While the loop runs, other pages are answered at once.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Get(port, "/quick.asp").body, "quick");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));
  loop.join();
  EXPECT_EQ(looped.status, 500);
  EXPECT_NE(looped.body.find("time limit of 2 seconds"), std::string::npos) << looped.body;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  const HttpReply grown = Get(port, "/grow.asp");
  EXPECT_EQ(grown.status, 500);
  EXPECT_NE(grown.body.find("8 MiB of memory"), std::string::npos) << grown.body;
  EXPECT_EQ(Get(port, "/quick.asp").body, "quick");
  EXPECT_TRUE(Eventually([&] { return ErrorText().find("Time limit") != std::string::npos; }));
}

}  // namespace
