// The page layer driven as the HTTP engine drives it: requests handed to
// PageHost::Serve with a sink that records what the page sent.
#include "host/pages/page_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/oracle.h"
#include "tests/support/postgres_server.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::WriteFileBytes;

class RecordingSink final : public host::ResponseSink {
 public:
  bool SendHead(int sentStatus, std::string_view sentReason, const host::NameValueList& sentHeaders,
                std::optional<uint64_t> sentLength) override {
    EXPECT_FALSE(headSent) << "a second head";
    headSent = true;
    status = sentStatus;
    reason = sentReason;
    headers = sentHeaders;
    length = sentLength;
    return true;
  }
  bool SendBody(std::string_view bytes) override {
    EXPECT_TRUE(headSent) << "body before the head";
    EXPECT_FALSE(finished) << "body after the end";
    body += bytes;
    return true;
  }
  void Finish() override { finished = true; }
  bool ClientConnected() const override { return true; }
  bool HeadOnly() const override { return false; }

  // The values of a header (names compared without regard to case).
  std::vector<std::string> Header(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [headerName, value] : headers) {
      if (headerName.size() == name.size() &&
          std::equal(name.begin(), name.end(), headerName.begin(),
                     [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
        values.push_back(value);
      }
    }
    return values;
  }
  std::string First(std::string_view name) const {
    const std::vector<std::string> values = Header(name);
    return values.empty() ? "" : values[0];
  }

  bool headSent = false;
  bool finished = false;
  int status = 0;
  std::string reason;
  host::NameValueList headers;
  std::optional<uint64_t> length;
  std::string body;
};

class TestServices final : public host::HostServices {
 public:
  explicit TestServices(std::string root) : root_(std::move(root)) {}
  bool Development() const override { return development; }
  const std::string& SiteRoot() const override { return root_; }
  std::string LogScriptFailure(const host::RequestRecord&,
                               const host::ScriptFailure& failure) override {
    const std::lock_guard held(mutex_);
    failures.push_back(failure);
    return std::to_string(failures.size());
  }
  void LogError(std::string_view message) override {
    const std::lock_guard held(mutex_);
    errors.emplace_back(message);
  }

  bool development = true;
  std::vector<host::ScriptFailure> failures;
  std::vector<std::string> errors;

 private:
  std::string root_;
  std::mutex mutex_;
};

class PageHostTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  PageHostTest() : ToolRunner(REGSVR_PATH, "") {
    std::filesystem::create_directory(Site());
    setenv("VELLUM_REGISTRY", Registry().c_str(), 1);
  }
  ~PageHostTest() override {
    if (host_) host_->Stop();
    unsetenv("VELLUM_REGISTRY");
  }

  std::string Site() const { return Directory().File("site"); }
  void AddFile(const std::string& name, const std::string& content) const {
    const std::filesystem::path path = Site() + "/" + name;
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path.string(), std::vector<uint8_t>(content.begin(), content.end()));
  }
  pages::PageHost& Host(pages::PageOptions options = {}) {
    if (!host_) {
      services_ = std::make_unique<TestServices>(Site());
      host_ = std::make_unique<pages::PageHost>(std::move(options));
      std::string error;
      EXPECT_TRUE(host_->Start(*services_, &error)) << error;
    }
    return *host_;
  }
  static host::RequestRecord Request(const std::string& target) {
    host::RequestRecord request;
    request.method = "GET";
    request.target = target;
    const size_t question = target.find('?');
    request.path = target.substr(0, question);
    request.query = question == std::string::npos ? "" : target.substr(question + 1);
    request.protocol = "HTTP/1.1";
    request.headers = {{"host", "example.test:8080"}};
    request.remoteAddress = "127.0.0.1";
    request.remotePort = 40000;
    request.localAddress = "127.0.0.1";
    request.localPort = 8080;
    return request;
  }
  RecordingSink Serve(host::RequestRecord request) {
    RecordingSink sink;
    Host().Serve(request, sink);
    return sink;
  }
  RecordingSink Get(const std::string& target) { return Serve(Request(target)); }

  TestServices& Services() { return *services_; }

 private:
  std::unique_ptr<TestServices> services_;
  std::unique_ptr<pages::PageHost> host_;
};

