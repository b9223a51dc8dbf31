#include "host/pages/page_run.h"

#include <algorithm>

#include "platform/com/error_info.h"
#include "platform/web/web_context.h"
#include "script/hresult_text.h"
#include "script/script_globals.h"
#include "script/script_values.h"

namespace pages {

// Where a script run stands. Plain data: the engine's native calls read it, and it
// is filled in from inside the engine's protected calls.
struct ScriptFrame {
  PageRun* run = nullptr;
  const PageTemplate* page = nullptr;
  std::string name;  // the site path it is compiled under
  bool newGlobals = false;
  const char* handler = nullptr;   // a global function to call after the script
  GlobalEvents* events = nullptr;  // filled with the handlers the script defines
  duk_context* ctx = nullptr;      // the engine thread it runs on
  // The outcome.
  bool ok = false;
  std::string message;
  std::string fileName;  // the compiled name the error points into
  std::string stack;
  int line = 0;
  HRESULT number = 0;
};

namespace {

constexpr const char* kFrameKey = DUK_HIDDEN_SYMBOL("frame");
constexpr const char* kSessionCookie = "VellumSession";
constexpr LONG kMaxScriptTimeout = 24 * 60 * 60;
constexpr size_t kMaxNesting = 8;  // pages run by Server.Execute inside each other

ScriptFrame* FrameOf(duk_context* ctx) {
  duk_push_current_function(ctx);
  duk_get_prop_string(ctx, -1, kFrameKey);
  auto* frame = static_cast<ScriptFrame*>(duk_get_pointer(ctx, -1));
  duk_pop_2(ctx);
  return frame;
}

// Sends bytes as the page's output; false with the error to throw pushed.
bool Emit(duk_context* ctx, ScriptFrame* frame, std::string_view bytes) {
  ResponseObject* response = frame->run->Response();
  if (response == nullptr) {
    duk_push_error_object(ctx, DUK_ERR_ERROR, "there is no response to write to here");
    return false;
  }
  const HRESULT hr = response->Output(bytes);
  if (SUCCEEDED(hr)) return true;
  ComPtr<IErrorInfo> info;
  Bstr description;
  if (GetErrorInfo(0, info.Receive()) == S_OK && info) info->GetDescription(description.Receive());
  script::PushAutomationError(ctx, hr, std::u16string(BstrView(description.Get())), "Response");
  return false;
}

bool EmitText(duk_context* ctx, duk_uint_t index) {
  ScriptFrame* frame = FrameOf(ctx);
  if (index >= frame->page->texts.size()) {
    duk_push_error_object(ctx, DUK_ERR_RANGE_ERROR, "no page text %lu",
                          static_cast<unsigned long>(index));
    return false;
  }
  return Emit(ctx, frame, frame->page->texts[index]);
}

// __vellum_text(k): the k-th stretch of page text.
duk_ret_t WriteText(duk_context* ctx) {
  const duk_uint_t index = duk_require_uint(ctx, 0);
  if (!EmitText(ctx, index)) return duk_throw(ctx);
  return 0;
}

bool EmitValue(duk_context* ctx) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, 0, &length);
  return Emit(ctx, FrameOf(ctx), script::EngineTextToUtf8(std::string_view(text, length)));
}

// __vellum_write(value): <%= value %>; undefined and null write nothing, an automation
// object writes its default value.
duk_ret_t WriteValue(duk_context* ctx) {
  if (duk_is_null_or_undefined(ctx, 0)) return 0;
  duk_to_string(ctx, 0);  // may throw: nothing of ours is alive yet
  if (!EmitValue(ctx)) return duk_throw(ctx);
  return 0;
}

void DefineObject(duk_context* ctx, IDispatch* object, const char* name) {
  if (object == nullptr) return;
  script::PushAutomationObject(ctx, object);
  duk_put_global_string(ctx, name);
}

void DefineTemplateCall(duk_context* ctx, duk_c_function function, const char* name,
                        ScriptFrame* frame) {
  duk_push_global_object(ctx);
  duk_push_string(ctx, name);
  duk_push_c_function(ctx, function, 1);
  duk_push_pointer(ctx, frame);
  duk_put_prop_string(ctx, -2, kFrameKey);
  // Fixed: a page cannot replace what its text is written with.
  duk_def_prop(ctx, -3,
               DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_WRITABLE |
                   DUK_DEFPROP_CLEAR_CONFIGURABLE | DUK_DEFPROP_CLEAR_ENUMERABLE);
  duk_pop(ctx);
}

