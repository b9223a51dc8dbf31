// vellum-host run as a process of its own, on a free port unless told otherwise, with
// a private registry; its standard error goes to a file.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

class HostProcess {
 public:
  // Starts `program` with the arguments (which name the site and, usually, --port 0)
  // and waits for its "listening on URL" line.
  HostProcess(const std::string& program, const std::vector<std::string>& arguments,
              const std::string& registry, const std::string& errorFile);
  // Stops it as Stop does.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  int Port() const { return port_; }
  const std::string& FirstLine() const { return firstLine_; }
  pid_t Pid() const { return pid_; }

  // Sends a signal (the process keeps running until it chooses to end).
  void Signal(int number) const;
  // Waits for the process to end, at most `seconds` (then kills it); its exit status,
  // or -1 when it did not exit by itself.
  int Wait(int seconds = 30);
  // SIGTERM, then Wait.
  int Stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = -1;
  std::string firstLine_;
};

// Whether the condition holds within `milliseconds` (checked every few milliseconds):
// for what a server does just after it answered, such as writing its logs.
bool Eventually(const std::function<bool()>& condition, int milliseconds = 5000);

}  // namespace testing_support
