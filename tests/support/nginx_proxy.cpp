#include "tests/support/nginx_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/oracle.h"
#include "tests/support/picture_compare.h"

namespace testing_support {

namespace {

// The upstream block of the shipped file, its server lines replaced by ours.
std::string UpstreamBlock(const std::vector<int>& hostPorts) {
  std::istringstream shipped(ReadFileText(SourcePath("packaging/nginx/vellum-upstream.conf")));
  std::string block;
  std::string line;
  while (std::getline(shipped, line)) {
    const std::string trimmed = line.substr(std::min(line.find_first_not_of(" \t"), line.size()));
    if (trimmed.starts_with("server ")) continue;
    if (trimmed.starts_with("upstream ")) {
      block += line + "\n";
      for (const int port : hostPorts) {
        block += "    server 127.0.0.1:" + std::to_string(port) + " max_fails=1 fail_timeout=5s;\n";
      }
      continue;
    }
    block += line + "\n";
  }
  return block;
}

bool Accepts(int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected =
      connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(socket);
  return connected;
}

}  // namespace

int FreePort() {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(socket);
  return port;
}

NginxProxy::NginxProxy(const std::vector<int>& hostPorts) {
  const std::string dir = directory_.Path().string();
  const int port = FreePort();
  std::string config = "daemon off;\nmaster_process on;\nworker_processes 1;\n";
  config += "pid " + dir + "/nginx.pid;\nerror_log " + dir + "/error.log info;\n";
  if (geteuid() == 0) config += "user root;\n";  // the workers may read this folder
  config += "events { worker_connections 1024; }\nhttp {\n";
  config += "  access_log " + dir + "/access.log;\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    config += "  " + std::string(temp) + "_temp_path " + dir + "/" + temp + ";\n";
  }
  config += UpstreamBlock(hostPorts);
  config += "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n";
  config += "    location / { include " + SourcePath("packaging/nginx/vellum-proxy.conf") +
            "; }\n  }\n}\n";
  std::ofstream(dir + "/nginx.conf") << config;

  pid_ = fork();
  if (pid_ == 0) {
    execl("/usr/sbin/nginx", "nginx", "-p", dir.c_str(), "-c", (dir + "/nginx.conf").c_str(), "-e",
          (dir + "/error.log").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int wait = 0; wait < 100; ++wait) {
    if (Accepts(port)) {
      port_ = port;
      return;
    }
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

NginxProxy::~NginxProxy() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string NginxProxy::ErrorLog() const { return ReadFileText(directory_.File("error.log")); }
std::string NginxProxy::AccessLog() const { return ReadFileText(directory_.File("access.log")); }

}  // namespace testing_support
