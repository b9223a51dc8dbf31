// vellum-host [OPTION...] SITE_DIR: the web page host (see --help and the README).
//
// Prints "listening on URL" once it accepts connections. SIGHUP reopens the logs;
// SIGTERM (or SIGINT) stops accepting and lets requests in flight finish for up to
// --stop-timeout seconds, then exits 0; a second one exits at once. Exit status 2 for
// bad usage, 1 when it cannot start.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/engine.h"
#include "host/logs.h"
#include "host/options.h"
#include "host/pages/page_host.h"
#include "platform/com/activation.h"
#include "platform/kernel/global_memory.h"
#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"
#include "platform/policy/pixel_limit.h"
#include "script/program_version.h"

namespace {

// Hands the components the limits the options set: the pixel limit, the folders their
// files may be in (the site and the data folder), the budget of image memory and the
// threads of one imaging operation. False with the reason when a folder cannot be allowed.
bool ApplyComponentLimits(const host::HostOptions& options, std::string* error) {
  std::vector<std::string> folders = {options.site};
  if (!options.dataFolder.empty()) folders.push_back(options.dataFolder);
  if (const DWORD code = policy::SetAllowedFolders(folders)) {
    *error = "cannot allow the site and data folders: " + SystemMessageText(code);
    return false;
  }
  policy::SetMaxImagePixels(options.maxPixels);
  SetGlobalMemoryBudget(options.imageMemory, std::chrono::seconds(options.imageMemoryWait));
  // The imaging core lives in the component modules, loaded later by the pages; it reads
  // VELLUM_THREADS when it is first asked. Set here, before any thread starts.
  if (options.imagingThreads == 0) {
    unsetenv("VELLUM_THREADS");
  } else {
    setenv("VELLUM_THREADS", std::to_string(options.imagingThreads).c_str(), 1);
  }
  return true;
}

int g_signalWriter = -1;

void ForwardSignal(int number) {
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const ssize_t written = write(g_signalWriter, &byte, 1);
}

// A pipe that receives a byte for every SIGTERM, SIGINT and SIGHUP; its read end.
int InstallSignals() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  g_signalWriter = ends[1];
  struct sigaction action {};
  action.sa_handler = ForwardSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return ends[0];
}

// The next signal, waiting at most `milliseconds` (-1: for ever); 0 when none came.
int NextSignal(int reader, int milliseconds) {
  pollfd ready = {reader, POLLIN, 0};
  if (poll(&ready, 1, milliseconds) <= 0) return 0;
  char byte = 0;
  return read(reader, &byte, 1) == 1 ? byte : 0;
}

// As many open files as the system lets us: every connection holds one or two.
void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// What the page layer takes from the host's options.
pages::PageOptions PageOptionsOf(const host::HostOptions& options) {
  pages::PageOptions page;
  page.scriptTimeout = std::chrono::seconds(options.scriptTimeout);
  page.maxScriptHeapBytes = options.scriptMemory;
  page.sessionTimeout = std::chrono::seconds(options.sessionTimeout);
  page.maxSessions = options.maxSessions;
  page.errorPage = options.errorPage;
  page.strictErrors = options.strictErrors;
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  host::HostOptions options;
  const host::CommandLine command = host::ParseCommandLine(argc, argv, &options);
  switch (command.action) {
    case host::CommandLine::Action::kHelp:
      std::fputs(host::HelpText().c_str(), stdout);
      return 0;
    case host::CommandLine::Action::kVersion:
      std::puts(script::VersionLine("vellum-host").c_str());
      return 0;
    case host::CommandLine::Action::kError:
      std::fprintf(stderr, "vellum-host: %s\n%s(vellum-host --help lists the options)\n",
                   command.error.c_str(), std::string(host::UsageLine()).c_str());
      return 2;
    case host::CommandLine::Action::kRun:
      break;
  }
  std::string error;
  if (!ApplyComponentLimits(options, &error)) {
    std::fprintf(stderr, "vellum-host: %s", error.c_str());
    return 2;
  }
  const int signals = InstallSignals();
  if (signals < 0) return 1;
  RaiseFileLimit();
  host::LogFile accessLog(options.accessLog, STDOUT_FILENO);
  host::LogFile errorLog(options.errorLog, STDERR_FILENO);
  if (!accessLog.Open(&error) || !errorLog.Open(&error)) {
    std::fprintf(stderr, "vellum-host: %s\n", error.c_str());
    return 1;
  }
  pages::PageHost pages(PageOptionsOf(options));
  host::Engine engine(options, pages, accessLog, errorLog);
  if (!engine.Start(&error)) {
    std::fprintf(stderr, "vellum-host: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening on %s\n", engine.Url().c_str());
  std::fflush(stdout);

  host::ErrorLog log(errorLog);
  while (true) {
    const int signal = NextSignal(signals, -1);
    if (signal == SIGTERM || signal == SIGINT) break;
    if (signal == SIGHUP) {
      accessLog.Reopen();
      errorLog.Reopen();
    }
  }
  log.Write("notice",
            "stopping: requests in flight get " + std::to_string(options.stopTimeout) + " s");
  engine.BeginStop();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.stopTimeout);
  while (!engine.Idle() && std::chrono::steady_clock::now() < deadline) {
    const int signal = NextSignal(signals, 50);
    if (signal == SIGHUP) {
      accessLog.Reopen();
      errorLog.Reopen();
    } else if (signal != 0) {
      log.Write("notice", "stopped at once on a second signal");
      std::_Exit(0);
    }
  }
  if (!engine.Finish()) {
    // A page still running cannot be stopped; leave without waiting for it.
    log.Write("notice", "stopped with pages still running");
    std::_Exit(0);
  }
  log.Write("notice", "stopped");
  CoFreeUnusedLibraries();
  return 0;
}
