// The real vellum-host, run as a process of its own on a free port with a private
// registry, talked to over a raw socket.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/oracle.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

// vellum-host serving a site directory until the object goes (it is stopped with SIGTERM
// and must exit with status 0).
class HostProcess {
 public:
  HostProcess(const std::string& site, const std::string& registry, const std::string& log,
              const char* readTimeout) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, STDERR_FILENO);
      close(out[0]);
      setenv("VELLUM_REGISTRY", registry.c_str(), 1);
      execl(HOST_PATH, HOST_PATH, "--port", "0", "--read-timeout", readTimeout, site.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    firstLine_ = ReadLine(out[0]);
    close(out[0]);
    const size_t colon = firstLine_.rfind(':');
    if (firstLine_.starts_with("listening on http://127.0.0.1:") && colon != std::string::npos) {
      port_ = std::stoi(firstLine_.substr(colon + 1));
    }
  }
  ~HostProcess() { Stop(); }

  // The exit status after SIGTERM (-1 when it did not exit normally).
  int Stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

  int Port() const { return port_; }
  const std::string& FirstLine() const { return firstLine_; }

 private:
  static std::string ReadLine(int descriptor) {
    std::string line;
    char c = 0;
    pollfd ready = {descriptor, POLLIN, 0};
    while (poll(&ready, 1, 20000) > 0 && read(descriptor, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = -1;
  std::string firstLine_;
};

int Connect(int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  const timeval timeout = {20, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socket);
    return -1;
  }
  return socket;
}

// Sends the bytes and reads until the host closes the connection.
std::string Exchange(int port, const std::string& request) {
  const int socket = Connect(port);
  if (socket < 0) return "";
  send(socket, request.data(), request.size(), MSG_NOSIGNAL);
  std::string reply;
  char piece[65536];
  ssize_t got = 0;
  while ((got = recv(socket, piece, sizeof piece, 0)) > 0)
    reply.append(piece, static_cast<size_t>(got));
  close(socket);
  return reply;
}

struct Reply {
  int status = 0;
  std::map<std::string, std::string> headers;  // lower-case names
  std::string body;                            // de-chunked
  bool chunkedWell = true;                     // the chunks framed the body exactly
};

// Undoes chunked transfer coding; false when the framing is broken or unterminated.
bool Dechunk(std::string_view coded, std::string* body) {
  while (true) {
    const size_t lineEnd = coded.find("\r\n");
    if (lineEnd == std::string_view::npos) return false;
    const size_t size = std::stoul(std::string(coded.substr(0, lineEnd)), nullptr, 16);
    coded.remove_prefix(lineEnd + 2);
    if (size == 0) return coded == "\r\n";
    if (coded.size() < size + 2 || coded.substr(size, 2) != "\r\n") return false;
    body->append(coded.substr(0, size));
    coded.remove_prefix(size + 2);
  }
}

Reply Parse(const std::string& raw) {
  Reply reply;
  const size_t headEnd = raw.find("\r\n\r\n");
  if (!raw.starts_with("HTTP/1.1 ") || headEnd == std::string::npos) return reply;
  reply.status = std::stoi(raw.substr(9, 3));
  size_t line = raw.find("\r\n") + 2;
  while (line < headEnd) {
    const size_t end = raw.find("\r\n", line);
    const size_t colon = raw.find(':', line);
    std::string name = raw.substr(line, colon - line);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    reply.headers[name] = raw.substr(colon + 2, end - colon - 2);
    line = end + 2;
  }
  const std::string rest = raw.substr(headEnd + 4);
  const auto coding = reply.headers.find("transfer-encoding");
  if (coding != reply.headers.end() && coding->second == "chunked") {
    reply.chunkedWell = Dechunk(rest, &reply.body);
  } else {
    reply.body = rest;
  }
  return reply;
}

Reply Get(int port, const std::string& target, const std::string& version = "HTTP/1.1") {
  return Parse(Exchange(port, "GET " + target + " " + version + "\r\nHost: localhost\r\n\r\n"));
}

class HostTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  HostTest() : ToolRunner(REGSVR_PATH, "") { std::filesystem::create_directory(Site()); }

  std::string Site() const { return Directory().File("site"); }
  std::string Log() const { return Directory().File("host.log"); }
  void AddFile(const std::string& name, const std::string& content) const {
    WriteFileBytes(Site() + "/" + name, std::vector<uint8_t>(content.begin(), content.end()));
  }
  std::string LogText() const {
    const std::vector<uint8_t> bytes = ReadFileBytes(Log());
    return std::string(bytes.begin(), bytes.end());
  }
  // Starts the host on the site as it is now.
  int Start(const char* readTimeout = "10") {
    host_ = std::make_unique<HostProcess>(Site(), Registry(), Log(), readTimeout);
    EXPECT_NE(host_->Port(), 0) << host_->FirstLine();
    return host_->Port();
  }

  std::unique_ptr<HostProcess> host_;
};

