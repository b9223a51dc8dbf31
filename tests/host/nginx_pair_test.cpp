// Debian's nginx on loopback in front of two vellum-host processes, with the proxy
// settings the project ships: pages and images come through it from both hosts, and
// when one host stops the other answers every request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/host_process.h"
#include "tests/support/http_client.h"
#include "tests/support/nginx_proxy.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::Eventually;
using testing_support::Get;
using testing_support::HostProcess;
using testing_support::HttpReply;

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class NginxPairTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  NginxPairTest() : ToolRunner(REGSVR_PATH, "") {}

  void SetUp() override {
    if (access("/usr/sbin/nginx", X_OK) != 0) GTEST_SKIP() << "nginx is not installed";
    ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
    const std::string site = Directory().File("site");
    std::filesystem::create_directory(site);
    std::ofstream(site + "/which.js") << R"(
      Response.ContentType = "text/plain";
      Response.Write(Request.ServerVariables("SERVER_PORT") + " " +
                     Request.ServerVariables("HTTP_X_FORWARDED_FOR"));
    )";
    std::ofstream(site + "/dot.js") << R"(
      var e = CreateObject("Quillmark.Easel");
      e.CreateImage(16, 8, 0x00FF00);
      e.SaveImage(2, 4, "");
    )";
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

TEST_F(NginxPairTest, BothHostsServeAndOneStoppingLosesNoRequest) {
  const int port = proxy_->Port();
  std::set<std::string> servedBy;
  for (int i = 0; i < 8; ++i) {
    const HttpReply page = Get(port, "/which.js");
    ASSERT_EQ(page.status, 200) << proxy_->ErrorLog();
    servedBy.insert(page.body.substr(0, page.body.find(' ')));
    EXPECT_NE(page.body.find("127.0.0.1"), std::string::npos);  // the client, as nginx saw it
    const HttpReply image = Get(port, "/dot.js");
    EXPECT_EQ(image.status, 200);
    EXPECT_EQ(image.headers.at("content-type"), "image/png");
    EXPECT_TRUE(image.body.starts_with("\x89PNG"));
    EXPECT_EQ(Get(port, "/notes.txt").body, "notes");
  }
  EXPECT_EQ(servedBy, (std::set<std::string>{std::to_string(hosts_[0]->Port()),
                                             std::to_string(hosts_[1]->Port())}));

  EXPECT_EQ(hosts_[0]->Stop(), 0);
  for (int i = 0; i < 12; ++i) {
    const HttpReply page = Get(port, "/which.js");
    ASSERT_EQ(page.status, 200) << proxy_->ErrorLog();
    EXPECT_TRUE(page.body.starts_with(std::to_string(hosts_[1]->Port())));
    EXPECT_EQ(Get(port, "/dot.js").status, 200);
  }
  EXPECT_TRUE(Eventually([&] {
    return ReadText(Directory().File("access1.log")).find("GET /dot.js") != std::string::npos;
  }));
}

}  // namespace
