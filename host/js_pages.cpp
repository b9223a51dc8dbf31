#include "host/js_pages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "host/page_request.h"
#include "host/page_response.h"
#include "host/status_pages.h"
#include "platform/kernel/file_descriptor.h"
#include "platform/web/web_context.h"
#include "script/script_globals.h"
#include "script/script_values.h"

namespace host {

namespace {

constexpr size_t kMaxScriptBytes = 4 * 1024 * 1024;

// The whole script file; nothing when it cannot be read or is too large.
std::optional<std::string> ReadScript(const std::string& path) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.Get() < 0 || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<uint64_t>(status.st_size) > kMaxScriptBytes) {
    return std::nullopt;
  }
  std::string source(static_cast<size_t>(status.st_size), '\0');
  size_t done = 0;
  while (done < source.size()) {
    const ssize_t got = read(file.Get(), source.data() + done, source.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  source.resize(done);
  return source;
}

// Runs the script with the page's context current; the failure when it threw.
std::optional<ScriptFailure> RunPageScript(std::string_view source, const std::string& fileName,
                                           IDispatch* response, IDispatch* request) {
  const ComPtr<IObjectContext> context = web::MakePageContext(response, request);
  if (!context) return ScriptFailure{fileName, 0, "cannot make the page's context", ""};
  const web::ObjectContextScope page(context.Get());
  duk_context* ctx = script::CreateHeap();
  if (ctx == nullptr) return ScriptFailure{fileName, 0, "cannot make a script heap", ""};
  script::DefineCommonGlobals(ctx, stderr);
  script::PushAutomationObject(ctx, response);
  duk_put_global_string(ctx, "Response");
  script::PushAutomationObject(ctx, request);
  duk_put_global_string(ctx, "Request");
  std::optional<ScriptFailure> failure;
  if (!script::RunSource(ctx, source, fileName.c_str())) {
    script::ErrorReport report = script::ErrorReportOf(ctx);
    failure = ScriptFailure{report.file.empty() ? fileName : report.file, report.line,
                            std::move(report.message), std::move(report.stack)};
  }
  duk_destroy_heap(ctx);  // releases every object the page still holds, in this context
  return failure;
}

}  // namespace

bool JsPageHandler::IsPage(std::string_view realPath) const { return realPath.ends_with(".js"); }

std::vector<std::string> JsPageHandler::IndexNames() const { return {"index.js"}; }

bool JsPageHandler::Start(HostServices& services, std::string*) {
  services_ = &services;
  return true;
}

void JsPageHandler::Serve(RequestRecord& request, ResponseSink& sink) {
  const std::optional<std::string> source = ReadScript(request.scriptFile);
  const ComPtr<PageResponse> response = PageResponse::Make(&sink);
  const ComPtr<PageRequest> page = PageRequest::Make(request);
  std::optional<ScriptFailure> failure;
  if (!source) {
    failure = ScriptFailure{request.scriptName, 0, "The page script cannot be read.", ""};
  } else if (!response || !page) {
    failure = ScriptFailure{request.scriptName, 0, "Out of memory.", ""};
  } else {
    failure = RunPageScript(*source, request.scriptName, response.Get(), page.Get());
  }
  if (!failure) {
    response->End();
    return;
  }
  const std::string incident = services_->LogScriptFailure(request, *failure);
  if (!response || response->Abandon()) {
    SendHtmlPage(sink, 500, ScriptFailurePage(*failure, incident, services_->Development()));
  }
}

}  // namespace host