TEST_F(HostTest, ImagePagesSendWhatSaveImageChose) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  AddFile("chart.js", R"(
    var e = CreateObject("Quillmark.Easel");
    e.CreateImage(Number(Request.QueryString("w")), 20, 0x0000FF);
    e.FillRectInImage(0, 10, 10, 10, 0x00FF00);
    e.BufferResponse = Request.QueryString("buffer") == "1";
    e.SaveImage(2, Number(Request.QueryString("format")), "");
  )");
  const int port = Start();

  // Unbuffered: chunked as it is written; buffered: with its length.
  for (const char* buffer : {"0", "1"}) {
    const Reply png = Get(port, std::string("/chart.js?format=4&w=30&buffer=") + buffer);
    ASSERT_EQ(png.status, 200);
    EXPECT_EQ(png.headers.at("content-type"), "image/png");
    EXPECT_TRUE(png.chunkedWell);
    EXPECT_EQ(png.headers.contains("content-length"), buffer == std::string("1"));
    EXPECT_EQ(png.headers.contains("transfer-encoding"), buffer == std::string("0"));
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
  const Reply psd = Get(port, "/chart.js?format=9&w=12");
  ASSERT_EQ(psd.status, 200);
  EXPECT_EQ(psd.headers.at("content-type"), "image/psd");
  EXPECT_EQ(psd.headers.at("content-disposition"), "attachment; filename=\"chart.PSD\"");
  EXPECT_TRUE(psd.body.starts_with("8BPS"));

  // Larger than one piece of SaveImage's output: the pieces arrive whole and in order.
  const Reply bmp = Get(port, "/chart.js?format=1&w=2000");
  ASSERT_EQ(bmp.status, 200);
  EXPECT_TRUE(bmp.chunkedWell);
  EXPECT_EQ(bmp.body.size(), 54u + 2000u * 20u * 3u);
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, BufferingDecidesHowTheBodyGoesOut) {
  AddFile("buffered.js", R"(
    Response.Write("dropped");
    Response.Clear();
    Response.ContentType = "text/plain";
    Response.AddHeader("X-Page", "yes");
    Response.Write("h\u00e9llo ");
    Response.BinaryWrite(new Uint8Array([119, 111, 114, 108, 100]));
  )");
  AddFile("streamed.js", R"(
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
  )");
  AddFile("headers.js", R"(
    function attempt(f) { try { f(); return "ok"; } catch (e) { return String(e.number); } }
    Response.Write([attempt(function () { Response.AddHeader("X-Bad", "a\r\nSet-Cookie: b"); }),
                    attempt(function () { Response.AddHeader("Content-Length", "1"); }),
                    attempt(function () { Response.AddHeader("Bad Name", "v"); }),
                    attempt(function () { Response.BinaryWrite("text"); })].join(","));
  )");
  const int port = Start();

  const Reply buffered = Get(port, "/buffered.js");
  ASSERT_EQ(buffered.status, 200);
  EXPECT_EQ(buffered.headers.at("content-type"), "text/plain");
  EXPECT_EQ(buffered.headers.at("x-page"), "yes");
  EXPECT_EQ(buffered.headers.at("content-length"), "12");
  EXPECT_EQ(buffered.body, "h\xC3\xA9llo world");

  const Reply streamed = Get(port, "/streamed.js");
  ASSERT_EQ(streamed.status, 200);
  EXPECT_EQ(streamed.headers.at("transfer-encoding"), "chunked");
  EXPECT_EQ(streamed.headers.at("x-early"), "1");
  EXPECT_FALSE(streamed.headers.contains("x-late"));
  EXPECT_TRUE(streamed.chunkedWell);
  // E_FAIL = -2147467259 for each change after the head went out.
  EXPECT_EQ(streamed.body, "one,two,ok,-2147467259,-2147467259,-2147467259,-2147467259,ok,true");

  // An HTTP/1.0 client gets the streamed body up to the close instead of chunks.
  const Reply old = Parse(Exchange(port, "GET /streamed.js HTTP/1.0\r\n\r\n"));
  EXPECT_FALSE(old.headers.contains("transfer-encoding"));
  EXPECT_TRUE(old.body.starts_with("one,two,ok,"));

  // Texts that would break the head, framing headers and non-bytes are refused.
  const Reply refused = Get(port, "/headers.js");
  EXPECT_EQ(refused.body, "-2147024809,-2147024809,-2147024809,-2147352571");
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, APageThatThrowsGets500WithItsErrorEscaped) {
  AddFile("broken.js", R"(
    Response.Write("partial output");
    throw new Error("no <b>such</b> picture");
  )");
  AddFile("syntax.js", "var = ;");
  AddFile("late.js", R"(
    Response.Buffer = false;
    Response.Write("started");
    throw new Error("too late");
  )");
  const int port = Start();
  const Reply broken = Get(port, "/broken.js");
  EXPECT_EQ(broken.status, 500);
  EXPECT_NE(broken.body.find("no &lt;b&gt;such&lt;/b&gt; picture"), std::string::npos);
  EXPECT_EQ(broken.body.find("partial output"), std::string::npos);
  EXPECT_EQ(Get(port, "/syntax.js").status, 500);
  // Once the body is streaming the response is broken off: no terminating chunk.
  const Reply late = Get(port, "/late.js");
  EXPECT_EQ(late.status, 200);
  EXPECT_FALSE(late.chunkedWell);
  EXPECT_EQ(host_->Stop(), 0);
  EXPECT_NE(LogText().find("too late"), std::string::npos);
}

