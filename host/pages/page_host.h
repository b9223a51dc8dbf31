// The .asp page layer: runs a site's pages for the HTTP engine (a PageHandler). It
// keeps the site's templates, its Application state and its sessions, runs
// global.asa's events, and answers each request for a page on the engine's worker
// thread.
//
// A page runs in a fresh script heap with the intrinsic objects Request, Response,
// Server, Application and Session as globals, under a time limit (Server.ScriptTimeout)
// and a cap on its heap. A page that fails, or passes a limit, is logged and answered
// with a 500 page (the site's error page when it has one, with Server.GetLastError),
// or cut off when its output already went out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/exchange.h"
#include "host/page_handler.h"

namespace pages {

struct PageOptions {
  std::chrono::seconds scriptTimeout{90};        // Server.ScriptTimeout's default
  size_t maxScriptHeapBytes = 64 * 1024 * 1024;  // per page (0: no cap)
  size_t maxBufferBytes = 64 * 1024 * 1024;      // buffered output per page
  std::chrono::seconds sessionTimeout{20 * 60};  // Session.Timeout's default
  size_t maxSessions = 100000;
  std::string errorPage;  // site path of the page for failed pages ("" for the host's own)
  // Strict errors for the site's pages (script::SetStrictErrors): an editing call that
  // appends to an object's ErrorDescription throws. A page's StrictErrors directive wins.
  bool strictErrors = false;
};

// What a failed page reports.
struct PageFailure {
  std::string page;      // the site path of the page requested
  std::string category;  // "Script error", "Page template", "Time limit", "Memory limit", ...
  std::string file;      // the site path of the file at fault
  int line = 0;
  std::string description;
  std::string source;  // the text of the failing line
  std::string stack;   // the script's call stack, in site paths and lines
  // "file, line N: description"
  std::string Text() const;
};

struct SiteState;

class PageHost final : public host::PageHandler {
 public:
  explicit PageHost(PageOptions options);
  ~PageHost() override;  // stops
  PageHost(const PageHost&) = delete;
  PageHost& operator=(const PageHost&) = delete;

  // .asp files; a folder runs its index.asp (or default.asp).
  bool IsPage(std::string_view realPath) const override;
  std::vector<std::string> IndexNames() const override;
  // Takes the site and the logs from the host and starts expiring sessions.
  bool Start(host::HostServices& services, std::string* error) override;
  // Ends every session (Session_OnEnd), then the application (Application_OnEnd).
  void Stop() override;
  // Runs the page the request names and sends its response into `sink`. Called on the
  // engine's workers, any number at once.
  void Serve(host::RequestRecord& request, host::ResponseSink& sink) override;

  // The number of live sessions.
  size_t SessionCount() const;

 private:
  void ExpireSessions();

  PageOptions options_;
  std::unique_ptr<SiteState> site_;
  std::mutex stopMutex_;
  std::condition_variable stopping_;
  bool stopped_ = true;
  std::thread sweeper_;
};

}  // namespace pages
