#include "host/page_script.h"

#include "platform/web/web_context.h"
#include "script/script_globals.h"
#include "script/script_values.h"

namespace host {

std::optional<std::string> RunPageScript(std::string_view source, const std::string& fileName,
                                         IDispatch* response, IDispatch* request) {
  const ComPtr<IObjectContext> context = web::MakePageContext(response, request);
  if (!context) return "cannot make the page's context";
  const web::ObjectContextScope page(context.Get());
  duk_context* ctx = script::CreateHeap();
  if (ctx == nullptr) return "cannot make a script heap";
  script::DefineCommonGlobals(ctx, stderr);
  script::PushAutomationObject(ctx, response);
  duk_put_global_string(ctx, "Response");
  script::PushAutomationObject(ctx, request);
  duk_put_global_string(ctx, "Request");
  std::optional<std::string> error;
  if (!script::RunSource(ctx, source, fileName.c_str())) error = script::ErrorText(ctx);
  duk_destroy_heap(ctx);  // releases every object the page still holds, in this context
  return error;
}

}  // namespace host
