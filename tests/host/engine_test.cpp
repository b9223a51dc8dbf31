// The host's engine in this process, on a free port, with a page layer of the test's
// own: each page is a C++ function, so the tests see exactly what a page receives and
// control when it writes.
#include "host/engine.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "tests/support/host_process.h"
#include "tests/support/http_client.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace {

using host::RequestRecord;
using host::ResponseSink;
using testing_support::Eventually;
using testing_support::Exchange;
using testing_support::Get;
using testing_support::HttpConnection;
using testing_support::HttpReply;
using testing_support::ReadFileText;

using Page = std::function<void(RequestRecord&, ResponseSink&)>;

// Pages are the site's *.page files; what each does is the function registered for it.
class TestPages final : public host::PageHandler {
 public:
  bool IsPage(std::string_view realPath) const override { return realPath.ends_with(".page"); }
  std::vector<std::string> IndexNames() const override { return {"index.page"}; }
  bool Start(host::HostServices&, std::string*) override {
    ++starts;
    return true;
  }
  void Stop() override { ++stops; }
  void Serve(RequestRecord& request, ResponseSink& response) override {
    pages.at(request.scriptName)(request, response);
  }

  std::map<std::string, Page> pages;
  int starts = 0;
  int stops = 0;
};

void Reply(ResponseSink& response, const std::string& text) {
  response.SendHead(200, "OK", {{"Content-Type", "text/plain"}}, text.size());
  response.SendBody(text);
  response.Finish();
}

