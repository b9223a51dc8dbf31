// The web page host: accepts connections on a TCP port and serves each on a thread of
// its own (up to a limit), running page scripts and sending the site's files.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

namespace host {

struct ServerOptions {
  std::string siteDirectory;
  std::string bindAddress = "127.0.0.1";
  uint16_t port = 0;  // 0: any free port
  size_t maxConnections = 32;
  // How long a client has to send its request head, from the moment it connected.
  std::chrono::seconds headTimeout{10};
};

class Server {
 public:
  Server() = default;
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Checks the site and starts listening; false with the reason in `error`.
  bool Listen(const ServerOptions& options, std::string* error);
  uint16_t Port() const { return port_; }

  // Accepts connections until `stopDescriptor` becomes readable, then waits a while
  // for the connections in progress. False when some were still running.
  bool Run(int stopDescriptor);

 private:
  // Serves the connection on a thread of its own; false when the host is at its limit.
  bool StartServing(int socket, std::string remoteAddress);
  void Serve(int socket, std::string remoteAddress);
  void Forget(int socket);
  bool WaitForConnections();

  ServerOptions options_;
  std::string realSite_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::set<int> active_;
};

}  // namespace host
