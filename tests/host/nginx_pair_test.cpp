// Debian's nginx on loopback in front of two vellum-host processes, with the proxy
// settings the project ships: each client stays with one host (its session lives
// there) and is known to it by its own address, clients are spread over both hosts,
// and when one host stops the other answers every request. With the demo site's
// gallery in PostgreSQL, both hosts show the same pictures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/host_process.h"
#include "tests/support/http_client.h"
#include "tests/support/nginx_proxy.h"
#include "tests/support/oracle.h"
#include "tests/support/picture_compare.h"
#include "tests/support/postgres_server.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::Eventually;
using testing_support::Get;
using testing_support::HostProcess;
using testing_support::HttpConnection;
using testing_support::HttpReply;
using testing_support::ReadFileText;

// A GET sent from one of the loopback addresses (a client of its own to nginx).
HttpReply GetFrom(int port, const std::string& target, const std::string& from,
                  const std::string& headers = "") {
  HttpConnection connection(port, 20, from.c_str());
  connection.Send("GET " + target + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n" + headers +
                  "\r\n");
  return connection.Read().value_or(HttpReply{});
}

std::string Client(int n) { return "127.0.0." + std::to_string(n); }

class NginxPairTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  NginxPairTest() : ToolRunner(REGSVR_PATH, "") {}

  void SetUp() override {
    if (access("/usr/sbin/nginx", X_OK) != 0) GTEST_SKIP() << "nginx is not installed";
    ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
    const std::string site = Directory().File("site");
    std::filesystem::create_directory(site);
    std::ofstream(site + "/which.asp") << R"(<%
      Response.ContentType = "text/plain";
      Session.Value.put("visits", (Session("visits") || 0) + 1);
      Response.Write(Request.ServerVariables("SERVER_PORT") + " " +
                     Request.ServerVariables("REMOTE_ADDR") + " " + Session("visits"));
    %>)";
    std::ofstream(site + "/dot.asp") << R"(<%
      var e = CreateObject("Quillmark.Easel");
      e.CreateImage(16, 8, 0x00FF00);
      e.SaveImage(2, 4, "");
    %>)";
    std::ofstream(site + "/notes.txt") << "notes";
    for (int i = 0; i < 2; ++i) {
      const std::string log = Directory().File("access" + std::to_string(i) + ".log");
      hosts_.push_back(std::make_unique<HostProcess>(
          HOST_PATH, std::vector<std::string>{"--port", "0", "--access-log", log, site}, Registry(),
          Directory().File("error.log")));
      ASSERT_NE(hosts_.back()->Port(), 0) << hosts_.back()->FirstLine();
    }
    proxy_ = std::make_unique<testing_support::NginxProxy>(
        std::vector<int>{hosts_[0]->Port(), hosts_[1]->Port()});
    ASSERT_NE(proxy_->Port(), 0) << proxy_->ErrorLog();
  }

  std::vector<std::unique_ptr<HostProcess>> hosts_;
  std::unique_ptr<testing_support::NginxProxy> proxy_;
};

TEST_F(NginxPairTest, ClientsStayWithTheirHostAndOneStoppingLosesNoRequest) {
  const int port = proxy_->Port();
  std::set<std::string> servedBy;
  for (int client = 1; client <= 16; ++client) {
    const HttpReply page = GetFrom(port, "/which.asp", Client(client));
    ASSERT_EQ(page.status, 200) << proxy_->ErrorLog();
    servedBy.insert(page.body.substr(0, page.body.find(' ')));
    EXPECT_NE(page.body.find(Client(client) + " "),
              std::string::npos);  // the client, as nginx (a trusted proxy) saw it
    const HttpReply image = GetFrom(port, "/dot.asp", Client(client));
    EXPECT_EQ(image.status, 200);
    EXPECT_EQ(image.headers.at("content-type"), "image/png");
    EXPECT_TRUE(image.body.starts_with("\x89PNG"));
    EXPECT_EQ(GetFrom(port, "/notes.txt", Client(client)).body, "notes");
  }
  EXPECT_EQ(servedBy, (std::set<std::string>{std::to_string(hosts_[0]->Port()),
                                             std::to_string(hosts_[1]->Port())}));

  // One client's requests all reach the host that keeps its session.
  const HttpReply first = GetFrom(port, "/which.asp", Client(20));
  const std::string host = first.body.substr(0, first.body.find(' '));
  const std::string cookie = first.headers.at("set-cookie");
  const std::string sent = "Cookie: " + cookie.substr(0, cookie.find(';')) + "\r\n";
  for (int visit = 2; visit <= 5; ++visit) {
    const HttpReply again = GetFrom(port, "/which.asp", Client(20), sent);
    EXPECT_EQ(again.body, host + " " + Client(20) + " " + std::to_string(visit));
  }

  EXPECT_EQ(hosts_[0]->Stop(), 0);
  for (int client = 1; client <= 12; ++client) {
    const HttpReply page = GetFrom(port, "/which.asp", Client(client));
    ASSERT_EQ(page.status, 200) << proxy_->ErrorLog();
    EXPECT_TRUE(page.body.starts_with(std::to_string(hosts_[1]->Port())));
    EXPECT_EQ(GetFrom(port, "/dot.asp", Client(client)).status, 200);
  }
  EXPECT_TRUE(Eventually([&] {
    return ReadFileText(Directory().File("access1.log")).find("GET /dot.asp") != std::string::npos;
  }));
}