bool IsGlobalFunction(duk_context* ctx, const char* name) {
  const bool found = duk_get_global_string(ctx, name) && duk_is_function(ctx, -1);
  duk_pop(ctx);
  return found;
}

// The body of a script run, inside the engine's protected call so that any failure of
// the engine (out of memory included) comes back as an error.
duk_ret_t RunFrame(duk_context* ctx, void* udata) {
  auto* frame = static_cast<ScriptFrame*>(udata);
  duk_context* target = ctx;
  if (frame->newGlobals) {
    duk_push_thread_new_globalenv(ctx);
    target = duk_get_context(ctx, -1);
  }
  frame->ctx = target;
  frame->run->DefineGlobals(target, frame);
  const std::string& script = frame->page->script;
  duk_push_lstring(target, frame->name.data(), frame->name.size());
  if (duk_pcompile_lstring_filename(target, 0, script.data(), script.size()) != 0 ||
      duk_pcall(target, 0) != DUK_EXEC_SUCCESS) {
    frame->run->RecordScriptError(target, frame);
    return 0;
  }
  duk_pop(target);
  if (frame->events != nullptr) {
    frame->events->sessionOnStart = IsGlobalFunction(target, "Session_OnStart");
    frame->events->sessionOnEnd = IsGlobalFunction(target, "Session_OnEnd");
    frame->events->applicationOnEnd = IsGlobalFunction(target, "Application_OnEnd");
  }
  if (frame->handler != nullptr) {
    if (duk_get_global_string(target, frame->handler) && duk_is_function(target, -1)) {
      if (duk_pcall(target, 0) != DUK_EXEC_SUCCESS) {
        frame->run->RecordScriptError(target, frame);
        return 0;
      }
    }
    duk_pop(target);
  }
  frame->ok = true;
  return 0;
}

bool EndsWithFolded(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && SameName(text.substr(text.size() - suffix.size()), suffix);
}

// A 500 answer straight into the sink, for when the page objects cannot be made.
void SendBareError(host::ResponseSink* sink) {
  if (sink == nullptr) return;
  const std::string body =
      "<!DOCTYPE html><title>500 Internal Server Error</title>"
      "<h1>Internal Server Error</h1><p>The page could not be run.</p>\n";
  if (sink->SendHead(500, "Internal Server Error", {{"Content-Type", "text/html; charset=utf-8"}},
                     body.size())) {
    sink->SendBody(body);
  }
  sink->Finish();
}

}  // namespace

std::string PageFailure::Text() const {
  std::string text = file.empty() ? page : file;
  if (line > 0) text += ", line " + std::to_string(line);
  return text + ": " + description;
}

SiteState::SiteState(std::string root, PageOptions pageOptions, host::HostServices* hostServices)
    : options(std::move(pageOptions)),
      services(hostServices),
      files(std::move(root)),
      templates(files),
      application(MakeApplication(applicationValues, applicationLock)),
      sessions(options.maxSessions, options.sessionTimeout) {}

std::string SiteState::Log(const PageFailure& failure, const host::RequestRecord* request) {
  host::RequestRecord event;
  if (request == nullptr) {
    event.path = failure.page;
    event.scriptName = failure.page;
  }
  host::ScriptFailure logged;
  logged.file = failure.file.empty() ? failure.page : failure.file;
  logged.line = failure.line;
  logged.message = failure.category + ": " + failure.description;
  if (failure.page != logged.file) logged.message += " (page " + failure.page + ")";
  logged.stack = failure.stack;
  return services->LogScriptFailure(request != nullptr ? *request : event, logged);
}

PageRun::PageRun(SiteState& site, const host::RequestRecord* request, host::ResponseSink* sink)
    : site_(site),
      request_(request),
      sink_(sink),
      timeoutSeconds_(static_cast<LONG>(site.options.scriptTimeout.count())),
      strictErrors_(site.options.strictErrors) {
  frames_.reserve(kMaxNesting + 2);
}

PageRun::~PageRun() {
  scope_->End();
  heap_.reset();
}

