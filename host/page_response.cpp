#include "host/page_response.h"

#include <algorithm>

#include "platform/com/error_info.h"
#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"

namespace host {

namespace {

HRESULT Refuse(HRESULT result, const char16_t* description) {
  ReportErrorInfo(IID_IResponse, u"Response object", description);
  return result;
}

// A header text from a script: UTF-8, without the control characters that would let it
// break out of its line.
std::optional<std::string> HeaderText(BSTR text) {
  std::optional<std::string> bytes = Utf16ToUtf8(BstrView(text));
  if (!bytes) return std::nullopt;
  const bool safe = std::none_of(bytes->begin(), bytes->end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
  if (!safe) return std::nullopt;
  return bytes;
}

bool IsHeaderName(std::string_view name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

// Headers that frame the response; the host sets them itself.
bool IsFramingHeader(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower == "content-length" || lower == "transfer-encoding" || lower == "connection";
}

}  // namespace

ComPtr<PageResponse> PageResponse::Make(ResponseSink* sink) {
  ComPtr<IResponse> made;
  if (FAILED(CreateComObject<PageResponse>(nullptr, IID_IResponse, made.ReceiveVoid()))) {
    return nullptr;
  }
  ComPtr<PageResponse> response(static_cast<PageResponse*>(made.Get()));
  response->sink_ = sink;
  return response;
}
HRESULT PageResponse::RefuseOnceSent() {
  return Refuse(E_FAIL, u"The HTTP headers are already written to the client.");
}

HRESULT PageResponse::get_Buffer(VARIANT_BOOL* buffered) {
  if (buffered == nullptr) return E_POINTER;
  *buffered = buffered_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT PageResponse::put_Buffer(VARIANT_BOOL buffered) {
  if (headSent_) return RefuseOnceSent();
  buffered_ = buffered != VARIANT_FALSE;
  return S_OK;
}

HRESULT PageResponse::get_ContentType(BSTR* type) {
  if (type == nullptr) return E_POINTER;
  *type = AllocBstrFromUtf8(contentType_);
  return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT PageResponse::put_ContentType(BSTR type) {
  if (headSent_) return RefuseOnceSent();
  std::optional<std::string> text = HeaderText(type);
  if (!text || text->empty()) return Refuse(E_INVALIDARG, u"The content type is not valid.");
  contentType_ = std::move(*text);
  return S_OK;
}

HRESULT PageResponse::AddHeader(BSTR name, BSTR value) {
  if (headSent_) return RefuseOnceSent();
  std::optional<std::string> nameText = HeaderText(name);
  std::optional<std::string> valueText = HeaderText(value);
  if (!nameText || !IsHeaderName(*nameText) || !valueText) {
    return Refuse(E_INVALIDARG, u"The header name or value is not valid.");
  }
  if (IsFramingHeader(*nameText)) {
    return Refuse(E_INVALIDARG, u"The host sets this header itself.");
  }
  headers_.emplace_back(std::move(*nameText), std::move(*valueText));
  return S_OK;
}

HRESULT PageResponse::BinaryWrite(VARIANT data) {
  SAFEARRAY* bytes = ByteArrayOf(data);
  if (bytes == nullptr) return Refuse(DISP_E_TYPEMISMATCH, u"BinaryWrite takes an array of bytes.");
  return Output(
      std::string_view(static_cast<const char*>(bytes->pvData), SafeArrayElementCount(bytes)));
}

HRESULT PageResponse::Write(BSTR text) {
  const std::optional<std::string> bytes = Utf16ToUtf8(BstrView(text));
  if (!bytes) return Refuse(E_INVALIDARG, u"The text is not valid UTF-16.");
  return Output(*bytes);
}

HRESULT PageResponse::Clear() {
  if (!buffered_ && headSent_) return RefuseOnceSent();
  held_.clear();
  return S_OK;
}

HRESULT PageResponse::get_IsClientConnected(VARIANT_BOOL* connected) {
  if (connected == nullptr) return E_POINTER;
  const bool there = sink_ != nullptr && sink_->ClientConnected();
  *connected = there ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT PageResponse::Output(std::string_view bytes) {
  if (sink_ == nullptr) return Refuse(E_UNEXPECTED, u"The response has ended.");
  if (buffered_) {
    if (bytes.size() > kMaxBufferedBytes - held_.size()) {
      return Refuse(E_OUTOFMEMORY, u"The response buffer limit is exceeded.");
    }
    held_.append(bytes);
    return S_OK;
  }
  if (!headSent_) SendHead(false);
  SendBody(held_);
  held_.clear();
  SendBody(bytes);
  return S_OK;
}

void PageResponse::SendHead(bool withLength) {
  NameValueList headers = {{"Content-Type", contentType_}};
  headers.insert(headers.end(), headers_.begin(), headers_.end());
  std::optional<uint64_t> length;
  if (withLength) length = held_.size();
  sink_->SendHead(200, "OK", headers, length);
  headSent_ = true;
}

// One piece of the body (an empty piece is nothing to send).
void PageResponse::SendBody(std::string_view bytes) {
  if (!bytes.empty()) sink_->SendBody(bytes);
}

void PageResponse::End() {
  if (sink_ == nullptr) return;
  if (!headSent_) SendHead(true);
  SendBody(held_);
  sink_->Finish();
  held_.clear();
  sink_ = nullptr;
}

bool PageResponse::Abandon() {
  held_.clear();
  sink_ = nullptr;
  return !headSent_;
}

}  // namespace host
