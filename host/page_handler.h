// Where the page layer plugs into the host. The host owns HTTP, the site's files and
// the logs; it hands every request for a page to the page layer's handler on a worker
// thread, with the request complete (see host/exchange.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/exchange.h"

namespace host {

// A page script that failed, as the page layer describes it.
struct ScriptFailure {
  std::string file;     // the page's site path ("/thumb.asp")
  int line = 0;         // in `file`; 0 when unknown
  std::string message;  // the error's own text ("TypeError: ...")
  std::string stack;    // the script frames, one per line; may be empty
};

// What the host offers the page layer. Callable from any thread.
class HostServices {
 public:
  virtual ~HostServices() = default;

  // Development mode: failures are shown to the client in full.
  virtual bool Development() const = 0;
  // The site's real path.
  virtual const std::string& SiteRoot() const = 0;
  // Writes the failure (file, line, stack, the request's line and client) to the error
  // log under a new incident number, and returns that number.
  virtual std::string LogScriptFailure(const RequestRecord& request,
                                       const ScriptFailure& failure) = 0;
  // Writes one line to the error log.
  virtual void LogError(std::string_view message) = 0;
};

// The page layer. The host calls Start once before the first page, Serve for each
// request whose file IsPage claims (concurrently, on worker threads where a page may
// block for as long as it needs), and Stop once after the last page has ended.
class PageHandler {
 public:
  virtual ~PageHandler() = default;

  // Whether the file (a real path inside the site) is a page rather than a file to send.
  virtual bool IsPage(std::string_view realPath) const = 0;
  // The files tried, in order, for a request that names a folder of the site.
  virtual std::vector<std::string> IndexNames() const = 0;

  // Application start: false (with the reason) keeps the host from starting.
  virtual bool Start(HostServices& services, std::string* error) = 0;
  // Application end.
  virtual void Stop() = 0;

  // Runs the page and writes its response. A response that was never finished when
  // Serve returns is broken off (the client sees it incomplete); one that never even
  // began is answered with a 500 page.
  virtual void Serve(RequestRecord& request, ResponseSink& response) = 0;
};

}  // namespace host