void PageRun::DefineGlobals(duk_context* ctx, ScriptFrame* frame) {
  script::DefineCommonGlobals(ctx, stderr);
  script::SetStrictErrors(ctx, strictErrors_);
  DefineObject(ctx, requestObject_.Get(), "Request");
  DefineObject(ctx, response_.Get(), "Response");
  DefineObject(ctx, server_.Get(), "Server");
  DefineObject(ctx, site_.application.Get(), "Application");
  if (sessionsOn_) DefineObject(ctx, sessionObject_.Get(), "Session");
  DefineTemplateCall(ctx, WriteText, "__vellum_text", frame);
  DefineTemplateCall(ctx, WriteValue, "__vellum_write", frame);
}

void PageRun::RecordScriptError(duk_context* ctx, ScriptFrame* frame) {
  duk_dup(ctx, -1);
  frame->message = script::EngineTextToUtf8(duk_safe_to_string(ctx, -1));
  duk_pop(ctx);
  if (duk_is_error(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "lineNumber");
    frame->line = duk_get_int(ctx, -1);
    duk_pop(ctx);
    duk_get_prop_string(ctx, -1, "fileName");
    frame->fileName = duk_is_string(ctx, -1) ? duk_get_string(ctx, -1) : "";
    duk_pop(ctx);
    duk_get_prop_string(ctx, -1, "stack");
    frame->stack = duk_is_string(ctx, -1) ? script::EngineTextToUtf8(duk_get_string(ctx, -1)) : "";
    duk_pop(ctx);
    duk_get_prop_string(ctx, -1, "number");
    frame->number = duk_is_number(ctx, -1) ? static_cast<HRESULT>(duk_get_int(ctx, -1)) : 0;
    duk_pop(ctx);
  }
  duk_pop(ctx);
}

bool PageRun::MakeObjects() {
  if (request_ != nullptr) {
    requestObject_ = RequestObject::Make(scope_, *request_, {CurrentPage(), site_.files.Root()});
    if (!requestObject_) return false;
  }
  if (sink_ != nullptr) {
    response_ = ResponseObject::Make(scope_, sink_, this, site_.options.maxBufferBytes);
    if (!response_) return false;
    response_->OnHead([this](host::NameValueList& headers) {
      if (!session_ || sessionFromRequest_ || session_->Abandoned()) return;
      std::string cookie =
          std::string(kSessionCookie) + "=" + session_->Id() + "; Path=/; HttpOnly; SameSite=Lax";
      if (request_ != nullptr && request_->secure) cookie += "; Secure";
      headers.emplace_back("Set-Cookie", std::move(cookie));
    });
  }
  server_ = MakeServerObject(scope_, this);
  sessionObject_ = MakeSessionObject(scope_, this);
  return server_ && sessionObject_ && site_.application;
}

bool PageRun::MakeHeap() {
  heap_.reset();
  heap_ = script::ScriptHeap::Create(site_.options.maxScriptHeapBytes);
  start_ = std::chrono::steady_clock::now();
  deadline_ = start_ + std::chrono::seconds(timeoutSeconds_);
  if (heap_) heap_->SetDeadline(deadline_);
  return heap_ != nullptr;
}

bool PageRun::RunScript(ScriptFrame* frame) {
  duk_context* on = frames_.empty() ? heap_->Context() : frames_.back()->ctx;
  frame->run = this;
  frames_.push_back(frame);
  const duk_int_t result = duk_safe_call(on, RunFrame, frame, 0, 1);
  duk_pop(on);
  frames_.pop_back();
  if (result != DUK_EXEC_SUCCESS && !frame->ok && frame->message.empty()) {
    frame->message = "the script could not be started (out of script memory)";
  }
  return frame->ok;
}

std::string PageRun::CurrentPage() const {
  if (!frames_.empty()) return frames_.back()->name;
  return scriptName_.empty() ? kGlobalFile : scriptName_;
}

