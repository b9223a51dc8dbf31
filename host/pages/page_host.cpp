#include "host/pages/page_host.h"

#include <climits>
#include <cstdlib>

#include "host/pages/page_run.h"

namespace pages {

namespace {

constexpr auto kSweepInterval = std::chrono::seconds(1);

// The site path of the page a request names: the engine's scriptName, or else the
// request's path, with the page the engine chose for a folder ("/" runs /index.asp),
// or the file's own place when the path does not lead to it (a symbolic link).
std::string PagePathOf(const host::RequestRecord& request, const SiteFiles& files) {
  if (!request.scriptName.empty()) return request.scriptName;
  std::string path =
      request.path.empty() || request.path[0] != '/' ? "/" + request.path : request.path;
  if (path.back() == '/') {
    const size_t slash = request.scriptFile.rfind('/');
    path += slash == std::string::npos ? "index.asp" : request.scriptFile.substr(slash + 1);
  }
  if (request.scriptFile.empty()) return path;
  std::string real;
  std::string error;
  if (files.Resolve(path, &real, &error) && real == request.scriptFile) return path;
  const std::string own = files.SitePathOf(request.scriptFile);
  return own.empty() ? path : own;
}

}  // namespace

PageHost::PageHost(PageOptions options) : options_(std::move(options)) {}

PageHost::~PageHost() { Stop(); }

bool PageHost::IsPage(std::string_view realPath) const {
  return realPath.size() >= 4 && SameName(realPath.substr(realPath.size() - 4), ".asp");
}

std::vector<std::string> PageHost::IndexNames() const { return {"index.asp", "default.asp"}; }

bool PageHost::Start(host::HostServices& services, std::string* error) {
  char real[PATH_MAX];
  if (realpath(services.SiteRoot().c_str(), real) == nullptr) {
    *error = "cannot find the site folder " + services.SiteRoot();
    return false;
  }
  if (!options_.errorPage.empty() &&
      (options_.errorPage[0] != '/' || !IsPage(options_.errorPage))) {
    *error = "the error page must be an .asp page's path in the site, as /errors/500.asp";
    return false;
  }
  const std::lock_guard held(stopMutex_);
  if (!stopped_) return true;
  site_ = std::make_unique<SiteState>(real, options_, &services);
  stopped_ = false;
  sweeper_ = std::thread([this] {
    std::unique_lock waiting(stopMutex_);
    while (!stopping_.wait_for(waiting, kSweepInterval, [this] { return stopped_; })) {
      waiting.unlock();
      ExpireSessions();
      waiting.lock();
    }
  });
  return true;
}

void PageHost::Serve(host::RequestRecord& request, host::ResponseSink& sink) {
  PageRun run(*site_, &request, &sink);
  run.Serve(PagePathOf(request, site_->files));
}

void PageHost::ExpireSessions() {
  for (const std::shared_ptr<SessionState>& session : site_->sessions.TakeExpired()) {
    EndSession(*site_, session);
  }
}

void PageHost::Stop() {
  {
    const std::lock_guard held(stopMutex_);
    if (stopped_) return;
    stopped_ = true;
  }
  stopping_.notify_all();
  sweeper_.join();
  for (const std::shared_ptr<SessionState>& session : site_->sessions.TakeAll()) {
    EndSession(*site_, session);
  }
  bool ending = false;
  {
    const std::lock_guard held(site_->startMutex);
    ending = site_->applicationStarted && site_->events.applicationOnEnd;
    site_->applicationStarted = false;
  }
  if (ending) {
    PageRun event(*site_, nullptr, nullptr);
    PageFailure failure;
    if (!event.RunEvent("Application_OnEnd", nullptr, &failure, nullptr)) site_->Log(failure);
  }
  site_->applicationValues->RemoveAll();
}

size_t PageHost::SessionCount() const { return site_ ? site_->sessions.Count() : 0; }

}  // namespace pages
