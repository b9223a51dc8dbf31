#include "host/page_request.h"

#include "host/request_target.h"
#include "platform/kernel/code_page.h"
#include "script/script_values.h"

namespace host {

namespace {

std::string Uppercase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '-') c = '_';
  }
  return upper;
}

// Request texts are UTF-8 as a rule; stray bytes are kept as the script engine keeps them.
BSTR RequestText(std::string_view text) { return AllocBstr(script::EngineTextToUtf16(text)); }

// The name part of a Host header ("name:port", "[v6]:port").
std::string HostName(std::string_view host) {
  const size_t colon = host.rfind(':');
  if (colon != std::string_view::npos && host.find(']', colon) == std::string_view::npos) {
    host = host.substr(0, colon);
  }
  return std::string(host);
}

class ServerVariables final
    : public ComObject<DispatchImpl<IRequestDictionary, &web::RequestDictionaryInterface>> {
 public:
  explicit ServerVariables(IUnknown* outer) : ComObject(outer) {}

  std::map<std::string, std::string> values;

  // Keys are matched without regard to case; an unknown key is empty.
  HRESULT get_Item(VARIANT key, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    VariantClear(value);
    Variant name;
    if (FAILED(VariantChangeType(&name, &key, 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
    const auto found = values.find(Uppercase(Utf16ToUtf8(BstrView(name.bstrVal)).value_or("")));
    if (found == values.end()) return S_OK;
    value->bstrVal = RequestText(found->second);
    if (value->bstrVal == nullptr) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
  }
};

}  // namespace

std::map<std::string, std::string> ServerVariablesOf(const RequestRecord& request) {
  std::map<std::string, std::string> values;
  for (const auto& [name, value] : request.headers)
    values.emplace("HTTP_" + Uppercase(name), value);
  const std::optional<std::string_view> host = request.Header("host");
  values["SCRIPT_NAME"] = request.scriptName;
  values["QUERY_STRING"] = request.query;
  values["REQUEST_METHOD"] = request.method;
  values["SERVER_NAME"] = host && !host->empty() ? HostName(*host) : request.localAddress;
  values["SERVER_PORT"] = std::to_string(request.localPort);
  values["REMOTE_ADDR"] = request.remoteAddress;
  values["PATH_TRANSLATED"] = request.scriptFile;
  return values;
}

ComPtr<PageRequest> PageRequest::Make(const RequestRecord& request) {
  ComPtr<IRequest> made;
  ComPtr<IRequestDictionary> variables;
  if (FAILED(CreateComObject<PageRequest>(nullptr, IID_IRequest, made.ReceiveVoid())) ||
      FAILED(CreateComObject<ServerVariables>(nullptr, IID_IRequestDictionary,
                                              variables.ReceiveVoid()))) {
    return nullptr;
  }
  static_cast<ServerVariables*>(variables.Get())->values = ServerVariablesOf(request);
  ComPtr<PageRequest> page(static_cast<PageRequest*>(made.Get()));
  page->variables_ = variables;
  page->query_ = request.query;
  return page;
}

HRESULT PageRequest::get_ServerVariables(IRequestDictionary** variables) {
  if (variables == nullptr) return E_POINTER;
  *variables = variables_.Get();
  (*variables)->AddRef();
  return S_OK;
}

HRESULT PageRequest::get_QueryString(BSTR name, BSTR* value) {
  if (value == nullptr) return E_POINTER;
  const std::optional<std::string> key = Utf16ToUtf8(BstrView(name));
  *value = RequestText(key ? QueryParameter(query_, *key) : "");
  return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace host
