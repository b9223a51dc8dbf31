// Debian's nginx on a free loopback port in front of page hosts, with the proxy
// settings the project ships (packaging/nginx): the upstream block of
// vellum-upstream.conf with its server lines replaced by the hosts given, and
// vellum-proxy.conf for every request. Whatever else the upstream block says (the
// balancing, the keep-alive) is kept, so a test through this proxy tests that file.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace testing_support {

class NginxProxy {
 public:
  explicit NginxProxy(const std::vector<int>& hostPorts);
  // Stops nginx.
  ~NginxProxy();
  NginxProxy(const NginxProxy&) = delete;
  NginxProxy& operator=(const NginxProxy&) = delete;

  // 0 when nginx did not start (ErrorLog says why).
  int Port() const { return port_; }
  std::string ErrorLog() const;
  std::string AccessLog() const;

 private:
  TempDir directory_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreePort();

}  // namespace testing_support