PageFailure PageRun::FailureOf(const ScriptFrame& frame) const {
  PageFailure failure;
  failure.page = scriptName_.empty() ? kGlobalFile : scriptName_;
  failure.category = "Script error";
  failure.description = frame.message;
  if (frame.number != 0) failure.description += " (" + HresultText(frame.number) + ")";
  switch (heap_ ? heap_->Stopped() : script::StopReason::kNone) {
    case script::StopReason::kTimeLimit:
      failure.category = "Time limit";
      failure.description = "The page ran longer than its time limit of " +
                            std::to_string(timeoutSeconds_) + " seconds (Server.ScriptTimeout).";
      break;
    case script::StopReason::kMemoryLimit:
      failure.category = "Memory limit";
      failure.description = "The page's script used more than its " +
                            std::to_string(site_.options.maxScriptHeapBytes / (1024 * 1024)) +
                            " MiB of memory.";
      break;
    default:
      break;
  }
  const auto compiled = compiled_.find(frame.fileName.empty() ? frame.name : frame.fileName);
  if (compiled != compiled_.end() && frame.line > 0) {
    const SourcePosition where = compiled->second->Locate(frame.line);
    failure.file = where.file;
    failure.line = where.line;
    failure.source = SourceLine(where.file, where.line);
    failure.description = MapMessageLine(failure.description, *compiled->second, compiled->first);
  } else {
    failure.file = frame.name;
  }
  failure.stack = MapStack(frame.stack);
  return failure;
}

std::string PageRun::SourceLine(const std::string& file, int line) const {
  std::string content;
  std::string error;
  if (line <= 0 || !site_.files.Read(file, &content, &error)) return "";
  size_t start = 0;
  for (int i = 1; i < line && start != std::string::npos; ++i) {
    start = content.find('\n', start);
    if (start != std::string::npos) ++start;
  }
  if (start == std::string::npos) return "";
  std::string text = content.substr(start, content.find('\n', start) - start);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) {
    text.pop_back();
  }
  const size_t first = text.find_first_not_of(" \t");
  text = first == std::string::npos ? "" : text.substr(first);
  return text.size() > 200 ? text.substr(0, 200) + "..." : text;
}

// The engine's syntax errors say where in the compiled script they are ("parse error
// (line 7, end of input)"): that becomes the line of the page or include it came from.
std::string PageRun::MapMessageLine(const std::string& message, const PageTemplate& page,
                                    const std::string& pagePath) {
  constexpr std::string_view kLine = "(line ";
  const size_t at = message.find(kLine);
  if (at == std::string::npos) return message;
  const size_t digits = at + kLine.size();
  size_t end = digits;
  while (end < message.size() && end - digits < 9 && message[end] >= '0' && message[end] <= '9') {
    ++end;
  }
  if (end == digits) return message;
  const SourcePosition where = page.Locate(std::stoi(message.substr(digits, end - digits)));
  if (where.line <= 0) return message;
  const std::string file = where.file == pagePath ? "" : where.file + " ";
  return message.substr(0, at) + "(" + file + "line " + std::to_string(where.line) +
         message.substr(end);
}

// Stack lines name the compiled page and its script line ("at f (/a.asp:12)"); each is
// given the file and line of the page or include it came from.
std::string PageRun::MapStack(const std::string& stack) const {
  std::string mapped;
  size_t start = 0;
  while (start < stack.size()) {
    size_t end = stack.find('\n', start);
    if (end == std::string::npos) end = stack.size();
    std::string line = stack.substr(start, end - start);
    const size_t open = line.rfind('(');
    const size_t colon = line.rfind(':');
    const size_t close = line.find(')', colon == std::string::npos ? 0 : colon);
    if (open != std::string::npos && colon != std::string::npos && colon > open &&
        close != std::string::npos) {
      const auto compiled = compiled_.find(line.substr(open + 1, colon - open - 1));
      const std::string digits = line.substr(colon + 1, close - colon - 1);
      if (compiled != compiled_.end() && !digits.empty() &&
          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const SourcePosition where = compiled->second->Locate(std::stoi(digits.substr(0, 9)));
        line = line.substr(0, open + 1) + where.file + ":" + std::to_string(where.line) +
               line.substr(close);
      }
    }
    mapped += line + "\n";
    start = end + 1;
  }
  return mapped;
}

bool PageRun::RunTemplate(const std::string& sitePath,
                          const std::shared_ptr<const PageTemplate>& page, PageFailure* failure) {
  compiled_[sitePath] = page;
  framesMade_.push_back(std::make_unique<ScriptFrame>());
  ScriptFrame* frame = framesMade_.back().get();
  frame->page = page.get();
  frame->name = sitePath;
  if (RunScript(frame)) return true;
  if (nestedFailure_) {
    *failure = *nestedFailure_;
    return false;
  }
  if (heap_->Stopped() == script::StopReason::kEnded) return true;  // Response.End
  *failure = FailureOf(*frame);
  return false;
}

