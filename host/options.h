// The host's options: one table drives the command line, the configuration file and
// --help. A new option is one field here and one row in options.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// Half the machine's memory in whole MiB: the default budget of image memory.
uint64_t HalfThePhysicalMemory();

struct HostOptions {
  std::string site;  // the site's folder
  std::string bind = "127.0.0.1";
  unsigned port = 8080;
  bool development = false;
  std::string accessLog = "-";  // a file, "-" for standard output, "" for none
  std::string errorLog = "-";   // a file, "-" for standard error
  unsigned workers = 0;         // threads that run pages; 0: one per processor
  unsigned backlog = 256;       // requests that may wait for a worker
  // "per-connection": a thread for each connection; "pool": engineThreads threads serve
  // every connection (see docs/decisions.md for the measurements behind the default).
  std::string connectionThreads = "per-connection";
  unsigned engineThreads = 2;
  unsigned maxConnections = 1024;
  unsigned maxConnectionsPerAddress = 64;  // 0: no cap
  uint64_t maxHeadBytes = 16 * 1024;
  uint64_t maxBodyBytes = 16 * 1024 * 1024;
  unsigned headTimeout = 10;       // seconds for a request head, from its first byte
  unsigned bodyTimeout = 60;       // seconds for a request body
  unsigned keepAliveTimeout = 15;  // seconds an idle connection stays open
  unsigned sendTimeout = 60;       // seconds for sending one response
  unsigned stopTimeout = 10;       // seconds requests in flight get at a stop
  // Names (shell patterns matched against every segment of a path) never sent.
  std::vector<std::string> deny = {".*",    "*.db",  "*.sqlite", "*.sqlite3",
                                   "*.inc", "*.asa", "*.conf",   "*.ini"};
  // Peers whose X-Forwarded-For and X-Forwarded-Proto are believed (see forwarded.h).
  std::vector<std::string> trustedProxies = {"127.0.0.1", "::1"};
  // Pages (see docs/pages.md).
  unsigned scriptTimeout = 90;               // seconds a page may run
  uint64_t scriptMemory = 64 * 1024 * 1024;  // bytes a page's script heap may hold
  unsigned sessionTimeout = 20 * 60;         // seconds a session lasts unused
  unsigned maxSessions = 100000;
  std::string errorPage;  // the site's page for failed pages
  // An editing call that appends to an object's ErrorDescription throws (a page's
  // StrictErrors directive overrides it).
  bool strictErrors = false;
  // What the components may do for pages (see ApplyComponentLimits in main.cpp).
  unsigned maxPixels = 100'000'000;                // decoded pixels per image; 0: no limit
  std::string dataFolder;                          // besides the site, where pages' files may be
  uint64_t imageMemory = HalfThePhysicalMemory();  // bytes all images hold; 0: no budget
  unsigned imageMemoryWait = 10;                   // seconds an image waits for room in the budget
  // Threads one big imaging operation may use (VELLUM_THREADS); 0: one per processor.
  unsigned imagingThreads = 0;
  std::string configFile;  // the configuration file read, if any
};

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kError };
  Action action = Action::kRun;
  std::string error;  // with kError
};

// Reads the configuration file named by --config (if any), then the command line over
// it: `--name VALUE`, `--name=VALUE`, switches as `--name`, the site as the one
// argument that is no option.
CommandLine ParseCommandLine(int argc, const char* const* argv, HostOptions* options);

// Reads `name = value` lines (an optional [host] section; ';' and '#' comments) into
// the options; false with the file, line and reason in `error`.
bool ReadConfigFile(const std::string& path, HostOptions* options, std::string* error);

// "usage: vellum-host [OPTION...] SITE_DIR", what a refused command line is told.
std::string_view UsageLine();

// The usage text: every option with its meaning and default.
std::string HelpText();

}  // namespace host