// Two hosts serving the demo site with its gallery in one PostgreSQL database: a
// picture uploaded through one host is listed and served, the same bytes, by the other
// and by whichever host nginx picks.
class NginxGalleryTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  NginxGalleryTest() : ToolRunner(REGSVR_PATH, "") {}
};

// A form post of one picture and its title, as the gallery's form sends it.
HttpReply Upload(int port, const std::string& title, const std::string& png) {
  const std::string boundary = "vellum-test-boundary";
  const std::string body =
      "--" + boundary + "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n" + title +
      "\r\n--" + boundary +
      "\r\nContent-Disposition: form-data; name=\"picture\"; filename=\"chart.png\"\r\n"
      "Content-Type: image/png\r\n\r\n" +
      png + "\r\n--" + boundary + "--\r\n";
  return testing_support::Exchange(
      port,
      "POST /gallery.asp HTTP/1.1\r\nHost: h\r\nConnection: close\r\n"
      "Content-Type: multipart/form-data; boundary=" +
          boundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

TEST_F(NginxGalleryTest, APictureUploadedThroughOneHostIsServedByTheOther) {
  if (access("/usr/sbin/nginx", X_OK) != 0) GTEST_SKIP() << "nginx is not installed";
  std::string error;
  const std::string database = testing_support::PostgresConnectionString(&error);
  ASSERT_FALSE(database.empty()) << "no PostgreSQL server: " << error;
  for (const char* module : {VELLUM_MODULE_PATH, VELLUMSET_MODULE_PATH, DATABASE_MODULE_PATH}) {
    ASSERT_EQ(Register(module).status, 0) << module;
  }
  std::vector<std::unique_ptr<HostProcess>> hosts;
  for (int i = 0; i < 2; ++i) {
    const std::string site = Directory().File("site" + std::to_string(i));
    std::filesystem::copy(testing_support::SourcePath("examples/site"), site,
                          std::filesystem::copy_options::recursive);
    std::ofstream(site + "/data/database.txt") << "database=" << database << "\n";
    hosts.push_back(std::make_unique<HostProcess>(
        HOST_PATH, std::vector<std::string>{"--port", "0", site}, Registry(),
        Directory().File("error" + std::to_string(i) + ".log")));
    ASSERT_NE(hosts.back()->Port(), 0) << hosts.back()->FirstLine();
  }
  testing_support::NginxProxy proxy({hosts[0]->Port(), hosts[1]->Port()});
  ASSERT_NE(proxy.Port(), 0) << proxy.ErrorLog();

  const HttpReply chart = Get(hosts[0]->Port(), "/chart.asp?values=3,1,2&labels=a,b,c");
  ASSERT_EQ(chart.headers.at("content-type"), "image/png") << chart.body;
  ASSERT_EQ(Upload(hosts[0]->Port(), "Shared by both hosts", chart.body).status, 302);

  EXPECT_NE(Get(hosts[1]->Port(), "/gallery.asp").body.find("Shared by both hosts"),
            std::string::npos);
  const HttpReply picture = Get(hosts[0]->Port(), "/picture.asp?id=1");
  ASSERT_EQ(picture.headers.at("content-type"), "image/jpeg");
  EXPECT_EQ(Get(hosts[1]->Port(), "/picture.asp?id=1").body, picture.body);
  for (int client = 1; client <= 8; ++client) {
    const HttpReply proxied = GetFrom(proxy.Port(), "/picture.asp?id=1", Client(client));
    ASSERT_EQ(proxied.status, 200) << proxy.ErrorLog();
    EXPECT_EQ(proxied.body, picture.body);
  }
}

}  // namespace