std::shared_ptr<const PageTemplate> PageRun::PageTemplateOf(const std::string& sitePath,
                                                            PageFailure* failure) const {
  TemplateError error;
  std::shared_ptr<const PageTemplate> page = site_.templates.Get(sitePath, false, &error);
  if (!page) {
    failure->page = scriptName_;
    failure->category = error.unsupportedLanguage ? "Page language" : "Page template";
    failure->file = error.where.file;
    failure->line = error.where.line;
    failure->description = error.message;
  }
  return page;
}

bool PageRun::StartApplication(PageFailure* failure) {
  const std::lock_guard held(site_.startMutex);
  if (!site_.applicationStarted) {
    std::string real;
    std::string problem;
    if (site_.files.Resolve(kGlobalFile, &real, &problem)) {
      PageRun event(site_, nullptr, nullptr);
      GlobalEvents events;
      if (!event.RunEvent("Application_OnStart", nullptr, failure, &events)) {
        failure->page = scriptName_;
        return false;
      }
      site_.events = events;
    }
    site_.applicationStarted = true;
  }
  events_ = site_.events;
  return true;
}

bool PageRun::StartSession(PageFailure* failure) {
  if (!sessionsOn_ || session_ || !events_.sessionOnStart) return true;
  if (!PageSession()) {
    failure->page = scriptName_;
    failure->category = "Session";
    failure->description = "No session could be started.";
    return false;
  }
  TemplateError error;
  const std::shared_ptr<const PageTemplate> global = site_.templates.Get(kGlobalFile, true, &error);
  if (!global) {
    *failure = {scriptName_, "global.asa", error.where.file, error.where.line, error.message, "",
                ""};
    return false;
  }
  compiled_[kGlobalFile] = global;
  framesMade_.push_back(std::make_unique<ScriptFrame>());
  ScriptFrame* frame = framesMade_.back().get();
  frame->page = global.get();
  frame->name = kGlobalFile;
  frame->newGlobals = true;
  frame->handler = "Session_OnStart";
  if (RunScript(frame)) return true;
  *failure = FailureOf(*frame);
  return false;
}

void PageRun::Serve(const std::string& sitePath) {
  scriptName_ = sitePath;
  if (!MakeObjects()) {
    PageFailure failure{sitePath, "Host", "", 0, "The page objects could not be made.", "", ""};
    site_.Log(failure, request_);
    SendBareError(sink_);
    return;
  }
  {
    const ComPtr<IObjectContext> context =
        web::MakePageContext(response_.Get(), requestObject_.Get());
    const web::ObjectContextScope inContext(context.Get());
    const WaitLimit limit(&deadline_);
    PageFailure failure;
    bool ok = StartApplication(&failure);
    std::shared_ptr<const PageTemplate> page;
    if (ok) ok = (page = PageTemplateOf(sitePath, &failure)) != nullptr;
    if (ok) {
      sessionsOn_ = page->sessionState;
      strictErrors_ = page->strictErrors.value_or(strictErrors_);
      ok = UseRequestSession(&failure) && MakeHeap();
      if (!ok && failure.category.empty()) {
        failure = {sitePath, "Host", "", 0, "The script heap could not be made.", "", ""};
      }
    }
    if (ok) ok = StartSession(&failure) && RunTemplate(sitePath, page, &failure);
    // Response.End (or Redirect) in Session_OnStart ends the request there.
    const bool ended = heap_ && heap_->Stopped() == script::StopReason::kEnded && !nestedFailure_;
    if (ok || ended) {
      response_->Finish();
    } else {
      Answer(failure);
    }
    site_.applicationLock->ReleaseHeldByThisThread();
    heap_.reset();  // releases what the page still holds, in its context
  }
  scope_->End();
  EndRequestSession();
}

bool PageRun::UseRequestSession(PageFailure* failure) {
  if (!sessionsOn_ || request_ == nullptr) return true;
  for (const auto& [name, value] : ParseCookies(request_->Header("cookie").value_or(""))) {
    if (name != kSessionCookie) continue;
    session_ = site_.sessions.Use(value);
    if (!session_) continue;
    // The wait is bounded by the page's time limit; the page's own time starts after it.
    const auto waitUntil = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
    if (!session_->TakeTurn(waitUntil)) {
      *failure = {scriptName_,
                  "Time limit",
                  scriptName_,
                  0,
                  "The page waited longer than its time limit of " +
                      std::to_string(timeoutSeconds_) +
                      " seconds for another page of its session to end.",
                  "",
                  ""};
      EndRequestSession();
      sessionsOn_ = false;  // nor does the error page use the session
      return false;
    }
    sessionTurn_ = true;
    // The page before it abandoned the session: this one starts a new one.
    if (!session_->Abandoned()) {
      sessionFromRequest_ = true;
      return true;
    }
    EndRequestSession();
  }
  return true;
}

