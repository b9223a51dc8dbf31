// The Request of a page: its server variables and its query parameters.
#pragma once

#include <map>
#include <string>

#include "host/http_request.h"
#include "platform/web/web_context.h"

namespace host {

// What the host knows about a request beyond its head.
struct RequestOrigin {
  std::string serverAddress;  // the address the host listens on
  int serverPort = 0;
  std::string remoteAddress;
  std::string scriptFile;  // the real path of the page script
};

// The server variables of a request: SCRIPT_NAME (the decoded path), QUERY_STRING,
// REQUEST_METHOD, SERVER_NAME (the Host header's name, else the listening address),
// SERVER_PORT, REMOTE_ADDR, PATH_TRANSLATED (the script's file), and HTTP_<NAME> for every header
// (upper case, '-' as '_').
std::map<std::string, std::string> ServerVariablesOf(const HttpRequest& request,
                                                     const RequestOrigin& origin);

class PageRequest final : public ComObject<DispatchImpl<IRequest, &web::RequestInterface>> {
 public:
  explicit PageRequest(IUnknown* outer) : ComObject(outer) {}

  static ComPtr<PageRequest> Make(const HttpRequest& request, const RequestOrigin& origin);

  HRESULT get_ServerVariables(IRequestDictionary** variables) override;
  HRESULT get_QueryString(BSTR name, BSTR* value) override;

 private:
  ComPtr<IRequestDictionary> variables_;
  std::string query_;
};

}  // namespace host
