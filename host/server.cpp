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
#include "host/page_request.h"
#include "host/page_response.h"
#include "host/page_script.h"
#include "host/static_files.h"

namespace host {

namespace {

constexpr auto kShutdownWait = std::chrono::seconds(10);
constexpr size_t kMaxScriptBytes = 4 * 1024 * 1024;

struct Outcome {
  int status = 200;
  size_t bytes = 0;
};

// Runs the page script at `path` for the request; its response goes out on `connection`.
Outcome ServePage(Connection& connection, const HttpRequest& request, const RequestOrigin& origin,
                  const std::string& path) {
  const bool headOnly = request.method == "HEAD";
  std::string source;
  if (!ReadWholeFile(path, kMaxScriptBytes, &source)) {
    SendStatusPage(connection, 500, "The page script cannot be read.", headOnly);
    return {500, 0};
  }
  const ComPtr<PageResponse> response =
      PageResponse::Make(&connection, headOnly, request.minorVersion >= 1);
  RequestOrigin pageOrigin = origin;
  pageOrigin.scriptFile = path;
  const ComPtr<PageRequest> page = PageRequest::Make(request, pageOrigin);
  if (!response || !page) {
    SendStatusPage(connection, 500, "Out of memory.", headOnly);
    return {500, 0};
  }
  const std::optional<std::string> error =
      RunPageScript(source, request.path, response.Get(), page.Get());
  if (error) {
    std::fprintf(stderr, "vellum-host: %s: %s\n", request.path.c_str(), error->c_str());
    response->Fail(*error);
  } else {
    response->End();
  }
  return {response->Status(), response->BodyBytes()};
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
  if (path.ends_with(".js")) {
    if (!relative->empty()) return ServePage(connection, request, origin, path);
    HttpRequest index = request;  // the site's own address runs its index page
    index.path = "/index.js";
    return ServePage(connection, index, origin, path);
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