TEST_F(HostTest, PagesSeeTheirRequest) {
  AddFile("index.js", R"(
    var v = Request.ServerVariables;
    Response.Write([v("SCRIPT_NAME"), v("QUERY_STRING"), v("REQUEST_METHOD"), v("SERVER_NAME"),
                    v("SERVER_PORT"), v("REMOTE_ADDR"), v("HTTP_HOST"), v("http_x_custom_thing"),
                    typeof v("NO_SUCH_VARIABLE"), Request.QueryString("q"),
                    Request.QueryString("none")].join("|"));
    print("index page ran");
  )");
  const int port = Start();
  const std::string rest =
      " /?q=a%20b+c&r=1 HTTP/1.1\r\nHost: example.test:81\r\nX-Custom-Thing: z\r\n\r\n";
  const Reply reply = Parse(Exchange(port, "GET" + rest));
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "/index.js|q=a%20b+c&r=1|GET|example.test|" + std::to_string(port) +
                            "|127.0.0.1|example.test:81|z|undefined|a b c|");
  // HEAD runs the page but sends only the head.
  const Reply head = Parse(Exchange(port, "HEAD" + rest));
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.headers.at("content-length"), std::to_string(reply.body.size() + 1));  // HEAD
  EXPECT_EQ(head.body, "");
  EXPECT_EQ(host_->Stop(), 0);
  EXPECT_NE(LogText().find("index page ran"), std::string::npos);
}

