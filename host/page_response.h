// The Response of a page: an IResponse over the client's connection.
//
// Buffered (the default), output is held until the page ends and then sent with its
// length. Unbuffered, the head goes out at the first write and the body follows as it
// is written, in chunks (close-delimited for an HTTP/1.0 client). Once the head is out,
// the buffering, the content type and the headers can no longer change.
#pragma once

#include <string>
#include <string_view>

#include "host/connection.h"
#include "host/http_response.h"
#include "platform/web/web_context.h"

namespace host {

// The most output a buffered page may hold.
constexpr size_t kMaxBufferedBytes = 64 * 1024 * 1024;

class PageResponse final : public ComObject<DispatchImpl<IResponse, &web::ResponseInterface>> {
 public:
  explicit PageResponse(IUnknown* outer) : ComObject(outer) {}

  // A response to a request over `connection`, which must outlive the page; with
  // `headOnly` the body is dropped; `chunked` when the client speaks HTTP/1.1.
  static ComPtr<PageResponse> Make(Connection* connection, bool headOnly, bool chunked);

  HRESULT get_Buffer(VARIANT_BOOL* buffered) override;
  HRESULT put_Buffer(VARIANT_BOOL buffered) override;
  HRESULT get_ContentType(BSTR* type) override;
  HRESULT put_ContentType(BSTR type) override;
  HRESULT AddHeader(BSTR name, BSTR value) override;
  HRESULT BinaryWrite(VARIANT data) override;
  HRESULT Clear() override;
  HRESULT get_IsClientConnected(VARIANT_BOOL* connected) override;
  HRESULT Write(BSTR text) override;

  // After the page ran: sends what is held and ends the response. The object is cut
  // from the connection afterwards (late calls fail).
  void End();
  // After the page failed: a 500 page with the error text when nothing went out yet;
  // otherwise the response is left unfinished so the client sees it broken off.
  void Fail(std::string_view errorText);

  int Status() const { return status_; }
  size_t BodyBytes() const { return bodyBytes_; }

 private:
  HRESULT Output(std::string_view bytes);
  HRESULT RefuseOnceSent();
  void SendHead(bool withLength);
  void SendBody(std::string_view bytes);

  Connection* connection_ = nullptr;
  bool headOnly_ = false;
  bool chunked_ = false;
  bool buffered_ = true;
  bool headSent_ = false;
  std::string contentType_ = "text/html";
  HeaderList headers_;
  std::string held_;
  int status_ = 200;
  size_t bodyBytes_ = 0;
};

}  // namespace host
