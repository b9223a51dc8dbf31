#include "tests/support/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace testing_support {

namespace {

std::string ReadLine(int descriptor) {
  std::string line;
  char c = 0;
  pollfd ready = {descriptor, POLLIN, 0};
  while (poll(&ready, 1, 20000) > 0 && read(descriptor, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace

HostProcess::HostProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& registry, const std::string& errorFile) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(err, STDERR_FILENO);
    setenv("VELLUM_REGISTRY", registry.c_str(), 1);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  firstLine_ = ReadLine(out[0]);
  close(out[0]);
  const size_t colon = firstLine_.rfind(':');
  if (firstLine_.starts_with("listening on http://") && colon != std::string::npos) {
    port_ = std::atoi(firstLine_.c_str() + colon + 1);
  }
}

HostProcess::~HostProcess() { Stop(); }

void HostProcess::Signal(int number) const {
  if (pid_ > 0) kill(pid_, number);
}

int HostProcess::Wait(int seconds) {
  if (pid_ <= 0) return status_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (ended == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    status_ = -1;
  } else {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_ = -1;
  return status_;
}

bool Eventually(const std::function<bool()>& condition, int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int HostProcess::Stop() {
  Signal(SIGTERM);
  return Wait();
}

}  // namespace testing_support