TEST_F(HostTest, FilesAreServedAndRefusalsExplained) {
  AddFile("notes.txt", "plain notes\n");
  std::filesystem::create_directory(Site() + "/img");
  AddFile("img/dot.GIF", "GIF89a");
  const int port = Start();

  const Reply notes = Get(port, "/notes.txt");
  EXPECT_EQ(notes.status, 200);
  EXPECT_EQ(notes.headers.at("content-type"), "text/plain; charset=utf-8");
  EXPECT_EQ(notes.headers.at("content-length"), "12");
  EXPECT_EQ(notes.body, "plain notes\n");
  const Reply head = Parse(Exchange(port, "HEAD /notes.txt HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(head.headers.at("content-length"), "12");
  EXPECT_EQ(head.body, "");
  const Reply gif = Get(port, "/img/dot%2EGIF");
  EXPECT_EQ(gif.headers.at("content-type"), "image/gif");
  EXPECT_EQ(gif.body, "GIF89a");

  EXPECT_EQ(Get(port, "/missing.txt").status, 404);
  EXPECT_EQ(Get(port, "/img").status, 404);
  EXPECT_EQ(Get(port, "/").status, 404);  // no index page here
  const Reply post =
      Parse(Exchange(port, "POST /notes.txt HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"));
  EXPECT_EQ(post.status, 405);
  EXPECT_EQ(post.headers.at("allow"), "GET, HEAD");
  EXPECT_EQ(Parse(Exchange(port, "GET /notes.txt\r\n\r\n")).status, 400);
  EXPECT_EQ(Parse(Exchange(port, std::string("\x00\xff garbage\r\n\r\n", 13))).status, 400);
  std::string huge = "GET /notes.txt HTTP/1.1\r\nX-Big: " + std::string(20000, 'x') + "\r\n\r\n";
  EXPECT_EQ(Parse(Exchange(port, huge)).status, 431);
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
    const Reply reply = Get(port, target);
    EXPECT_TRUE(reply.status == 403 || reply.status == 404) << target << " " << reply.status;
    EXPECT_EQ(reply.body.find("secret"), std::string::npos) << target;
  }
  // Absolute paths are read inside the site; an absolute-form target is refused.
  EXPECT_EQ(Get(port, "//etc/passwd").status, 404);
  EXPECT_EQ(Get(port, std::string("/%2F") + secret.substr(1)).status, 404);
  EXPECT_EQ(Get(port, "http://localhost" + secret).status, 400);
  EXPECT_EQ(host_->Stop(), 0);
}

TEST_F(HostTest, ConcurrentPagesAndADepartedClient) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  AddFile("gradient.js", R"(
    var e = CreateObject("Quillmark.Easel");
    e.CreateGradientImage(64, 48, 0x000000, 0xFFFFFF, 0);
    e.SaveImage(2, 4, "");
  )");
  AddFile("endless.js", R"(
    Response.Buffer = false;
    var piece = new Uint8Array(65536);
    var sent = 0;
    while (Response.IsClientConnected && sent < 100000) { Response.BinaryWrite(piece); sent++; }
    print("client left: " + (sent < 100000));
  )");
  const int port = Start();
  std::vector<std::thread> clients;
  std::vector<Reply> replies(6);
  for (size_t i = 0; i < replies.size(); ++i) {
    clients.emplace_back([&, i] { replies[i] = Get(port, "/gradient.js"); });
  }
  for (std::thread& client : clients) client.join();
  for (const Reply& reply : replies) {
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body.starts_with("\x89PNG"));
    EXPECT_EQ(reply.body, replies[0].body);
  }

  // A client that reads the start and leaves: the page sees it go.
  const int socket = Connect(port);
  const std::string request = "GET /endless.js HTTP/1.1\r\n\r\n";
  send(socket, request.data(), request.size(), MSG_NOSIGNAL);
  char piece[1024];
  EXPECT_GT(recv(socket, piece, sizeof piece, 0), 0);
  close(socket);
  EXPECT_EQ(Get(port, "/gradient.js").status, 200);  // still serving
  for (int wait = 0; wait < 100 && LogText().find("client left") == std::string::npos; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(host_->Stop(), 0);
  EXPECT_NE(LogText().find("client left: true"), std::string::npos);
}

TEST_F(HostTest, SlowClientsAreCutOffAndTheHostStillStops) {
  AddFile("notes.txt", "notes");
  const int port = Start("1");
  // Silent: closed without a reply. Partial head: 408. Trickling bytes does not extend the time.
  EXPECT_EQ(Exchange(port, ""), "");
  EXPECT_EQ(Parse(Exchange(port, "GET /notes.txt HTTP/1.1\r\n")).status, 408);
  const int trickler = Connect(port);
  const auto started = std::chrono::steady_clock::now();
  std::string reply;
  for (int i = 0; i < 40; ++i) {
    if (send(trickler, "X", 1, MSG_NOSIGNAL) != 1) break;
    pollfd ready = {trickler, POLLIN, 0};
    if (poll(&ready, 1, 100) > 0) break;
  }
  char piece[4096];
  ssize_t got = 0;
  while ((got = recv(trickler, piece, sizeof piece, 0)) > 0)
    reply.append(piece, static_cast<size_t>(got));
  close(trickler);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(Parse(reply).status, 408);

  // A client that connected and says nothing does not hold up the stop.
  const int idle = Connect(port);
  EXPECT_EQ(host_->Stop(), 0);
  close(idle);
}

// Image pages served to eight clients at once, each page drawing text and saving a
// different format: every reply is whole (the suite also runs under ThreadSanitizer,
// which would stop the host at the first race).
TEST_F(HostTest, ImagePagesUnderConcurrentLoad) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  AddFile("badge.js", R"(
    var e = CreateObject("Quillmark.Easel");
    e.CreateGradientImage(120, 40, 0x204080, 0xFFFFFF, 0);
    e.Font.Height = -16;
    e.AntiAliasFactor = 4;
    e.DrawTextOnImage(4, 4, 0, 0, "n" + Request.QueryString("n"));
    e.RotateImage(15, 0);
    e.SaveImage(2, Number(Request.QueryString("format")), "");
  )");
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
        const Reply reply =
            Get(port, "/badge.js?n=" + std::to_string(r) + "&format=" + std::to_string(format));
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
  EXPECT_EQ(host_->Stop(), 0) << LogText();
}

}  // namespace
