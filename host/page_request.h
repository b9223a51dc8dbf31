// The Request of a page: its server variables and its query parameters.
#pragma once

#include <map>
#include <string>

#include "host/exchange.h"
#include "platform/web/web_context.h"

namespace host {

// The server variables of a request: SCRIPT_NAME (the page's site path), QUERY_STRING,
// REQUEST_METHOD, SERVER_NAME (the Host header's name, else the address the client
// reached), SERVER_PORT, REMOTE_ADDR, PATH_TRANSLATED (the script's file), and
// HTTP_<NAME> for every header (upper case, '-' as '_').
std::map<std::string, std::string> ServerVariablesOf(const RequestRecord& request);

class PageRequest final : public ComObject<DispatchImpl<IRequest, &web::RequestInterface>> {
 public:
  explicit PageRequest(IUnknown* outer) : ComObject(outer) {}

  static ComPtr<PageRequest> Make(const RequestRecord& request);

  HRESULT get_ServerVariables(IRequestDictionary** variables) override;
  HRESULT get_QueryString(BSTR name, BSTR* value) override;

 private:
  ComPtr<IRequestDictionary> variables_;
  std::string query_;
};

}  // namespace host
