#include "host/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "host/connection.h"
#include "host/http_response.h"
#include "host/js_pages.h"
#include "host/logs.h"
#include "host/request_target.h"
#include "host/static_files.h"

namespace host {

namespace {

constexpr auto kShutdownWait = std::chrono::seconds(10);

// What the host knows about a request beyond its head.
struct RequestOrigin {
  std::string serverAddress;  // the address the host listens on
  int serverPort = 0;
  std::string remoteAddress;
  std::string scriptFile;  // the real path of the page script
};

struct Outcome {
  int status = 200;
  size_t bytes = 0;
};

// A page's response over the connection: with its length, or streamed in chunks (to an
// HTTP/1.0 client, up to the close).
class ConnectionSink final : public ResponseSink {
 public:
  ConnectionSink(Connection& connection, bool headOnly, bool chunked)
      : connection_(connection), headOnly_(headOnly), chunked_(chunked) {}

  bool SendHead(int status, std::string_view, const NameValueList& headers,
                std::optional<uint64_t> length) override {
    HeaderList all = headers;
    if (length) {
      all.emplace_back("Content-Length", std::to_string(*length));
      chunked_ = false;
    } else if (chunked_) {
      all.emplace_back("Transfer-Encoding", "chunked");
    }
    status_ = status;
    return connection_.Send(ResponseHead(status, all));
  }
  bool SendBody(std::string_view bytes) override {
    if (headOnly_ || bytes.empty()) return connection_.ClientConnected();
    bytes_ += bytes.size();
    if (!chunked_) return connection_.Send(bytes);
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", bytes.size());
    return connection_.Send(size) && connection_.Send(bytes) && connection_.Send("\r\n");
  }
  void Finish() override {
    if (chunked_ && !headOnly_) connection_.Send("0\r\n\r\n");
  }
  bool ClientConnected() const override { return connection_.ClientConnected(); }
  bool HeadOnly() const override { return headOnly_; }

  Outcome Result() const { return {status_, bytes_}; }

 private:
  Connection& connection_;
  const bool headOnly_;
  bool chunked_;
  int status_ = 0;
  size_t bytes_ = 0;
};

class StderrServices final : public HostServices {
 public:
  StderrServices() : log_("-", STDERR_FILENO), errors_(log_) {
    std::string error;
    log_.Open(&error);
  }
  bool Development() const override { return true; }
  const std::string& SiteRoot() const override { return site_; }
  std::string LogScriptFailure(const RequestRecord& request,
                               const ScriptFailure& failure) override {
    return errors_.ScriptFailure(request, failure);
  }
  void LogError(std::string_view message) override { errors_.Write("error", message); }

  std::string site_;

 private:
  LogFile log_;
  ErrorLog errors_;
};

StderrServices g_services;
JsPageHandler g_pages;

Outcome ServePage(Connection& connection, const HttpRequest& request, const RequestOrigin& origin,
                  const std::string& path, const std::string& scriptName) {
  RequestRecord record;
  record.method = request.method;
  record.target = request.target;
  record.path = request.path;
  record.query = request.query;
  record.protocol = "HTTP/1." + std::to_string(request.minorVersion);
  record.headers = request.headers;
  record.remoteAddress = origin.remoteAddress;
  record.localAddress = origin.serverAddress;
  record.localPort = static_cast<uint16_t>(origin.serverPort);
  record.scriptFile = path;
  record.scriptName = scriptName;
  ConnectionSink sink(connection, request.method == "HEAD", request.minorVersion >= 1);
  g_pages.Serve(record, sink);
  return sink.Result();
}

Outcome Refuse(Connection& connection, int status, std::string_view detail, bool headOnly,
               const HeaderList& extraHeaders = {}) {
  SendStatusPage(connection, status, detail, headOnly, extraHeaders);
  return {status, 0};
}

Outcome Route(Connection& connection, const HttpRequest& request, const RequestOrigin& origin,
              const std::string& realSite) {
  const bool headOnly = request.method == "HEAD";
  if (request.method != "GET" && !headOnly) {
    return Refuse(connection, 405, "Only GET and HEAD are served.", false,
                  {{"Allow", "GET, HEAD"}});
  }
  const std::optional<std::string> relative = SiteRelativePath(request.path);
  if (!relative) return Refuse(connection, 403, "The path leaves the site.", headOnly);
  std::string path;
  switch (ResolveInSite(realSite, relative->empty() ? "index.js" : *relative, &path)) {
    case Resolution::kMissing:
      return Refuse(connection, 404, "There is no such page or file.", headOnly);
    case Resolution::kOutside:
      return Refuse(connection, 403, "The path leaves the site.", headOnly);
    case Resolution::kFound:
      break;
  }
  if (g_pages.IsPage(path)) {
    return ServePage(connection, request, origin, path,
                     relative->empty() ? "/index.js" : request.path);
  }
  Outcome outcome;
  if (!SendFile(connection, path, headOnly, &outcome.bytes)) {
    return Refuse(connection, 404, "There is no such page or file.", headOnly);
  }
  return outcome;
}

std::string AddressText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

}  // namespace

Server::~Server() {
  if (listener_ >= 0) close(listener_);
}

bool Server::Listen(const ServerOptions& options, std::string* error) {
  options_ = options;
  char site[PATH_MAX];
  if (realpath(options.siteDirectory.c_str(), site) == nullptr) {
    *error = "cannot find the site directory " + options.siteDirectory;
    return false;
  }
  realSite_ = site;
  g_services.site_ = site;
  g_pages.Start(g_services, error);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options.port);
  if (inet_pton(AF_INET, options.bindAddress.c_str(), &address.sin_addr) != 1) {
    *error = "not an IPv4 address: " + options.bindAddress;
    return false;
  }
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  if (listener_ < 0 || setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 64) != 0) {
    *error = std::string("cannot listen: ") + std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  return true;
}

