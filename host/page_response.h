// The Response of a .js page: an IResponse over the host's ResponseSink.
//
// Buffered (the default), output is held until the page ends and then sent with its
// length. Unbuffered, the head goes out at the first write and the body follows as it
// is written (streamed). Once the head is out, the buffering, the content type and the
// headers can no longer change.
#pragma once

#include <string>
#include <string_view>

#include "host/exchange.h"
#include "platform/web/web_context.h"

namespace host {

// The most output a buffered page may hold.
constexpr size_t kMaxBufferedBytes = 64 * 1024 * 1024;

class PageResponse final : public ComObject<DispatchImpl<IResponse, &web::ResponseInterface>> {
 public:
  explicit PageResponse(IUnknown* outer) : ComObject(outer) {}

  // A response into `sink`, which must outlive the page.
  static ComPtr<PageResponse> Make(ResponseSink* sink);

  HRESULT get_Buffer(VARIANT_BOOL* buffered) override;
  HRESULT put_Buffer(VARIANT_BOOL buffered) override;
  HRESULT get_ContentType(BSTR* type) override;
  HRESULT put_ContentType(BSTR type) override;
  HRESULT AddHeader(BSTR name, BSTR value) override;
  HRESULT BinaryWrite(VARIANT data) override;
  HRESULT Clear() override;
  HRESULT get_IsClientConnected(VARIANT_BOOL* connected) override;
  HRESULT Write(BSTR text) override;

  // After the page ran: sends what is held and finishes the response. The object is
  // cut from the sink afterwards (late calls fail).
  void End();
  // After the page failed. True when nothing went out yet, so the caller may still
  // send a page of its own; otherwise the response is left unfinished (broken off).
  bool Abandon();

 private:
  HRESULT Output(std::string_view bytes);
  HRESULT RefuseOnceSent();
  void SendHead(bool withLength);
  void SendBody(std::string_view bytes);

  ResponseSink* sink_ = nullptr;
  bool buffered_ = true;
  bool headSent_ = false;
  std::string contentType_ = "text/html";
  NameValueList headers_;
  std::string held_;
};

}  // namespace host
