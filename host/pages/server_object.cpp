#include "host/pages/server_object.h"

#include "platform/com/activation.h"
#include "script/hresult_text.h"
#include "script/registration_hint.h"

namespace pages {

namespace {

constexpr const char16_t* kSource = u"Server object";
constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendEscaped(std::string& text, unsigned char byte) {
  text += '%';
  text += kHexDigits[byte >> 4];
  text += kHexDigits[byte & 15];
}

HRESULT StoreText(std::string_view text, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = RequestText(text);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// Applies an encoding to a script's text.
template <typename Encode>
HRESULT Encoded(BSTR text, BSTR* out, Encode encode) {
  const std::optional<std::string> bytes = ScriptText(text);
  if (!bytes) return Fail(E_INVALIDARG, kSource, u"The text is not valid UTF-16.");
  return StoreText(encode(*bytes), out);
}

class ServerObject final : public ComObject<PageDispatch<IPageServer, &PageServerInterface>> {
 public:
  explicit ServerObject(IUnknown* outer) : ComObject(outer) {}

  void Attach(std::shared_ptr<const PageScope> scope, ServerServices* services) {
    scope_ = std::move(scope);
    services_ = services;
  }

  HRESULT CreateObject(BSTR progId, IDispatch** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(object));
    }
    if (FAILED(hr)) {
      const std::string name = ScriptText(progId).value_or("?");
      const std::string text =
          hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG
              ? script::UnregisteredClassText(name)
              : "Server.CreateObject cannot make '" + name + "': " + HresultText(hr);
      BSTR description = RequestText(text);
      Fail(hr, kSource, BstrView(description));
      SysFreeString(description);
    }
    return hr;
  }
  HRESULT MapPath(BSTR path, BSTR* file) override {
    const std::optional<std::string> text = ScriptText(path);
    if (!text) return Fail(E_INVALIDARG, kSource, u"The path is not valid UTF-16.");
    std::string mapped;
    const HRESULT hr = services_->MapPath(*text, &mapped);
    return FAILED(hr) ? hr : StoreText(mapped, file);
  }
  HRESULT HTMLEncode(BSTR text, BSTR* out) override { return Encoded(text, out, HtmlEncode); }
  HRESULT URLEncode(BSTR text, BSTR* out) override { return Encoded(text, out, UrlEncode); }
  HRESULT URLPathEncode(BSTR text, BSTR* out) override { return Encoded(text, out, UrlPathEncode); }
  HRESULT get_ScriptTimeout(LONG* seconds) override {
    return StoreOut(seconds, services_->ScriptTimeout());
  }
  HRESULT put_ScriptTimeout(LONG seconds) override { return services_->SetScriptTimeout(seconds); }
  HRESULT Execute(BSTR path) override { return Run(path, false); }
  HRESULT Transfer(BSTR path) override { return Run(path, true); }
  HRESULT GetLastError(IPageError** error) override {
    const ComPtr<IPageError> last = services_->LastError();
    if (!last) return E_OUTOFMEMORY;
    return HandOut(last, error);
  }

 private:
  HRESULT Run(BSTR path, bool transfer) {
    const std::optional<std::string> text = ScriptText(path);
    if (!text) return Fail(E_INVALIDARG, kSource, u"The path is not valid UTF-16.");
    return services_->Execute(*text, transfer);
  }

  ServerServices* services_ = nullptr;
};

class ErrorObject final : public ComObject<DispatchImpl<IPageError, &PageErrorInterface>> {
 public:
  explicit ErrorObject(IUnknown* outer) : ComObject(outer) {}

  PageErrorFacts facts;

  HRESULT get_ASPCode(BSTR* code) override { return StoreText("", code); }
  HRESULT get_Number(LONG* number) override { return StoreOut(number, facts.number); }
  HRESULT get_Source(BSTR* source) override { return StoreText(facts.source, source); }
  HRESULT get_Category(BSTR* category) override { return StoreText(facts.category, category); }
  HRESULT get_File(BSTR* file) override { return StoreText(facts.file, file); }
  HRESULT get_Line(LONG* line) override { return StoreOut(line, static_cast<LONG>(facts.line)); }
  HRESULT get_Column(LONG* column) override {
    return StoreOut(column, static_cast<LONG>(facts.column));
  }
  HRESULT get_Description(BSTR* description) override {
    return StoreText(facts.description, description);
  }
  HRESULT get_ASPDescription(BSTR* description) override { return StoreText("", description); }
};

}  // namespace

std::string HtmlEncode(std::string_view text) {
  std::string encoded;
  encoded.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        encoded += "&amp;";
        break;
      case '<':
        encoded += "&lt;";
        break;
      case '>':
        encoded += "&gt;";
        break;
      case '"':
        encoded += "&quot;";
        break;
      case '\'':
        encoded += "&#39;";
        break;
      default:
        encoded += c;
    }
  }
  return encoded;
}

std::string UrlEncode(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '*') {
      encoded += c;
    } else if (c == ' ') {
      encoded += '+';
    } else {
      AppendEscaped(encoded, static_cast<unsigned char>(c));
    }
  }
  return encoded;
}

std::string UrlPathEncode(std::string_view text) {
  const size_t query = text.find('?');
  std::string encoded;
  for (const char c : text.substr(0, query)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F ||
        std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) {
      AppendEscaped(encoded, byte);
    } else {
      encoded += c;
    }
  }
  if (query != std::string_view::npos) encoded += text.substr(query);
  return encoded;
}

ComPtr<IPageServer> MakeServerObject(std::shared_ptr<const PageScope> scope,
                                     ServerServices* services) {
  const ComPtr<ServerObject> made = MakeObject<ServerObject, IPageServer>();
  if (!made) return nullptr;
  made->Attach(std::move(scope), services);
  return ComPtr<IPageServer>(made.Get());
}

ComPtr<IPageError> MakeErrorObject(const PageErrorFacts& facts) {
  const ComPtr<ErrorObject> made = MakeObject<ErrorObject, IPageError>();
  if (!made) return nullptr;
  made->facts = facts;
  return ComPtr<IPageError>(made.Get());
}

}  // namespace pages