TEST_F(PageHostTest, APageWritesTextAndValues) {
  AddFile("hello.asp",
          "<%@ Language=\"JScript\" %><p><%= 6 * 7 %> <% Response.Write(\"é\"); %></p>");
  const RecordingSink reply = Get("/hello.asp");
  EXPECT_EQ(reply.status, 200);
  EXPECT_TRUE(reply.finished);
  EXPECT_EQ(reply.body, "<p>42 \xC3\xA9</p>");
  EXPECT_EQ(reply.length, reply.body.size());
  EXPECT_EQ(reply.First("content-type"), "text/html; charset=utf-8");
}

TEST_F(PageHostTest, RequestCollectionsFollowTheClassicModel) {
  AddFile("fields.asp", R"(<%
    var q = Request.QueryString;
    var out = [q.Count, q("tag").Count, q("tag") + "", q("tag")(1), q("tag")(2), q.Key(1),
               String(q()), Request("tag") + "", q("none").Count, typeof q("none").Item(),
               Request.Form("name") + "", Request.Form("name").Count, Request.Cookies("c") + "",
               Request.ServerVariables("SCRIPT_NAME") + "", Request.ServerVariables("HTTP_X_THING") + "",
               Request.TotalBytes];
    var names = [];
    for (var e = new Enumerator(Request.Form); !e.atEnd(); e.moveNext()) names.push(e.item());
    out.push(names.join("+"));
    Response.Write(out.join("|"));
  %>)");
  host::RequestRecord request = Request("/fields.asp?tag=a&tag=b%20c&x=1");
  request.method = "POST";
  request.headers.emplace_back("cookie", "c=%41%42; other=1");
  request.headers.emplace_back("x-thing", "one");
  request.headers.emplace_back("x-thing", "two");
  request.form = {{"name", "ann"}, {"name", "bob"}, {"city", "Oslo"}};
  request.body = "name=ann&name=bob&city=Oslo";
  const RecordingSink reply = Serve(request);
  EXPECT_EQ(reply.body,
            "2|2|a, b c|a|b c|tag|tag=a&tag=b%20c&x=1|a, b c|0|undefined|ann, bob|2|AB|/fields.asp|"
            "one, two|27|name+city")
      << Services().failures.size();
}

TEST_F(PageHostTest, ResponseSetsStatusHeadersAndCookies) {
  AddFile("status.asp", R"(<%
    Response.Status = "404 Not Here";
    Response.ContentType = "text/plain";
    Response.Charset = "iso-8859-1";
    Response.CacheControl = "no-store";
    Response.ExpiresAbsolute = new Date(Date.UTC(2030, 0, 2, 3, 4, 5));
    var c = Response.Cookies("prefs");
    c.Item = "a b;c";
    c.Path = "/shop";
    c.Secure = true;
    c.HttpOnly = true;
    c.SameSite = "strict";
    c.Expires = new Date(Date.UTC(2031, 5, 6));
    Response.Cookies("plain").Item = "1";
    Response.AddHeader("X-Extra", "yes");
  %>gone)");
  const RecordingSink reply = Get("/status.asp");
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.reason, "Not Here");
  EXPECT_EQ(reply.First("content-type"), "text/plain; charset=iso-8859-1");
  EXPECT_EQ(reply.First("cache-control"), "no-store");
  EXPECT_EQ(reply.First("expires"), "Wed, 02 Jan 2030 03:04:05 GMT");
  EXPECT_EQ(reply.Header("set-cookie"),
            (std::vector<std::string>{"prefs=a%20b%3Bc; Expires=Fri, 06 Jun 2031 00:00:00 GMT; "
                                      "Path=/shop; Secure; HttpOnly; SameSite=Strict",
                                      "plain=1; Path=/"}));
  EXPECT_EQ(reply.First("x-extra"), "yes");
  EXPECT_EQ(reply.body, "gone");
}