// A gate a page waits at until the test opens it.
class Gate {
 public:
  void Wait() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void Open() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Waits until `count` pages wait here.
  bool Reached(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return waiting_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = false;
};

// Every test runs in both of the engine's threading modes.
class EngineTest : public ::testing::TestWithParam<const char*> {
 protected:
  EngineTest() {
    std::filesystem::create_directory(Site());
    options_.site = Site();
    options_.port = 0;
    options_.development = true;
    options_.connectionThreads = GetParam();
  }
  ~EngineTest() override {
    for (Gate& gate : gates_) gate.Open();  // a failed test leaves no page waiting
    if (engine_ != nullptr) {
      engine_->BeginStop();
      for (int wait = 0; wait < 200 && !engine_->Idle(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      engine_->Finish();
    }
  }

  std::string Site() const { return directory_.File("site"); }
  void AddPage(const std::string& name, Page page) {
    std::ofstream(Site() + "/" + name) << "";
    pages_.pages["/" + name] = std::move(page);
  }
  void AddFile(const std::string& name, const std::string& content) {
    std::ofstream(Site() + "/" + name) << content;
  }
  std::string AccessText() const { return ReadFileText(directory_.File("access.log")); }
  std::string ErrorText() const { return ReadFileText(directory_.File("error.log")); }
  // Whether the log holds the text within a while (a request is logged just after its reply).
  bool AccessLogShows(const std::string& text) const {
    return Eventually([&] { return AccessText().find(text) != std::string::npos; });
  }
  bool ErrorLogShows(const std::string& text) const {
    return Eventually([&] { return ErrorText().find(text) != std::string::npos; });
  }

  int Start() {
    accessLog_ = std::make_unique<host::LogFile>(directory_.File("access.log"), -1);
    errorLog_ = std::make_unique<host::LogFile>(directory_.File("error.log"), -1);
    std::string error;
    EXPECT_TRUE(accessLog_->Open(&error) && errorLog_->Open(&error)) << error;
    engine_ = std::make_unique<host::Engine>(options_, pages_, *accessLog_, *errorLog_);
    EXPECT_TRUE(engine_->Start(&error)) << error;
    const std::string& url = engine_->Url();
    return std::stoi(url.substr(url.rfind(':') + 1));
  }

  // A gate that pages wait at, opened at the end of the test whatever happened.
  Gate& NewGate() { return gates_.emplace_back(); }

  testing_support::TempDir directory_;
  std::list<Gate> gates_;
  host::HostOptions options_;
  TestPages pages_;
  std::unique_ptr<host::LogFile> accessLog_;
  std::unique_ptr<host::LogFile> errorLog_;
  std::unique_ptr<host::Engine> engine_;
};

std::string Describe(const RequestRecord& request) {
  std::string text = request.method + " " + request.path + " ?" + request.query +
                     " body=" + std::to_string(request.body.size()) + "\n";
  for (const auto& [name, value] : request.form) text += "form " + name + "=" + value + "\n";
  for (const host::UploadedFile& file : request.files) {
    text += "file " + file.field + " " + file.fileName + " " + file.contentType + " " + file.bytes +
            "\n";
  }
  return text;
}

TEST_P(EngineTest, RequestBodiesReachThePageReadAndParsed) {
  AddPage("echo.page", [](RequestRecord& request, ResponseSink& response) {
    Reply(response, Describe(request));
  });
  const int port = Start();
  EXPECT_EQ(pages_.starts, 1);

  const HttpReply form = Exchange(port,
                                  "POST /echo.page?q=1 HTTP/1.1\r\nHost: h\r\nContent-Type: "
                                  "application/x-www-form-urlencoded\r\n"
                                  "Content-Length: 26\r\n\r\nname=A+b%21&tag=x&tag=&z=9");
  EXPECT_EQ(form.body,
            "POST /echo.page ?q=1 body=26\nform name=A b!\nform tag=x\nform tag=\nform z=9\n");

  const std::string multipart =
      "--XyZ\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nHoliday\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"picture\"; "
      "filename=\"C:\\\\up\\\\p.png\"\r\n"
      "Content-Type: image/png\r\n\r\n\x89PNG bytes\r\n--XyZ--\r\n";
  const HttpReply upload = Exchange(
      port,
      "POST /echo.page HTTP/1.1\r\nHost: h\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
      "Content-Length: " +
          std::to_string(multipart.size()) + "\r\n\r\n" + multipart);
  EXPECT_EQ(upload.body, "POST /echo.page ? body=" + std::to_string(multipart.size()) +
                             "\nform title=Holiday\nfile picture p.png image/png \x89PNG bytes\n");

  // A chunked body, and a body of another type, are read whole and left as they are.
  const HttpReply chunked =
      Exchange(port,
               "PUT /echo.page HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
               "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
  EXPECT_EQ(chunked.body, "PUT /echo.page ? body=11\n");
}

TEST_P(EngineTest, BodiesAndHeadsOverTheLimitsAreRefused) {
  options_.maxBodyBytes = 1000;
  options_.maxHeadBytes = 2048;
  AddPage("echo.page", [](RequestRecord& request, ResponseSink& response) {
    Reply(response, Describe(request));
  });
  const int port = Start();
  // Announced too large: refused before the body is sent.
  const HttpReply announced =
      Exchange(port, "POST /echo.page HTTP/1.1\r\nHost: h\r\nContent-Length: 1001\r\n\r\n");
  EXPECT_EQ(announced.status, 413);
  const std::string chunk = "3e8\r\n" + std::string(1000, 'a') + "\r\n";
  const HttpReply streamed =
      Exchange(port, "POST /echo.page HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n" +
                         chunk + "1\r\nb\r\n0\r\n\r\n");
  EXPECT_EQ(streamed.status, 413);
  const HttpReply fits =
      Exchange(port, "POST /echo.page HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n" +
                         chunk + "0\r\n\r\n");
  EXPECT_EQ(fits.body, "POST /echo.page ? body=1000\n");

  const std::string big = "X-Big: " + std::string(3000, 'x') + "\r\n";
  EXPECT_EQ(Get(port, "/echo.page", big).status, 431);
  EXPECT_EQ(Get(port, "/echo.page", "X-Huge: " + std::string(200000, 'x') + "\r\n").status, 431);
  EXPECT_EQ(Get(port, "/echo.page", "X-Fits: " + std::string(1500, 'x') + "\r\n").status, 200);
  EXPECT_TRUE(ErrorLogShows("413: 127.0.0.1 announced a body of 1001 bytes")) << ErrorText();
  EXPECT_TRUE(ErrorLogShows("431: the request head from 127.0.0.1"));
}

TEST_P(EngineTest, AHeadOrBodyThatComesTooSlowlyGets408) {
  options_.headTimeout = 1;
  options_.bodyTimeout = 1;
  AddPage("echo.page", [](RequestRecord& request, ResponseSink& response) {
    Reply(response, Describe(request));
  });
  const int port = Start();
  const auto started = std::chrono::steady_clock::now();
  HttpConnection body(port);
  body.Send("POST /echo.page HTTP/1.1\r\nHost: h\r\nContent-Length: 100\r\n\r\nonly ten..");
  HttpConnection head(port);
  head.Send("GET /echo.page HTTP/1.1\r\nHost:");
  EXPECT_EQ(body.Read()->status, 408);
  EXPECT_EQ(head.Read()->status, 408);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
  EXPECT_TRUE(body.ClosedByServer(3000));
  EXPECT_TRUE(ErrorLogShows("408: the request body from 127.0.0.1")) << ErrorText();
  EXPECT_TRUE(ErrorLogShows("408: the request head from 127.0.0.1")) << ErrorText();
  EXPECT_TRUE(AccessLogShows("\"POST /echo.page HTTP/1.1\" 408 "));
}

TEST_P(EngineTest, ConnectionsOverAnAddressCapDoNotTouchOtherClients) {
  options_.maxConnectionsPerAddress = 4;
  AddFile("notes.txt", "notes");
  const int port = Start();
  std::vector<std::unique_ptr<HttpConnection>> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(std::make_unique<HttpConnection>(port));
  // The address's fifth is refused at once; another address is served as ever.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  HttpConnection fifth(port);
  EXPECT_TRUE(fifth.ClosedByServer(2000));
  HttpConnection other(port, 20, "127.0.0.2");
  ASSERT_TRUE(other.Send("GET /notes.txt HTTP/1.1\r\nHost: h\r\n\r\n"));
  EXPECT_EQ(other.Read()->body, "notes");
  // Once one of the four goes, the address may connect again.
  idle.pop_back();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Get(port, "/notes.txt").body, "notes");
  EXPECT_TRUE(ErrorLogShows("refused a connection from 127.0.0.1: it holds 4 connections"));
}

TEST_P(EngineTest, RequestsBeyondTheWorkersWaitAndPastTheBacklogGet503) {
  options_.workers = 1;
  options_.backlog = 1;
  Gate& gate = NewGate();
  AddPage("slow.page", [&](RequestRecord& request, ResponseSink& response) {
    gate.Wait();
    Reply(response, "done " + request.query);
  });
  AddFile("notes.txt", "notes");
  const int port = Start();
  HttpConnection running(port);
  HttpConnection waiting(port);
  ASSERT_TRUE(running.Send("GET /slow.page?1 HTTP/1.1\r\nHost: h\r\n\r\n"));
  ASSERT_TRUE(gate.Reached(1));
  ASSERT_TRUE(waiting.Send("GET /slow.page?2 HTTP/1.1\r\nHost: h\r\n\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const HttpReply refused = Get(port, "/slow.page?3");
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.headers.at("retry-after"), "5");
  // Files do not wait for the workers.
  EXPECT_EQ(Get(port, "/notes.txt").body, "notes");
  gate.Open();
  EXPECT_EQ(running.Read()->body, "done 1");
  EXPECT_EQ(waiting.Read()->body, "done 2");
  EXPECT_TRUE(AccessLogShows("\"GET /slow.page?3 HTTP/1.1\" 503 "));
  EXPECT_TRUE(ErrorLogShows("503: every worker is busy"));
}

TEST_P(EngineTest, AStreamedResponseReachesTheClientAsThePageWritesIt) {
  Gate& first = NewGate();
  Gate& second = NewGate();
  AddPage("stream.page", [&](RequestRecord&, ResponseSink& response) {
    response.SendHead(200, "OK", {{"Content-Type", "text/plain"}, {"X-Page", "1"}}, std::nullopt);
    response.SendBody("first;");
    first.Wait();
    response.SendBody("second;");
    second.Wait();
    response.Finish();
  });
  const int port = Start();
  HttpConnection client(port, 5);
  ASSERT_TRUE(client.Send("GET /stream.page HTTP/1.1\r\nHost: h\r\n\r\n"));
  // Each piece arrives while the page still runs.
  std::string seen;
  const auto readUntil = [&](std::string_view text) {
    char piece[4096];
    while (seen.find(text) == std::string::npos) {
      const ssize_t got = recv(client.Socket(), piece, sizeof piece, 0);
      if (got <= 0) return false;
      seen.append(piece, static_cast<size_t>(got));
    }
    return true;
  };
  ASSERT_TRUE(readUntil("first;")) << seen;
  EXPECT_NE(seen.find("Transfer-Encoding: chunked"), std::string::npos);
  EXPECT_NE(seen.find("X-Page: 1"), std::string::npos);
  first.Open();
  ASSERT_TRUE(readUntil("second;")) << seen;
  second.Open();
  EXPECT_TRUE(readUntil("0\r\n\r\n")) << seen;
}

// A client that takes 1 KB at a time, slowly, gets its connection reset at the send
// deadline: the bytes the host had already handed to the system go with it (a graceful
// close would leave them, megabytes, trickling out to the client for hours).
TEST_P(EngineTest, AClientThatReadsSlowlyLosesTheConnectionAtTheSendDeadline) {
  options_.sendTimeout = 1;
  AddFile("large.bin", std::string(size_t{16} << 20, 'x'));
  const int port = Start();
  HttpConnection client(port, 2);
  ASSERT_TRUE(client.Send("GET /large.bin HTTP/1.1\r\nHost: h\r\n\r\n"));
  const auto started = std::chrono::steady_clock::now();
  size_t received = 0;
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() - started < std::chrono::seconds(10)) {
    char piece[1024];
    const ssize_t got = recv(client.Socket(), piece, sizeof piece, 0);
    ended = got <= 0;
    if (got > 0) received += static_cast<size_t>(got);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(ended) << received << " bytes came in 10 s";
  EXPECT_LT(received, size_t{1} << 20);
  EXPECT_TRUE(ErrorLogShows("cut the connection to 127.0.0.1")) << ErrorText();
  EXPECT_TRUE(AccessLogShows("\"GET /large.bin HTTP/1.1\" 200 "));
}

TEST_P(EngineTest, APageThatOutrunsAClientThatDoesNotReadIsCutOff) {
  options_.sendTimeout = 1;
  std::promise<std::pair<bool, size_t>> outcome;
  AddPage("flood.page", [&](RequestRecord&, ResponseSink& response) {
    response.SendHead(200, "OK", {}, std::nullopt);
    const std::string piece(64 * 1024, 'x');
    size_t written = 0;
    while (written < (size_t{1} << 30) && response.SendBody(piece)) written += piece.size();
    outcome.set_value({response.ClientConnected(), written});
  });
  const int port = Start();
  HttpConnection client(port);
  ASSERT_TRUE(client.Send("GET /flood.page HTTP/1.1\r\nHost: h\r\n\r\n"));
  std::future<std::pair<bool, size_t>> result = outcome.get_future();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const auto [connected, written] = result.get();
  EXPECT_FALSE(connected);
  EXPECT_LT(written, size_t{64} << 20);
  EXPECT_TRUE(ErrorLogShows("cut the connection to 127.0.0.1"));
}

TEST_P(EngineTest, APageThatEndsWithoutItsResponseIsAnsweredOrBrokenOff) {
  AddPage("silent.page", [](RequestRecord&, ResponseSink&) {});
  AddPage("unfinished.page", [](RequestRecord&, ResponseSink& response) {
    response.SendHead(200, "OK", {}, std::nullopt);
    response.SendBody("part");
  });
  AddPage("short.page", [](RequestRecord&, ResponseSink& response) {
    response.SendHead(200, "OK", {}, 10);
    response.SendBody("four");
    response.Finish();
  });
  AddPage("throws.page",
          [](RequestRecord&, ResponseSink&) { throw std::runtime_error("page fault"); });
  const int port = Start();
  EXPECT_EQ(Get(port, "/silent.page").status, 500);
  const HttpReply unfinished = Get(port, "/unfinished.page");
  EXPECT_EQ(unfinished.status, 200);
  EXPECT_FALSE(unfinished.complete);
  EXPECT_FALSE(Get(port, "/short.page").complete);
  EXPECT_EQ(Get(port, "/throws.page").status, 500);
  EXPECT_TRUE(ErrorLogShows("the page /throws.page failed: page fault"));
}

TEST_P(EngineTest, AStopWaitsForTheRequestsInFlightThenEndsThePageLayer) {
  Gate& gate = NewGate();
  AddPage("slow.page", [&](RequestRecord&, ResponseSink& response) {
    gate.Wait();
    Reply(response, "finished");
  });
  const int port = Start();
  HttpConnection client(port);
  ASSERT_TRUE(client.Send("GET /slow.page HTTP/1.1\r\nHost: h\r\n\r\n"));
  ASSERT_TRUE(gate.Reached(1));
  engine_->BeginStop();
  EXPECT_FALSE(HttpConnection(port).Connected());
  EXPECT_FALSE(engine_->Idle());
  EXPECT_FALSE(engine_->Finish());  // a page still runs
  gate.Open();
  const std::optional<HttpReply> reply = client.Read();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->body, "finished");
  EXPECT_EQ(reply->headers.at("connection"), "close");
  for (int wait = 0; wait < 200 && !engine_->Idle(); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(engine_->Idle());
  EXPECT_TRUE(engine_->Finish());
  EXPECT_EQ(pages_.stops, 1);
  engine_.reset();
}

INSTANTIATE_TEST_SUITE_P(Threading, EngineTest, ::testing::Values("pool", "per-connection"),
                         [](const auto& param) {
                           return std::string(param.param) == "pool" ? "Pool" : "PerConnection";
                         });

}  // namespace
