// One run of page script: a request for a page, or one of global.asa's events. A run
// owns the script heap, the intrinsic objects and the request's session; it answers
// what Server, Response and Session ask of the page (paths, time limit, other pages,
// ending, the session).
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/exchange.h"
#include "host/pages/page_host.h"
#include "host/pages/page_state.h"
#include "host/pages/request_object.h"
#include "host/pages/response_object.h"
#include "host/pages/server_object.h"
#include "host/pages/site_files.h"
#include "script/script_heap.h"

namespace pages {

// The handlers global.asa defines.
struct GlobalEvents {
  bool sessionOnStart = false;
  bool sessionOnEnd = false;
  bool applicationOnEnd = false;
};

// What every run of a site shares.
struct SiteState {
  SiteState(std::string root, PageOptions pageOptions, host::HostServices* hostServices);

  // Logs a failure under a new incident number, which it returns; `request` is the
  // request it broke (null for global.asa's events).
  std::string Log(const PageFailure& failure, const host::RequestRecord* request = nullptr);

  PageOptions options;
  host::HostServices* services;
  SiteFiles files;
  TemplateCache templates;
  std::shared_ptr<ValueStore> applicationValues = std::make_shared<ValueStore>();
  std::shared_ptr<ApplicationLock> applicationLock = std::make_shared<ApplicationLock>();
  ComPtr<IPageApplication> application;
  SessionTable sessions;

  std::mutex startMutex;  // guards the two below while the application starts
  bool applicationStarted = false;
  GlobalEvents events;
};

// The site path of global.asa.
inline const std::string kGlobalFile = "/global.asa";

// Where a script run stands while it executes (the native calls of a template read it).
struct ScriptFrame;

class PageRun final : public PageControl, public SessionSource, public ServerServices {
 public:
  // A run for `request`, answering into `sink`; both null for an event.
  PageRun(SiteState& site, const host::RequestRecord* request, host::ResponseSink* sink);
  ~PageRun();
  PageRun(const PageRun&) = delete;
  PageRun& operator=(const PageRun&) = delete;

  // Runs the page at `sitePath` for the request, answers it, and ends the request's
  // session use.
  void Serve(const std::string& sitePath);

  // Runs global.asa in a fresh heap, then its `handler` when it defines one (for a
  // session's events, with `session` as the Session). False with `failure` set when
  // the script failed; `events` receives the handlers global.asa defines.
  bool RunEvent(const char* handler, std::shared_ptr<SessionState> session, PageFailure* failure,
                GlobalEvents* events);

  // PageControl
  void EndPage() override;
  // SessionSource
  std::shared_ptr<SessionState> PageSession() override;
  // ServerServices
  HRESULT MapPath(std::string_view path, std::string* file) override;
  LONG ScriptTimeout() const override { return timeoutSeconds_; }
  HRESULT SetScriptTimeout(LONG seconds) override;
  HRESULT Execute(std::string_view path, bool transfer) override;
  ComPtr<IPageError> LastError() override;

  // For the native calls of templates.
  ResponseObject* Response() const { return response_.Get(); }
  // Defines the page's globals on an engine thread (called inside the engine).
  void DefineGlobals(duk_context* ctx, ScriptFrame* frame);
  // Records the error on top of the stack as the frame's failure (inside the engine).
  void RecordScriptError(duk_context* ctx, ScriptFrame* frame);

 private:
  bool MakeObjects();
  bool MakeHeap();
  bool RunScript(ScriptFrame* frame);
  std::shared_ptr<const PageTemplate> PageTemplateOf(const std::string& sitePath,
                                                     PageFailure* failure) const;
  bool RunTemplate(const std::string& sitePath, const std::shared_ptr<const PageTemplate>& page,
                   PageFailure* failure);
  bool StartApplication(PageFailure* failure);
  bool UseRequestSession(PageFailure* failure);
  bool StartSession(PageFailure* failure);
  void Answer(const PageFailure& failure);
  void SendOwnErrorPage(const PageFailure& failure, const std::string& incident);
  void EndRequestSession();
  PageFailure FailureOf(const ScriptFrame& frame) const;
  std::string SourceLine(const std::string& file, int line) const;
  std::string MapStack(const std::string& stack) const;
  static std::string MapMessageLine(const std::string& message, const PageTemplate& page,
                                    const std::string& pagePath);
  std::string CurrentPage() const;

  SiteState& site_;
  GlobalEvents events_;     // what global.asa defines, as the application started
  std::string scriptName_;  // the requested page's site path (empty for an event)
  const host::RequestRecord* request_;
  host::ResponseSink* sink_;
  std::shared_ptr<PageScope> scope_ = std::make_shared<PageScope>();
  std::unique_ptr<script::ScriptHeap> heap_;
  ComPtr<RequestObject> requestObject_;
  ComPtr<ResponseObject> response_;
  ComPtr<IPageServer> server_;
  ComPtr<IPageSession> sessionObject_;

  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point deadline_;
  LONG timeoutSeconds_;

  bool sessionsOn_ = true;
  bool strictErrors_ = false;
  std::shared_ptr<SessionState> session_;
  bool sessionFromRequest_ = false;  // the request's cookie named it
  bool sessionTurn_ = false;         // this run holds the session's turn (TakeTurn)
  std::vector<std::shared_ptr<SessionState>> pushedOut_;

  // The script runs in progress, innermost last (Server.Execute nests them).
  std::vector<ScriptFrame*> frames_;
  std::deque<std::unique_ptr<ScriptFrame>> framesMade_;
  // The templates this run compiled, by the name they were compiled under.
  std::map<std::string, std::shared_ptr<const PageTemplate>> compiled_;
  // The failure of a page run by Server.Execute: it fails the whole request.
  std::optional<PageFailure> nestedFailure_;
  std::optional<PageFailure> lastError_;  // what an error page reports
};

// Ends a session: its Session_OnEnd (when global.asa has one) and its values.
void EndSession(SiteState& site, const std::shared_ptr<SessionState>& session);

}  // namespace pages