TEST_F(PageHostTest, ServerMapsPathsEncodesAndRunsOtherPages) {
  AddFile("dir/page.asp", R"(<%
    var root = Server.MapPath("/");
    Response.Write([Server.MapPath("x.png").substring(root.length),
                    Server.MapPath("/a/../b.png").substring(root.length),
                    Server.HTMLEncode("<a href='x'>&</a>"), Server.URLEncode("a b&c/é"),
                    Server.URLPathEncode("/a b/é?q=a b")].join("|"));
    var shared = "parent";
    Server.Execute("child.asp");
    Response.Write("|" + shared);
    try { Server.Execute("../missing.asp"); } catch (e) { Response.Write("|missing"); }
    try { Server.MapPath("../../x"); } catch (e) { Response.Write("|outside"); }
    Server.Transfer("/last.asp");
    Response.Write("not reached");
  %>)");
  AddFile("dir/child.asp",
          "|child:<%= typeof shared %>:<%= Request.QueryString(\"q\") %><% var shared = 1; %>");
  AddFile("last.asp", "|last");
  const RecordingSink reply = Get("/dir/page.asp?q=7");
  EXPECT_EQ(reply.body,
            "/dir/x.png|/b.png|&lt;a href=&#39;x&#39;&gt;&amp;&lt;/a&gt;|a+b%26c%2F%C3%A9|"
            "/a%20b/%C3%A9?q=a b|child:undefined:7|parent|missing|outside|last");
}

TEST_F(PageHostTest, FailuresNameTheFileAndLineAndReachTheErrorPage) {
  AddFile("inc/lib.inc", "<%\nfunction fail() {\n  return null.x;\n}\n%>");
  AddFile("broken.asp", "<!-- #include virtual=\"/inc/lib.inc\" -->\n<p>\n<% fail(); %>");
  AddFile("calls.asp", "<% Server.Execute(\"broken.asp\"); Response.Write(\"after\"); %>");
  AddFile("vb.asp", "<%@ Language=VBScript %>\n<% Response.Write \"x\" %>");
  const RecordingSink broken = Get("/broken.asp");
  EXPECT_EQ(broken.status, 500);
  EXPECT_NE(broken.body.find("/inc/lib.inc, line 3"), std::string::npos) << broken.body;
  ASSERT_EQ(Services().failures.size(), 1u);
  EXPECT_EQ(Services().failures[0].file, "/inc/lib.inc");
  EXPECT_EQ(Services().failures[0].line, 3);
  const RecordingSink calls = Get("/calls.asp");
  EXPECT_EQ(calls.status, 500);
  EXPECT_EQ(calls.body.find("after"), std::string::npos);
  EXPECT_NE(calls.body.find("/inc/lib.inc, line 3"), std::string::npos);
  const RecordingSink vb = Get("/vb.asp");
  EXPECT_EQ(vb.status, 500);
  EXPECT_NE(vb.body.find("only JScript or JavaScript pages run here"), std::string::npos);
  // A syntax error's own text names the line of the page, not of the compiled script.
  AddFile("inc/five.inc", "<%\nvar a = 1;\nvar b = 2;\nvar c = 3;\n%>");
  AddFile("syntax.asp", "<!-- #include file=\"inc/five.inc\" -->\n<% var = 1; %>");
  EXPECT_EQ(Get("/syntax.asp").status, 500);
  EXPECT_NE(Services().failures.back().message.find("(line 2)"), std::string::npos)
      << Services().failures.back().message;
}

TEST_F(PageHostTest, TheSitesErrorPageGetsTheLastError) {
  AddFile("oops.asp", "<% Response.Write(\"partial\");\n  undefinedThing(); %>");
  AddFile("errors/500.asp",
          "<% var e = Server.GetLastError(); %><%= e.Category %>|<%= e.File %>|<%= e.Line %>|"
          "<%= e.Description %>|<%= e.Source %>");
  pages::PageOptions options;
  options.errorPage = "/errors/500.asp";
  Host(options);
  const RecordingSink reply = Get("/oops.asp");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.body,
            "Script error|/oops.asp|2|ReferenceError: identifier 'undefinedThing' undefined|"
            "undefinedThing(); %>");
}

