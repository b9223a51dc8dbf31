// Request: what the client sent, as the page reads it. The collections (QueryString,
// Form, Cookies, ServerVariables) are made once per request from the engine's record;
// Request itself and its files belong to the request's scope, as they read the
// record's bytes in place.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/exchange.h"
#include "host/pages/page_object.h"

namespace pages {

// Fields under their names: the names in the order they first came, each with every
// value sent under it. Names match without regard to ASCII case.
class FieldTable {
 public:
  FieldTable() = default;
  FieldTable(const host::NameValueList& fields, std::string whole);

  size_t Count() const { return names_.size(); }
  const std::string& NameAt(size_t index) const { return names_[index]; }
  const std::vector<std::string>& ValuesAt(size_t index) const { return values_[index]; }
  // The values of a name, or null when it was not sent.
  const std::vector<std::string>* Find(std::string_view name) const;
  // The collection as one text (the query as sent, the form body, ...).
  const std::string& Whole() const { return whole_; }

 private:
  std::vector<std::string> names_;
  std::vector<std::vector<std::string>> values_;
  std::string whole_;
};

// "a=1&b=x+y&a=%32": decoded pairs in order ('+' is a space; a broken escape stays
// as it is).
host::NameValueList ParseQuery(std::string_view query);
// A Cookie header ("a=1; b=%20x"): decoded pairs in order.
host::NameValueList ParseCookies(std::string_view header);

// What the page layer knows of a request beyond the engine's record.
struct RequestPlace {
  std::string scriptName;  // the page's path in the site, "/shop/photo.asp"
  std::string siteRoot;    // the site's real folder
};

// The CGI variables of a request: REQUEST_METHOD, SCRIPT_NAME, PATH_INFO, URL,
// PATH_TRANSLATED, QUERY_STRING, CONTENT_TYPE, CONTENT_LENGTH, REMOTE_ADDR,
// REMOTE_HOST, REMOTE_PORT, LOCAL_ADDR, SERVER_NAME, SERVER_PORT, SERVER_PROTOCOL,
// SERVER_SOFTWARE, HTTPS, SERVER_PORT_SECURE, GATEWAY_INTERFACE, APPL_PHYSICAL_PATH,
// AUTH_TYPE, AUTH_USER, LOGON_USER, REMOTE_USER, ALL_HTTP, ALL_RAW and HTTP_<NAME>
// for each header (a header sent twice joined with ", ").
host::NameValueList ServerVariablesOf(const host::RequestRecord& request,
                                      const RequestPlace& place);

class RequestObject final : public ComObject<PageDispatch<IPageRequest, &PageRequestInterface>> {
 public:
  explicit RequestObject(IUnknown* outer) : ComObject(outer) {}

  // The Request of `request`, which must outlive `scope`.
  static ComPtr<RequestObject> Make(std::shared_ptr<const PageScope> scope,
                                    const host::RequestRecord& request, const RequestPlace& place);

  // IRequest
  HRESULT get_ServerVariables(IRequestDictionary** variables) override;
  HRESULT get_QueryString(BSTR name, BSTR* value) override;
  // IPageRequest
  HRESULT get_QueryStringCollection(IRequestDictionary** collection) override;
  HRESULT get_Form(IRequestDictionary** collection) override;
  HRESULT get_Cookies(IRequestDictionary** collection) override;
  HRESULT get_Files(IUploadedFiles** files) override;
  HRESULT get_TotalBytes(LONG* bytes) override;
  HRESULT BinaryRead(LONG count, VARIANT* bytes) override;
  HRESULT get_Item(BSTR name, VARIANT* values) override;

 private:
  const host::RequestRecord* request_ = nullptr;
  ComPtr<IPageDictionary> serverVariables_;
  ComPtr<IPageDictionary> queryString_;
  ComPtr<IPageDictionary> form_;
  ComPtr<IPageDictionary> cookies_;
  ComPtr<IUploadedFiles> files_;
  size_t readPosition_ = 0;
};

}  // namespace pages
