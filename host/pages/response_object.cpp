#include "host/pages/response_object.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "host/pages/server_object.h"
#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"

namespace pages {

namespace {

constexpr const char16_t* kSource = u"Response object";

// A header text from a script: UTF-8, without the control characters that would let it
// break out of its line.
std::optional<std::string> HeaderText(BSTR text) {
  std::optional<std::string> bytes = ScriptText(text);
  if (!bytes) return std::nullopt;
  const bool safe = std::none_of(bytes->begin(), bytes->end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
  if (!safe) return std::nullopt;
  return bytes;
}

bool IsToken(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

// Headers that frame the response; the engine sets them itself.
bool IsFramingHeader(std::string_view name) {
  return SameName(name, "content-length") || SameName(name, "transfer-encoding") ||
         SameName(name, "connection");
}

std::string_view ReasonOf(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 422:
      return "Unprocessable Content";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

// A redirect target with spaces and bytes beyond ASCII %-escaped.
std::string LocationText(std::string_view url) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      text += '%';
      text += kDigits[byte >> 4];
      text += kDigits[byte & 15];
    } else {
      text += c;
    }
  }
  return text;
}

HRESULT StoreString(std::string_view text, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = RequestText(text);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// A date to a script: an automation date.
HRESULT StoreDate(std::optional<std::time_t> when, VARIANT* out) {
  if (out == nullptr) return E_POINTER;
  VariantClear(out);
  if (when) {
    out->vt = VT_DATE;
    out->date = static_cast<double>(*when) / 86400.0 + 25569.0;
  }
  return S_OK;
}

}  // namespace

std::string HttpDate(std::time_t when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[parts.tm_wday],
                parts.tm_mday, kMonths[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour,
                parts.tm_min, parts.tm_sec);
  return text;
}

std::optional<std::time_t> TimeOfDate(const VARIANT& date) {
  Variant value;
  if (FAILED(VariantChangeType(&value, &date, 0, VT_R8)) || !std::isfinite(value.dblVal)) {
    return std::nullopt;
  }
  // Automation dates count days from 30 December 1899; keep to years 1970 to 9999.
  const double seconds = std::round((value.dblVal - 25569.0) * 86400.0);
  if (seconds < 0 || seconds > 253402300799.0) return std::nullopt;
  return static_cast<std::time_t>(seconds);
}

std::string CookieValueText(std::string_view value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain =
        byte > 0x20 && byte < 0x7F && c != '"' && c != ',' && c != ';' && c != '\\' && c != '%';
    if (plain) {
      text += c;
    } else {
      text += '%';
      text += kDigits[byte >> 4];
      text += kDigits[byte & 15];
    }
  }
  return text;
}

class WriteCookieObject final
    : public ComObject<PageDispatch<IWriteCookie, &WriteCookieInterface>> {
 public:
  explicit WriteCookieObject(IUnknown* outer) : ComObject(outer) {}

  void Attach(std::shared_ptr<const PageScope> scope, std::string name, const bool* headSent) {
    scope_ = std::move(scope);
    name_ = std::move(name);
    headSent_ = headSent;
  }
  const std::string& Name() const { return name_; }

  // The Set-Cookie value.
  std::string HeaderValue() const {
    std::string text = name_ + "=" + CookieValueText(value_);
    if (expires_) text += "; Expires=" + HttpDate(*expires_);
    if (!domain_.empty()) text += "; Domain=" + domain_;
    text += "; Path=" + path_;
    if (secure_) text += "; Secure";
    if (httpOnly_) text += "; HttpOnly";
    if (!sameSite_.empty()) text += "; SameSite=" + sameSite_;
    return text;
  }

  HRESULT get_Item(BSTR* value) override { return StoreString(value_, value); }
  HRESULT put_Item(BSTR value) override { return SetText(value, &value_, false); }
  HRESULT get_Expires(VARIANT* when) override { return StoreDate(expires_, when); }
  HRESULT put_Expires(VARIANT when) override {
    if (*headSent_) return Refused();
    if (IsMissing(when)) {
      expires_.reset();
      return S_OK;
    }
    const std::optional<std::time_t> time = TimeOfDate(when);
    if (!time) return Fail(E_INVALIDARG, kSource, u"Expires takes a date (a Date object).");
    expires_ = time;
    return S_OK;
  }
  HRESULT get_Path(BSTR* path) override { return StoreString(path_, path); }
  HRESULT put_Path(BSTR path) override { return SetText(path, &path_, true); }
  HRESULT get_Domain(BSTR* domain) override { return StoreString(domain_, domain); }
  HRESULT put_Domain(BSTR domain) override { return SetText(domain, &domain_, true); }
  HRESULT get_Secure(VARIANT_BOOL* secure) override {
    return StoreOut(secure, secure_ ? VARIANT_TRUE : VARIANT_FALSE);
  }
  HRESULT put_Secure(VARIANT_BOOL secure) override { return SetFlag(secure, &secure_); }
  HRESULT get_HttpOnly(VARIANT_BOOL* httpOnly) override {
    return StoreOut(httpOnly, httpOnly_ ? VARIANT_TRUE : VARIANT_FALSE);
  }
  HRESULT put_HttpOnly(VARIANT_BOOL httpOnly) override { return SetFlag(httpOnly, &httpOnly_); }
  HRESULT get_SameSite(BSTR* mode) override { return StoreString(sameSite_, mode); }
  HRESULT put_SameSite(BSTR mode) override {
    if (*headSent_) return Refused();
    const std::optional<std::string> text = ScriptText(mode);
    for (const char* known : {"", "Lax", "Strict", "None"}) {
      if (text && SameName(*text, known)) {
        sameSite_ = known;
        return S_OK;
      }
    }
    return Fail(E_INVALIDARG, kSource, u"SameSite is \"Lax\", \"Strict\", \"None\" or \"\".");
  }

 private:
  static HRESULT Refused() {
    return Fail(E_FAIL, kSource, u"The HTTP headers are already written to the client.");
  }
  HRESULT SetText(BSTR text, std::string* target, bool attribute) {
    if (*headSent_) return Refused();
    const std::optional<std::string> bytes = ScriptText(text);
    const bool fits =
        bytes && (!attribute || std::none_of(bytes->begin(), bytes->end(), [](char c) {
          const auto byte = static_cast<unsigned char>(c);
          return byte < 0x20 || byte == 0x7F || c == ';';
        }));
    if (!fits) return Fail(E_INVALIDARG, kSource, u"The cookie's text is not valid.");
    *target = *bytes;
    return S_OK;
  }
  HRESULT SetFlag(VARIANT_BOOL value, bool* target) {
    if (*headSent_) return Refused();
    *target = value != VARIANT_FALSE;
    return S_OK;
  }

  std::string name_;
  std::string value_;
  std::optional<std::time_t> expires_;
  std::string path_ = "/";
  std::string domain_;
  bool secure_ = false;
  bool httpOnly_ = false;
  std::string sameSite_;
  const bool* headSent_ = nullptr;
};

class WriteCookiesObject final
    : public ComObject<PageDispatch<IWriteCookies, &WriteCookiesInterface>> {
 public:
  explicit WriteCookiesObject(IUnknown* outer) : ComObject(outer) {}

  void Attach(std::shared_ptr<const PageScope> scope, const bool* headSent) {
    scope_ = std::move(scope);
    headSent_ = headSent;
  }

  void AddHeaders(host::NameValueList& headers) const {
    for (const ComPtr<WriteCookieObject>& cookie : cookies_) {
      headers.emplace_back("Set-Cookie", cookie->HeaderValue());
    }
  }
  void Clear() { cookies_.clear(); }

  HRESULT get_Item(BSTR name, IWriteCookie** cookie) override {
    if (cookie == nullptr) return E_POINTER;
    *cookie = nullptr;
    const std::optional<std::string> text = ScriptText(name);
    if (!text || !IsToken(*text)) {
      return Fail(E_INVALIDARG, kSource, u"A cookie's name is a token (letters, digits, -_.).");
    }
    for (const ComPtr<WriteCookieObject>& one : cookies_) {
      if (SameName(one->Name(), *text)) return HandOut(one, cookie);
    }
    if (*headSent_) {
      return Fail(E_FAIL, kSource, u"The HTTP headers are already written to the client.");
    }
    const ComPtr<WriteCookieObject> made = MakeObject<WriteCookieObject, IWriteCookie>();
    if (!made) return E_OUTOFMEMORY;
    made->Attach(scope_, *text, headSent_);
    cookies_.push_back(made);
    return HandOut(made, cookie);
  }
  HRESULT get_Count(LONG* count) override {
    return StoreOut(count, static_cast<LONG>(cookies_.size()));
  }
  HRESULT get_Key(VARIANT index, VARIANT* name) override {
    if (name == nullptr) return E_POINTER;
    VariantClear(name);
    const std::optional<LONG> position = PositionOf(index);
    if (!position || *position < 1 || static_cast<size_t>(*position) > cookies_.size()) {
      return Fail(DISP_E_BADINDEX, kSource, u"There is no cookie at that position.");
    }
    name->bstrVal = RequestText(cookies_[static_cast<size_t>(*position - 1)]->Name());
    if (name->bstrVal == nullptr) return E_OUTOFMEMORY;
    name->vt = VT_BSTR;
    return S_OK;
  }
  HRESULT get__NewEnum(IUnknown** enumerator) override {
    std::vector<Variant> names(cookies_.size());
    for (size_t i = 0; i < cookies_.size(); ++i) {
      names[i].bstrVal = RequestText(cookies_[i]->Name());
      if (names[i].bstrVal == nullptr) return E_OUTOFMEMORY;
      names[i].vt = VT_BSTR;
    }
    return MakeValueEnumerator(std::move(names), enumerator);
  }

 private:
  std::vector<ComPtr<WriteCookieObject>> cookies_;
  const bool* headSent_ = nullptr;
};

ComPtr<ResponseObject> ResponseObject::Make(std::shared_ptr<const PageScope> scope,
                                            host::ResponseSink* sink, PageControl* control,
                                            size_t maxBufferBytes) {
  const ComPtr<ResponseObject> made = MakeObject<ResponseObject, IPageResponse>();
  const ComPtr<WriteCookiesObject> cookies = MakeObject<WriteCookiesObject, IWriteCookies>();
  if (!made || !cookies) return nullptr;
  cookies->Attach(scope, &made->headSent_);
  made->scope_ = std::move(scope);
  made->sink_ = sink;
  made->control_ = control;
  made->maxBufferBytes_ = maxBufferBytes;
  made->cookies_ = ComPtr<IWriteCookies>(cookies.Get());
  return made;
}

HRESULT ResponseObject::RefuseOnceSent() {
  return Fail(E_FAIL, kSource, u"The HTTP headers are already written to the client.");
}

HRESULT ResponseObject::get_Buffer(VARIANT_BOOL* buffered) {
  return StoreOut(buffered, buffered_ ? VARIANT_TRUE : VARIANT_FALSE);
}

HRESULT ResponseObject::put_Buffer(VARIANT_BOOL buffered) {
  if (headSent_) return RefuseOnceSent();
  buffered_ = buffered != VARIANT_FALSE;
  return S_OK;
}

HRESULT ResponseObject::get_ContentType(BSTR* type) { return StoreString(contentType_, type); }

HRESULT ResponseObject::put_ContentType(BSTR type) {
  if (headSent_) return RefuseOnceSent();
  std::optional<std::string> text = HeaderText(type);
  if (!text || text->empty()) return Fail(E_INVALIDARG, kSource, u"The content type is not valid.");
  contentType_ = std::move(*text);
  return S_OK;
}

HRESULT ResponseObject::AddHeader(BSTR name, BSTR value) {
  if (headSent_) return RefuseOnceSent();
  std::optional<std::string> nameText = HeaderText(name);
  std::optional<std::string> valueText = HeaderText(value);
  if (!nameText || !IsToken(*nameText) || !valueText) {
    return Fail(E_INVALIDARG, kSource, u"The header name or value is not valid.");
  }
  if (IsFramingHeader(*nameText)) {
    return Fail(E_INVALIDARG, kSource, u"The host sets this header itself.");
  }
  headers_.emplace_back(std::move(*nameText), std::move(*valueText));
  return S_OK;
}

HRESULT ResponseObject::BinaryWrite(VARIANT data) {
  SAFEARRAY* bytes = ByteArrayOf(data);
  if (bytes == nullptr) {
    return Fail(DISP_E_TYPEMISMATCH, kSource, u"BinaryWrite takes an array of bytes.");
  }
  return Output(
      std::string_view(static_cast<const char*>(bytes->pvData), SafeArrayElementCount(bytes)));
}

HRESULT ResponseObject::Write(BSTR text) {
  const std::optional<std::string> bytes = ScriptText(text);
  if (!bytes) return Fail(E_INVALIDARG, kSource, u"The text is not valid UTF-16.");
  return Output(*bytes);
}

HRESULT ResponseObject::WriteValue(VARIANT value) {
  Variant direct;
  HRESULT hr = VariantCopyInd(&direct, &value);
  if (FAILED(hr)) return hr;
  if (direct.vt == VT_EMPTY || direct.vt == VT_NULL) return S_OK;
  if (direct.vt == VT_BOOL) return Output(direct.boolVal != VARIANT_FALSE ? "true" : "false");
  hr = VariantChangeType(&direct, &direct, 0, VT_BSTR);
  if (FAILED(hr)) return Fail(hr, kSource, u"Write takes a value that converts to text.");
  return Write(direct.bstrVal);
}

HRESULT ResponseObject::Clear() {
  if (!buffered_ && headSent_) return RefuseOnceSent();
  held_.clear();
  return S_OK;
}

HRESULT ResponseObject::get_IsClientConnected(VARIANT_BOOL* connected) {
  const bool there = sink_ != nullptr && sink_->ClientConnected();
  return StoreOut(connected, there ? VARIANT_TRUE : VARIANT_FALSE);
}

HRESULT ResponseObject::get_Charset(BSTR* charset) { return StoreString(charset_, charset); }

HRESULT ResponseObject::put_Charset(BSTR charset) {
  if (headSent_) return RefuseOnceSent();
  std::optional<std::string> text = HeaderText(charset);
  if (!text || (!text->empty() && !IsToken(*text))) {
    return Fail(E_INVALIDARG, kSource, u"The character set is not valid.");
  }
  charset_ = std::move(*text);
  charsetSet_ = true;
  return S_OK;
}

HRESULT ResponseObject::get_Status(BSTR* status) {
  return StoreString(std::to_string(status_) + " " + reason_, status);
}

HRESULT ResponseObject::put_Status(BSTR status) {
  if (headSent_) return RefuseOnceSent();
  const std::optional<std::string> text = HeaderText(status);
  const bool numbered =
      text && text->size() >= 3 &&
      std::all_of(text->begin(), text->begin() + 3, [](char c) { return c >= '0' && c <= '9'; }) &&
      (text->size() == 3 || (*text)[3] == ' ');
  const int code = numbered ? std::stoi(text->substr(0, 3)) : 0;
  if (code < 100 || code > 599) {
    return Fail(E_INVALIDARG, kSource,
                u"Status is a code from 100 to 599 and its reason, as \"404 Not Found\".");
  }
  status_ = code;
  const std::string reason = text->size() > 4 ? text->substr(4) : std::string();
  reason_ = reason.empty() ? std::string(ReasonOf(code)) : reason;
  return S_OK;
}

HRESULT ResponseObject::Redirect(BSTR url) {
  if (headSent_) return RefuseOnceSent();
  const std::optional<std::string> target = HeaderText(url);
  if (!target || target->empty()) return Fail(E_INVALIDARG, kSource, u"The URL is not valid.");
  const std::string location = LocationText(*target);
  status_ = 302;
  reason_ = "Found";
  contentType_ = "text/html";
  headers_.emplace_back("Location", location);
  held_ =
      "<html><head><title>Object moved</title></head><body><h1>Object Moved</h1>"
      "This object may be found <a href=\"" +
      HtmlEncode(location) + "\">here</a>.</body></html>\n";
  Finish();
  control_->EndPage();
  return S_OK;
}

HRESULT ResponseObject::Flush() {
  if (done_) return S_OK;
  if (!headSent_) SendHead(std::nullopt);
  SendBody(held_);
  held_.clear();
  return S_OK;
}

HRESULT ResponseObject::End() {
  Finish();
  control_->EndPage();
  return S_OK;
}

HRESULT ResponseObject::get_Cookies(IWriteCookies** cookies) { return HandOut(cookies_, cookies); }

HRESULT ResponseObject::get_CacheControl(BSTR* value) { return StoreString(cacheControl_, value); }

HRESULT ResponseObject::put_CacheControl(BSTR value) {
  if (headSent_) return RefuseOnceSent();
  std::optional<std::string> text = HeaderText(value);
  if (!text) return Fail(E_INVALIDARG, kSource, u"The Cache-Control value is not valid.");
  cacheControl_ = std::move(*text);
  return S_OK;
}

HRESULT ResponseObject::get_Expires(LONG* minutes) { return StoreOut(minutes, expiresMinutes_); }

HRESULT ResponseObject::put_Expires(LONG minutes) {
  if (headSent_) return RefuseOnceSent();
  expiresMinutes_ = minutes;
  expires_ = std::time(nullptr) + static_cast<std::time_t>(minutes) * 60;
  return S_OK;
}

HRESULT ResponseObject::get_ExpiresAbsolute(VARIANT* when) { return StoreDate(expires_, when); }

HRESULT ResponseObject::put_ExpiresAbsolute(VARIANT when) {
  if (headSent_) return RefuseOnceSent();
  const std::optional<std::time_t> time = TimeOfDate(when);
  if (!time) return Fail(E_INVALIDARG, kSource, u"ExpiresAbsolute takes a date (a Date object).");
  expires_ = time;
  return S_OK;
}

HRESULT ResponseObject::Output(std::string_view bytes) {
  if (done_) return S_OK;  // after End or Redirect the page is stopping
  if (buffered_) {
    if (bytes.size() > maxBufferBytes_ - std::min(held_.size(), maxBufferBytes_)) {
      return Fail(E_OUTOFMEMORY, kSource,
                  u"The response buffer limit is exceeded: send large output with "
                  u"Response.Flush, or set Response.Buffer = false.");
    }
    held_.append(bytes);
    return S_OK;
  }
  if (!headSent_) SendHead(std::nullopt);
  SendBody(held_);
  held_.clear();
  SendBody(bytes);
  return S_OK;
}

std::string ResponseObject::EffectiveContentType() const {
  const bool textual = contentType_.compare(0, 5, "text/") == 0 || charsetSet_;
  if (charset_.empty() || !textual) return contentType_;
  std::string lower(contentType_);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  if (lower.find("charset=") != std::string::npos) return contentType_;
  return contentType_ + "; charset=" + charset_;
}

void ResponseObject::SendHead(std::optional<uint64_t> length) {
  host::NameValueList headers = {{"Content-Type", EffectiveContentType()}};
  if (!cacheControl_.empty()) headers.emplace_back("Cache-Control", cacheControl_);
  if (expires_) headers.emplace_back("Expires", HttpDate(*expires_));
  static_cast<WriteCookiesObject*>(cookies_.Get())->AddHeaders(headers);
  if (onHead_) onHead_(headers);
  headers.insert(headers.end(), headers_.begin(), headers_.end());
  headSent_ = true;
  sink_->SendHead(status_, reason_, headers, length);
}

void ResponseObject::SendBody(std::string_view bytes) {
  if (bytes.empty() || sink_->HeadOnly()) return;
  sink_->SendBody(bytes);
}

void ResponseObject::Finish() {
  if (done_) return;
  if (!headSent_) {
    SendHead(held_.size());
  }
  SendBody(held_);
  held_.clear();
  sink_->Finish();
  done_ = true;
}

bool ResponseObject::Reset(int status) {
  if (headSent_ || done_) return false;
  held_.clear();
  headers_.clear();
  static_cast<WriteCookiesObject*>(cookies_.Get())->Clear();
  buffered_ = true;
  status_ = status;
  reason_ = std::string(ReasonOf(status));
  contentType_ = "text/html";
  charset_ = "utf-8";
  charsetSet_ = false;
  cacheControl_ = "private";
  expires_.reset();
  return true;
}

void ResponseObject::CutOff() {
  held_.clear();
  done_ = true;
}

}  // namespace pages