// Strict errors, for the whole site or by a page's directive: an editing call that
// appends to ErrorDescription fails the page instead of returning.
class StrictPagesTest : public PageHostTest {
 protected:
  void AddPages() {
    ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
    const std::string body = R"(<% var e = Server.CreateObject("Quillmark.Easel");
      e.RotateImage(45, 0); Response.Write("returned"); %>)";
    AddFile("plain.asp", body);
    AddFile("strict.asp", "<%@ Language=\"JScript\" StrictErrors=True %>" + body);
    AddFile("lenient.asp", "<%@ Language=\"JScript\" StrictErrors=False %>" + body);
  }
  void ExpectStrictFailure(const std::string& page) {
    const RecordingSink reply = Get(page);
    EXPECT_EQ(reply.status, 500) << page;
    ASSERT_FALSE(Services().failures.empty()) << page;
    EXPECT_NE(
        Services().failures.back().message.find("Can not perform operation. No images were loaded"),
        std::string::npos)
        << Services().failures.back().message;
  }
};

TEST_F(StrictPagesTest, APageTurnsThemOnOrOff) {
  AddPages();
  AddFile("unclear.asp", "<%@ StrictErrors=Maybe %>");
  Host();
  EXPECT_EQ(Get("/plain.asp").body, "returned");
  EXPECT_EQ(Get("/lenient.asp").body, "returned");
  ExpectStrictFailure("/strict.asp");
  const RecordingSink unclear = Get("/unclear.asp");
  EXPECT_EQ(unclear.status, 500);
  EXPECT_NE(unclear.body.find("StrictErrors is True or False"), std::string::npos);
}

TEST_F(StrictPagesTest, TheSiteTurnsThemOnAndAPageOff) {
  AddPages();
  pages::PageOptions options;
  options.strictErrors = true;
  Host(options);
  ExpectStrictFailure("/plain.asp");
  EXPECT_EQ(Get("/lenient.asp").body, "returned");
}

TEST_F(PageHostTest, ServerCreateObjectSaysHowToRegisterAMissingClass) {
  AddFile("make.asp", R"(<% Server.CreateObject("Quillmark.Easel"); %>)");
  Host();
  EXPECT_EQ(Get("/make.asp").status, 500);
  ASSERT_EQ(Services().failures.size(), 1u);
  EXPECT_NE(Services().failures[0].message.find(
                "no class is registered as 'Quillmark.Easel' in the registry " + Registry() +
                " (the file does not exist); register its module with: vellum-regsvr " +
                std::filesystem::canonical(VELLUM_MODULE_PATH).string()),
            std::string::npos)
      << Services().failures[0].message;
}

TEST_F(PageHostTest, ObjectsOfAPageRefuseCallsFromAnotherRequest) {
  ASSERT_EQ(Register(VELLUMSET_MODULE_PATH).status, 0);
  AddFile("keep.asp", R"(<% var d = Server.CreateObject("VellumSet.Dictionary");
    d.Add("response", Response); Application.Contents.Item.put("d", d); %>)");
  AddFile("use.asp", R"(<% try { Application("d")("response").Write("leak"); } catch (e) {
    Response.Write(e.number); } %>)");
  Get("/keep.asp");
  EXPECT_EQ(Get("/use.asp").body, std::to_string(static_cast<int32_t>(0x8001010E)));
}