void PageRun::Answer(const PageFailure& failure) {
  const std::string incident = site_.Log(failure, request_);
  if (!response_->Reset(500)) {
    response_->CutOff();
    return;
  }
  if (!site_.options.errorPage.empty() && !lastError_) {
    lastError_ = failure;
    nestedFailure_.reset();
    frames_.clear();
    PageFailure again;
    std::shared_ptr<const PageTemplate> page;
    if (MakeHeap() && (page = PageTemplateOf(site_.options.errorPage, &again)) &&
        RunTemplate(site_.options.errorPage, page, &again)) {
      response_->Finish();
      return;
    }
    again.page = site_.options.errorPage;
    site_.Log(again, request_);
    if (!response_->Reset(500)) {
      response_->CutOff();
      return;
    }
  }
  SendOwnErrorPage(failure, incident);
}

void PageRun::SendOwnErrorPage(const PageFailure& failure, const std::string& incident) {
  std::string body =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>500 Internal Server "
      "Error</title></head><body>\n<h1>Internal Server Error</h1>\n";
  if (site_.services->Development() || failure.category == "Page language") {
    body += "<p>" + HtmlEncode(failure.category) + " in " + HtmlEncode(failure.file);
    if (failure.line > 0) body += ", line " + std::to_string(failure.line);
    body += ":</p>\n<pre>" + HtmlEncode(failure.description) + "</pre>\n";
    if (site_.services->Development()) {
      if (!failure.source.empty()) body += "<pre>" + HtmlEncode(failure.source) + "</pre>\n";
      if (!failure.stack.empty()) body += "<pre>" + HtmlEncode(failure.stack) + "</pre>\n";
    }
  } else {
    body += "<p>The page could not be shown; the site's error log tells more under incident " +
            HtmlEncode(incident) + ".</p>\n";
  }
  body += "</body></html>\n";
  response_->Output(body);
  response_->Finish();
}

void PageRun::EndRequestSession() {
  if (session_) {
    // Done before the turn goes: a page waiting for an abandoned session then ends it
    // (Session_OnEnd) before it goes on.
    const std::shared_ptr<SessionState> ended = site_.sessions.Done(session_);
    if (std::exchange(sessionTurn_, false)) session_->GiveTurn();
    if (ended) EndSession(site_, ended);
    session_.reset();
  }
  for (const std::shared_ptr<SessionState>& ended : std::exchange(pushedOut_, {})) {
    site_.services->LogError("a session was ended early to make room for a new one (at most " +
                             std::to_string(site_.options.maxSessions) + " sessions)");
    EndSession(site_, ended);
  }
}

bool PageRun::RunEvent(const char* handler, std::shared_ptr<SessionState> session,
                       PageFailure* failure, GlobalEvents* events) {
  sessionsOn_ = session != nullptr;
  session_ = std::move(session);
  sessionFromRequest_ = true;
  TemplateError error;
  const std::shared_ptr<const PageTemplate> global = site_.templates.Get(kGlobalFile, true, &error);
  if (!global) {
    *failure = {kGlobalFile, "global.asa", error.where.file, error.where.line, error.message, "",
                ""};
    return false;
  }
  if (!MakeObjects() || !MakeHeap()) {
    *failure = {kGlobalFile, "Host", "", 0, "The script heap could not be made.", "", ""};
    return false;
  }
  const WaitLimit limit(&deadline_);
  compiled_[kGlobalFile] = global;
  framesMade_.push_back(std::make_unique<ScriptFrame>());
  ScriptFrame* frame = framesMade_.back().get();
  frame->page = global.get();
  frame->name = kGlobalFile;
  frame->handler = handler;
  frame->events = events;
  const bool ok = RunScript(frame);
  if (!ok) *failure = FailureOf(*frame);
  site_.applicationLock->ReleaseHeldByThisThread();
  heap_.reset();
  session_.reset();
  return ok;
}

