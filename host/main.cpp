// vellum-host [--port N] [--bind ADDR] [--read-timeout SECONDS] SITE_DIR
//
// Serves SITE_DIR over HTTP/1.1: GET or HEAD of a .js file runs it as a page script
// (see host/page_script.h), other files are sent as they are. Prints
// "listening on http://ADDR:PORT/" once it accepts connections (port 0 picks a free
// port) and stops cleanly on SIGTERM or SIGINT. A client has --read-timeout seconds
// (10 by default) to send its request head. Exit status 2 for bad usage, 1 when it
// cannot listen.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/server.h"
#include "platform/com/activation.h"

namespace {

int g_stopWriter = -1;

void RequestStop(int) {
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = write(g_stopWriter, &byte, 1);
}

// A pipe that becomes readable when SIGTERM or SIGINT arrives; its read end.
int InstallStopSignals() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  g_stopWriter = ends[1];
  struct sigaction action {};
  action.sa_handler = RequestStop;
  action.sa_flags = SA_RESTART;  // other calls carry on; the accept loop polls the pipe
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return ends[0];
}

// A decimal number from `low` to `high`.
bool ParseNumber(std::string_view text, unsigned low, unsigned high, unsigned* number) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < low || value > high) return false;
  *number = value;
  return true;
}

bool ParseArguments(int argc, char** argv, host::ServerOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    unsigned number = 0;
    if (argument == "--port" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 0, 65535, &number)) return false;
      options->port = static_cast<uint16_t>(number);
    } else if (argument == "--read-timeout" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 1, 3600, &number)) return false;
      options->headTimeout = std::chrono::seconds(number);
    } else if (argument == "--bind" && i + 1 < argc) {
      options->bindAddress = argv[++i];
    } else if (!argument.starts_with("--") && options->siteDirectory.empty()) {
      options->siteDirectory = argument;
    } else {
      return false;
    }
  }
  return !options->siteDirectory.empty();
}

}  // namespace

int main(int argc, char** argv) {
  host::ServerOptions options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: vellum-host [--port N] [--bind ADDR] [--read-timeout SECONDS] SITE_DIR\n");
    return 2;
  }
  const int stopReader = InstallStopSignals();
  if (stopReader < 0) return 1;
  host::Server server;
  std::string error;
  if (!server.Listen(options, &error)) {
    std::fprintf(stderr, "vellum-host: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening on http://%s:%u/\n", options.bindAddress.c_str(), server.Port());
  std::fflush(stdout);
  const bool allEnded = server.Run(stopReader);
  std::fprintf(stderr, "vellum-host: stopped\n");
  if (!allEnded) {
    // A page still running cannot be stopped; leave without waiting for it.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  CoFreeUnusedLibraries();
  return 0;
}