// Two hosts of the demo site configured (data/database.txt) to keep the gallery in one
// PostgreSQL database: a picture uploaded through one is listed and served by the other,
// whose own thumbnail collection never saw it.
TEST_F(PageHostTest, TwoHostsShareTheGalleryInPostgres) {
  std::string error;
  const std::string database = testing_support::PostgresConnectionString(&error);
  ASSERT_FALSE(database.empty()) << "no PostgreSQL server: " << error;
  for (const char* module : {VELLUM_MODULE_PATH, VELLUMSET_MODULE_PATH, DATABASE_MODULE_PATH}) {
    ASSERT_EQ(Register(module).status, 0) << module;
  }
  const std::string other = Directory().File("other-site");
  for (const std::string& site : {Site(), other}) {
    std::filesystem::copy(std::string(VELLUM_SOURCE_DIR) + "/examples/site", site,
                          std::filesystem::copy_options::recursive);
    const std::string settings = "database=" + database + "\n";
    WriteFileBytes(site + "/data/database.txt", {settings.begin(), settings.end()});
  }
  TestServices otherServices(other);
  pages::PageHost otherHost{pages::PageOptions{}};
  ASSERT_TRUE(otherHost.Start(otherServices, &error)) << error;
  const auto getFromOther = [&otherHost](const std::string& target) {
    RecordingSink sink;
    host::RequestRecord request = Request(target);
    otherHost.Serve(request, sink);
    return sink;
  };

  const RecordingSink chart = Get("/chart.asp?values=3,1,2&labels=a,b,c&title=Shared");
  host::RequestRecord upload = Request("/gallery.asp");
  upload.method = "POST";
  upload.form = {{"title", "Uploaded through the first host"}};
  upload.files = {{"picture", "chart.png", "image/png", chart.body}};
  ASSERT_EQ(Serve(upload).status, 302);

  const RecordingSink listed = getFromOther("/gallery.asp");
  EXPECT_NE(listed.body.find("Uploaded through the first host"), std::string::npos) << listed.body;
  const RecordingSink picture = getFromOther("/picture.asp?id=1");
  EXPECT_EQ(picture.First("content-type"), "image/jpeg");
  EXPECT_EQ(picture.body, Get("/picture.asp?id=1").body);
  const RecordingSink thumbnail = getFromOther("/thumb.asp?id=1");
  EXPECT_EQ(thumbnail.First("content-type"), "image/jpeg");
  EXPECT_EQ(thumbnail.body, Get("/thumb.asp?id=1").body);
  otherHost.Stop();
  EXPECT_TRUE(Services().failures.empty() && otherServices.failures.empty());
}

// The demo site, served as it is in examples/site: every page answers, an upload
// lands in the gallery and its thumbnail is a JPEG 160 pixels high.
TEST_F(PageHostTest, TheDemoSiteWorks) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  ASSERT_EQ(Register(VELLUMSET_MODULE_PATH).status, 0);
  ASSERT_EQ(Register(DATABASE_MODULE_PATH).status, 0);
  std::filesystem::copy(std::string(VELLUM_SOURCE_DIR) + "/examples/site", Site(),
                        std::filesystem::copy_options::recursive);
  Host();
  const RecordingSink banner = Get("/banner.asp?text=Hi&font=DejaVu+Sans&from=102030");
  EXPECT_EQ(banner.First("content-type"), "image/png") << banner.body;
  const RecordingSink chart = Get("/chart.asp?values=1,2,3&labels=a,b,c&title=T");
  EXPECT_EQ(chart.First("content-type"), "image/png") << chart.body;

  host::RequestRecord upload = Request("/gallery.asp");
  upload.method = "POST";
  upload.form = {{"title", "A <b>bold</b> test"}};
  upload.files = {{"picture", "made.png", "image/png", chart.body},
                  {"picture", "notes.txt", "text/plain", "not a picture"}};
  const RecordingSink posted = Serve(upload);
  EXPECT_EQ(posted.status, 302) << posted.body;
  EXPECT_EQ(posted.First("location"), "gallery.asp?added=1&refused=notes.txt");

  const RecordingSink gallery = Get("/gallery.asp?added=1");
  EXPECT_EQ(gallery.status, 200);
  EXPECT_NE(gallery.body.find("1 picture(s) added"), std::string::npos) << gallery.body;
  EXPECT_NE(gallery.body.find("A &lt;b&gt;bold&lt;/b&gt; test"), std::string::npos);
  EXPECT_NE(gallery.body.find("/thumb.asp?id=1"), std::string::npos);
  const RecordingSink thumb = Get("/thumb.asp?id=1");
  EXPECT_EQ(thumb.First("content-type"), "image/jpeg");
  EXPECT_EQ(thumb.body.substr(0, 2), "\xFF\xD8");
  EXPECT_TRUE(thumb.body.ends_with("\xFF\xD9")) << "nothing after the JPEG";
  EXPECT_EQ(Get("/thumb.asp?id=99").status, 404);
  EXPECT_EQ(Get("/picture.asp?id=1").First("content-type"), "image/jpeg");

  for (const char* page : {"/index.asp", "/banners.asp", "/charts.asp", "/source.asp",
                           "/source.asp?page=/global.asa"}) {
    const RecordingSink reply = Get(page);
    EXPECT_EQ(reply.status, 200) << page << "\n" << reply.body;
    EXPECT_NE(reply.body.find("</html>"), std::string::npos) << page;
  }
  EXPECT_NE(Get("/source.asp?page=/global.asa").body.find("Application_OnStart"),
            std::string::npos);
  EXPECT_TRUE(Services().failures.empty())
      << Services().failures[0].file << ":" << Services().failures[0].line << " "
      << Services().failures[0].message;
}

