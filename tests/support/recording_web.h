// A page's Response and Request for tests: the response records every call in order
// and can be told to be buffered, to lose its client or to fail; the request answers
// SCRIPT_NAME.
#pragma once

#include <string>
#include <vector>

#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"
#include "platform/web/web_context.h"

namespace testing_support {

class RecordingResponse final : public ComObject<DispatchImpl<IResponse, &web::ResponseInterface>> {
 public:
  explicit RecordingResponse(IUnknown* outer) : ComObject(outer) {}

  static ComPtr<RecordingResponse> Make() {
    ComPtr<IResponse> made;
    CreateComObject<RecordingResponse>(nullptr, IID_IResponse, made.ReceiveVoid());
    return ComPtr<RecordingResponse>(static_cast<RecordingResponse*>(made.Get()));
  }

  VARIANT_BOOL buffered = VARIANT_TRUE;
  int connectedPieces = 1 << 30;  // IsClientConnected says yes this many times
  bool failConnectedQuery = false;
  bool failBinaryWrite = false;
  bool failBufferQuery = false;
  std::string failingCall;  // a call of Clear, Buffer=..., AddHeader or ContentType that fails
  std::vector<std::string> calls;
  std::vector<std::u16string> headers;  // "name: value"
  std::u16string contentType;
  std::vector<size_t> pieceSizes;
  std::vector<uint8_t> body;

  HRESULT get_Buffer(VARIANT_BOOL* value) override {
    calls.push_back("Buffer?");
    if (failBufferQuery) return E_FAIL;
    *value = buffered;
    return S_OK;
  }
  HRESULT put_Buffer(VARIANT_BOOL value) override {
    if (!Record(value == VARIANT_TRUE ? "Buffer=-1" : "Buffer=0")) return E_FAIL;
    buffered = value;
    return S_OK;
  }
  HRESULT get_ContentType(BSTR* type) override {
    *type = AllocBstr(contentType);
    return S_OK;
  }
  HRESULT put_ContentType(BSTR type) override {
    if (!Record("ContentType")) return E_FAIL;
    contentType = BstrView(type);
    return S_OK;
  }
  HRESULT AddHeader(BSTR name, BSTR value) override {
    if (!Record("AddHeader")) return E_FAIL;
    headers.push_back(std::u16string(BstrView(name)) + u": " + std::u16string(BstrView(value)));
    return S_OK;
  }
  HRESULT BinaryWrite(VARIANT data) override {
    calls.push_back("BinaryWrite");
    if (failBinaryWrite) return E_FAIL;
    SAFEARRAY* bytes = ByteArrayOf(data);
    if (bytes == nullptr) return DISP_E_TYPEMISMATCH;
    const auto* first = static_cast<const uint8_t*>(bytes->pvData);
    pieceSizes.push_back(SafeArrayElementCount(bytes));
    body.insert(body.end(), first, first + SafeArrayElementCount(bytes));
    return S_OK;
  }
  HRESULT Clear() override { return Record("Clear") ? S_OK : E_FAIL; }
  HRESULT get_IsClientConnected(VARIANT_BOOL* connected) override {
    calls.push_back("IsClientConnected");
    if (failConnectedQuery) return E_FAIL;
    *connected = connectedPieces-- > 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT Write(BSTR text) override {
    calls.push_back("Write");
    const std::string bytes = Utf16ToUtf8(BstrView(text)).value_or("");
    body.insert(body.end(), bytes.begin(), bytes.end());
    return S_OK;
  }

 private:
  // Records a call; false when it is the one told to fail.
  bool Record(const std::string& call) {
    calls.push_back(call);
    return call != failingCall;
  }
};

class ServerVariables final
    : public ComObject<DispatchImpl<IRequestDictionary, &web::RequestDictionaryInterface>> {
 public:
  explicit ServerVariables(IUnknown* outer) : ComObject(outer) {}
  std::u16string scriptName;
  HRESULT get_Item(VARIANT key, VARIANT* value) override {
    VariantClear(value);
    if (key.vt == VT_BSTR && BstrView(key.bstrVal) == u"SCRIPT_NAME") {
      *value = Variant::String(scriptName).Detach();
    }
    return S_OK;
  }
};

class PageRequest final : public ComObject<DispatchImpl<IRequest, &web::RequestInterface>> {
 public:
  explicit PageRequest(IUnknown* outer) : ComObject(outer) {}

  static ComPtr<PageRequest> Make(std::u16string scriptName) {
    ComPtr<IRequest> made;
    CreateComObject<PageRequest>(nullptr, IID_IRequest, made.ReceiveVoid());
    ComPtr<PageRequest> request(static_cast<PageRequest*>(made.Get()));
    ComPtr<IRequestDictionary> variables;
    CreateComObject<ServerVariables>(nullptr, IID_IRequestDictionary, variables.ReceiveVoid());
    static_cast<ServerVariables*>(variables.Get())->scriptName = std::move(scriptName);
    request->variables_ = variables;
    return request;
  }

  HRESULT get_ServerVariables(IRequestDictionary** variables) override {
    *variables = variables_.Get();
    (*variables)->AddRef();
    return S_OK;
  }
  HRESULT get_QueryString(BSTR, BSTR* value) override {
    *value = AllocBstr(u"");
    return S_OK;
  }

 private:
  ComPtr<IRequestDictionary> variables_;
};

}  // namespace testing_support
