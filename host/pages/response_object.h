// Response: what the page sends, over the engine's ResponseSink.
//
// Buffered (the default), output is held until the page ends or calls Flush, and a
// page that ends with everything held is sent with its length. Unbuffered, the head
// goes out at the first output and the body follows as it is written. Once the head
// is out, the status, headers, cookies, content type and buffering can no longer
// change (E_FAIL, "The HTTP headers are already written to the client.").
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/exchange.h"
#include "host/pages/page_object.h"

namespace pages {

// Ends the running page from inside one of its calls (Response.End, Redirect).
class PageControl {
 public:
  virtual void EndPage() = 0;

 protected:
  ~PageControl() = default;
};

// HTTP dates ("Sun, 06 Nov 1994 08:49:37 GMT") and the automation dates scripts pass.
std::string HttpDate(std::time_t when);
std::optional<std::time_t> TimeOfDate(const VARIANT& date);

// A cookie's value with the characters a cookie cannot carry %-escaped (and '%').
std::string CookieValueText(std::string_view value);

class WriteCookieObject;

class ResponseObject final : public ComObject<PageDispatch<IPageResponse, &PageResponseInterface>> {
 public:
  explicit ResponseObject(IUnknown* outer) : ComObject(outer) {}

  // A response into `sink`, which (like `control`) must outlive `scope`. Buffered
  // output past `maxBufferBytes` fails.
  static ComPtr<ResponseObject> Make(std::shared_ptr<const PageScope> scope,
                                     host::ResponseSink* sink, PageControl* control,
                                     size_t maxBufferBytes);

  // IResponse
  HRESULT get_Buffer(VARIANT_BOOL* buffered) override;
  HRESULT put_Buffer(VARIANT_BOOL buffered) override;
  HRESULT get_ContentType(BSTR* type) override;
  HRESULT put_ContentType(BSTR type) override;
  HRESULT AddHeader(BSTR name, BSTR value) override;
  HRESULT BinaryWrite(VARIANT data) override;
  HRESULT Clear() override;
  HRESULT get_IsClientConnected(VARIANT_BOOL* connected) override;
  HRESULT Write(BSTR text) override;
  // IPageResponse
  HRESULT WriteValue(VARIANT value) override;
  HRESULT get_Charset(BSTR* charset) override;
  HRESULT put_Charset(BSTR charset) override;
  HRESULT get_Status(BSTR* status) override;
  HRESULT put_Status(BSTR status) override;
  HRESULT Redirect(BSTR url) override;
  HRESULT Flush() override;
  HRESULT End() override;
  HRESULT get_Cookies(IWriteCookies** cookies) override;
  HRESULT get_CacheControl(BSTR* value) override;
  HRESULT put_CacheControl(BSTR value) override;
  HRESULT get_Expires(LONG* minutes) override;
  HRESULT put_Expires(LONG minutes) override;
  HRESULT get_ExpiresAbsolute(VARIANT* when) override;
  HRESULT put_ExpiresAbsolute(VARIANT when) override;

  // For the page runner.
  // Sends bytes as the page's output (template text, <%= %>, Write).
  HRESULT Output(std::string_view bytes);
  // Called as the head is made, to add headers of its own (the session cookie).
  void OnHead(std::function<void(host::NameValueList&)> addHeaders) {
    onHead_ = std::move(addHeaders);
  }
  bool HeadSent() const { return headSent_; }
  // Sends what is held and completes the response.
  void Finish();
  // For an error page: drops what is held, the headers and cookies, and sets `status`;
  // false when the head already went out (the response can only be cut off then).
  bool Reset(int status);
  // Leaves the response incomplete, so the client sees it broken off.
  void CutOff();
  int Status() const { return status_; }

 private:
  HRESULT RefuseOnceSent();
  void SendHead(std::optional<uint64_t> length);
  void SendBody(std::string_view bytes);
  std::string EffectiveContentType() const;

  host::ResponseSink* sink_ = nullptr;
  PageControl* control_ = nullptr;
  size_t maxBufferBytes_ = 0;
  bool buffered_ = true;
  bool headSent_ = false;
  bool done_ = false;  // finished, cut off, or ended by the page
  std::string held_;
  int status_ = 200;
  std::string reason_ = "OK";
  std::string contentType_ = "text/html";
  std::string charset_ = "utf-8";
  bool charsetSet_ = false;
  std::string cacheControl_ = "private";
  std::optional<std::time_t> expires_;
  LONG expiresMinutes_ = 0;
  host::NameValueList headers_;
  ComPtr<IWriteCookies> cookies_;
  std::function<void(host::NameValueList&)> onHead_;
};

}  // namespace pages