// The demo gallery turns an upload upright as its EXIF records, and sends a thumbnail in
// the best format the Accept header names (AVIF, then WebP, else JPEG), saying it varies
// by Accept; the bytes are the image's alone.
TEST_F(PageHostTest, TheDemoGalleryTurnsUploadsUprightAndNegotiatesThumbnails) {
  for (const char* module : {VELLUM_MODULE_PATH, VELLUMSET_MODULE_PATH, DATABASE_MODULE_PATH}) {
    ASSERT_EQ(Register(module).status, 0) << module;
  }
  std::filesystem::copy(std::string(VELLUM_SOURCE_DIR) + "/examples/site", Site(),
                        std::filesystem::copy_options::recursive);
  const std::string photo = Directory().File("turned.jpg");
  ASSERT_TRUE(testing_support::RunPython(R"(
import sys
from PIL import Image
exif = Image.Exif()
exif[0x0112] = 6
Image.new('RGB', (90, 60), (200, 120, 40)).save(sys.argv[1], quality=90, exif=exif.tobytes())
)",
                                         {photo}));
  const std::vector<uint8_t> photoBytes = testing_support::ReadFileBytes(photo);
  host::RequestRecord upload = Request("/gallery.asp");
  upload.method = "POST";
  upload.files = {{"picture", "turned.jpg", "image/jpeg", {photoBytes.begin(), photoBytes.end()}}};
  ASSERT_EQ(Serve(upload).status, 302);
  EXPECT_NE(Get("/gallery.asp").body.find("60 &times; 90"), std::string::npos)
      << "the picture is kept upright, 60 wide and 90 high";

  struct Case {
    const char* accept;
    const char* type;
    std::string magic;  // the format's bytes at `at`
    size_t at;
  };
  const Case cases[] = {
      {"image/avif,image/webp,image/apng,image/svg+xml,image/*,*/*;q=0.8", "image/avif", "ftyp", 4},
      {"image/webp,*/*", "image/webp", "WEBP", 8},
      {"image/avif;q=0, image/webp", "image/webp", "WEBP", 8},
      {"image/*,*/*;q=0.8", "image/jpeg", "\xFF\xD8", 0},
      {"", "image/jpeg", "\xFF\xD8", 0},
  };
  for (const Case& c : cases) {
    host::RequestRecord request = Request("/thumb.asp?id=1");
    if (*c.accept != '\0') request.headers.emplace_back("accept", c.accept);
    for (int time = 0; time < 2; ++time) {  // made, then from the collection
      const RecordingSink thumb = Serve(request);
      EXPECT_EQ(thumb.First("content-type"), c.type) << c.accept;
      EXPECT_EQ(thumb.First("vary"), "Accept") << c.accept;
      EXPECT_EQ(thumb.body.substr(c.at, c.magic.size()), c.magic) << c.accept;
      const std::string written = Directory().File("thumb");
      WriteFileBytes(written, {thumb.body.begin(), thumb.body.end()});
      const std::optional<testing_support::RawImage> decoded =
          std::string(c.type) == "image/avif" ? testing_support::DecodeWithImageMagick(written)
                                              : testing_support::DecodeWithPillow(written);
      ASSERT_TRUE(decoded.has_value()) << c.accept;
      EXPECT_LT(decoded->width, decoded->height) << c.accept;
    }
  }
  EXPECT_EQ(Serve([] {
              host::RequestRecord request = Request("/thumb.asp?id=2");
              request.headers.emplace_back("accept", "image/webp");
              return request;
            }())
                .status,
            404);
  EXPECT_TRUE(Services().failures.empty())
      << Services().failures[0].file << ":" << Services().failures[0].line << " "
      << Services().failures[0].message;
}

}  // namespace