bool Server::Run(int stopDescriptor) {
  while (true) {
    pollfd waiting[2] = {{listener_, POLLIN, 0}, {stopDescriptor, POLLIN, 0}};
    if (poll(waiting, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (waiting[1].revents != 0) break;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int socket =
        accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (socket < 0) {
      // Out of descriptors or memory: give the connections in progress time to end.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      continue;
    }
    if (!StartServing(socket, AddressText(peer))) {
      Connection busy(socket);
      SendStatusPage(busy, 503, "Too many connections; try again.", false);
    }
  }
  close(listener_);
  listener_ = -1;
  return WaitForConnections();
}

bool Server::StartServing(int socket, std::string remoteAddress) {
  const std::lock_guard lock(mutex_);
  if (active_.size() >= options_.maxConnections) return false;
  try {
    std::thread(&Server::Serve, this, socket, std::move(remoteAddress)).detach();
  } catch (const std::system_error&) {
    return false;
  }
  active_.insert(socket);
  return true;
}

// Wakes connections waiting for a request and waits for all to end.
bool Server::WaitForConnections() {
  std::unique_lock lock(mutex_);
  for (const int socket : active_) shutdown(socket, SHUT_RD);
  return idle_.wait_for(lock, kShutdownWait, [this] { return active_.empty(); });
}

void Server::Forget(int socket) {
  const std::lock_guard lock(mutex_);
  active_.erase(socket);
  if (active_.empty()) idle_.notify_all();
}

void Server::Serve(int socket, std::string remoteAddress) {
  {
    Connection connection(socket);
    const HeadRead head = connection.ReadHead(options_.headTimeout);
    const RequestOrigin origin = {options_.bindAddress, port_, std::move(remoteAddress), ""};
    Outcome outcome;
    switch (head.outcome) {
      case HeadOutcome::kRequest:
        outcome = Route(connection, head.request, origin, realSite_);
        break;
      case HeadOutcome::kMalformed:
        outcome = Refuse(connection, 400, "The request is malformed.", false);
        break;
      case HeadOutcome::kTooLarge:
        outcome = Refuse(connection, 431, "The request head is too large.", false);
        break;
      case HeadOutcome::kTimedOut:
        if (head.gotBytes) outcome = Refuse(connection, 408, "The request took too long.", false);
        break;
      case HeadOutcome::kClosed:
        break;
    }
    if (head.outcome == HeadOutcome::kRequest) {
      std::fprintf(stderr, "vellum-host: %s %s %s %d %zu\n", origin.remoteAddress.c_str(),
                   head.request.method.c_str(), head.request.target.c_str(), outcome.status,
                   outcome.bytes);
    }
    connection.Finish();
    Forget(socket);  // before the socket closes, while its number is still ours
  }
}

}  // namespace host