void PageRun::EndPage() {
  if (heap_) heap_->Stop(script::StopReason::kEnded);
}

std::shared_ptr<SessionState> PageRun::PageSession() {
  if (!sessionsOn_) {
    Fail(E_FAIL, u"Session object",
         u"This page runs without session state (EnableSessionState=False).");
    return nullptr;
  }
  if (session_) return session_;
  if (response_) session_ = site_.sessions.Start(&pushedOut_);
  if (!session_) {
    Fail(E_FAIL, u"Session object", u"No session could be started.");
    return nullptr;
  }
  sessionTurn_ = session_->TakeTurn(deadline_);  // a new session: nobody else has it yet
  return session_;
}

HRESULT PageRun::MapPath(std::string_view path, std::string* file) {
  const std::optional<std::string> sitePath = ResolveSitePath(CurrentPage(), path);
  if (!sitePath) {
    return Fail(E_INVALIDARG, u"Server object", u"MapPath: the path leads out of the site.");
  }
  *file = site_.files.Root() + (*sitePath == "/" ? "" : *sitePath);
  return S_OK;
}

HRESULT PageRun::SetScriptTimeout(LONG seconds) {
  if (seconds < 1 || seconds > kMaxScriptTimeout) {
    return Fail(E_INVALIDARG, u"Server object", u"ScriptTimeout is from 1 to 86400 seconds.");
  }
  timeoutSeconds_ = seconds;
  deadline_ = start_ + std::chrono::seconds(seconds);
  if (heap_) heap_->SetDeadline(deadline_);
  return S_OK;
}

HRESULT PageRun::Execute(std::string_view path, bool transfer) {
  constexpr const char16_t* kSource = u"Server object";
  if (!response_ || !heap_) {
    return Fail(E_FAIL, kSource, u"Execute and Transfer run pages for a request.");
  }
  if (path.find('?') != std::string_view::npos) {
    return Fail(E_INVALIDARG, kSource, u"Execute and Transfer take a page without a query.");
  }
  const std::optional<std::string> target = ResolveSitePath(CurrentPage(), path);
  if (!target) return Fail(E_INVALIDARG, kSource, u"The path leads out of the site.");
  if (!EndsWithFolded(*target, ".asp")) {
    return Fail(E_INVALIDARG, kSource, u"Execute and Transfer run .asp pages.");
  }
  if (frames_.size() > kMaxNesting) {
    return Fail(E_FAIL, kSource, u"Pages run by Execute nest more than 8 deep.");
  }
  PageFailure failure;
  const std::shared_ptr<const PageTemplate> page = PageTemplateOf(*target, &failure);
  if (!page) {
    const std::string text = "Cannot run " + *target + ": " + failure.Text();
    BSTR description = RequestText(text);
    Fail(E_FAIL, kSource, BstrView(description));
    SysFreeString(description);
    return E_FAIL;
  }
  compiled_[*target] = page;
  framesMade_.push_back(std::make_unique<ScriptFrame>());
  ScriptFrame* frame = framesMade_.back().get();
  frame->page = page.get();
  frame->name = *target;
  frame->newGlobals = true;
  if (!RunScript(frame) && !nestedFailure_ && heap_->Stopped() != script::StopReason::kEnded) {
    // A failure of the page it runs fails the request, as a failure of this page would.
    nestedFailure_ = FailureOf(*frame);
    heap_->Stop(script::StopReason::kEnded);
  }
  if (transfer) EndPage();
  return S_OK;
}

ComPtr<IPageError> PageRun::LastError() {
  PageErrorFacts facts;
  if (lastError_) {
    facts.category = lastError_->category;
    facts.file = lastError_->file;
    facts.line = lastError_->line;
    facts.description = lastError_->description;
    facts.source = lastError_->source;
  }
  return MakeErrorObject(facts);
}

void EndSession(SiteState& site, const std::shared_ptr<SessionState>& session) {
  bool hasHandler = false;
  {
    const std::lock_guard held(site.startMutex);
    hasHandler = site.applicationStarted && site.events.sessionOnEnd;
  }
  if (hasHandler) {
    PageRun event(site, nullptr, nullptr);
    PageFailure failure;
    if (!event.RunEvent("Session_OnEnd", session, &failure, nullptr)) site.Log(failure);
  }
  session->Contents()->RemoveAll();
}

}  // namespace pages
