#include "platform/com/error_info.h"

#include <string>

#include "platform/com/activation.h"
#include "platform/com/object.h"

namespace {

thread_local ComPtr<IErrorInfo> t_errorInfo;

HRESULT CopyOut(const std::u16string& text, BSTR* target) {
  if (target == nullptr) return E_INVALIDARG;
  *target = AllocBstr(text);
  return *target == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CopyIn(LPCOLESTR text, std::u16string& target) {
  try {
    target = text == nullptr ? std::u16string() : std::u16string(text);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

class ErrorInfo final : public ComObject<IErrorInfo, ICreateErrorInfo> {
 public:
  explicit ErrorInfo(IUnknown* outer) : ComObject(outer) {}

  HRESULT GetGUID(GUID* guid) override {
    if (guid == nullptr) return E_INVALIDARG;
    *guid = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* source) override { return CopyOut(source_, source); }
  HRESULT GetDescription(BSTR* description) override { return CopyOut(description_, description); }
  HRESULT GetHelpFile(BSTR* helpFile) override { return CopyOut(helpFile_, helpFile); }
  HRESULT GetHelpContext(DWORD* helpContext) override {
    if (helpContext == nullptr) return E_INVALIDARG;
    *helpContext = helpContext_;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID guid) override {
    guid_ = guid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR source) override { return CopyIn(source, source_); }
  HRESULT SetDescription(LPOLESTR description) override {
    return CopyIn(description, description_);
  }
  HRESULT SetHelpFile(LPOLESTR helpFile) override { return CopyIn(helpFile, helpFile_); }
  HRESULT SetHelpContext(DWORD helpContext) override {
    helpContext_ = helpContext;
    return S_OK;
  }

 private:
  GUID guid_ = GUID_NULL;
  std::u16string source_;
  std::u16string description_;
  std::u16string helpFile_;
  DWORD helpContext_ = 0;
};

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
  return CreateComObject<ErrorInfo>(nullptr, IID_ICreateErrorInfo, reinterpret_cast<void**>(info));
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
  t_errorInfo = ComPtr<IErrorInfo>(info);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = t_errorInfo.Detach();
  return *info != nullptr ? S_OK : S_FALSE;
}

HRESULT ReportErrorInfo(REFGUID guid, LPCOLESTR source, LPCOLESTR description) {
  ComPtr<ICreateErrorInfo> created;
  HRESULT hr = CreateErrorInfo(created.Receive());
  if (FAILED(hr)) return hr;
  hr = created->SetGUID(guid);
  if (SUCCEEDED(hr) && source != nullptr) hr = created->SetSource(const_cast<LPOLESTR>(source));
  if (SUCCEEDED(hr)) hr = created->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(hr)) hr = created.As(&info);
  if (SUCCEEDED(hr)) hr = SetErrorInfo(0, info.Get());
  return hr;
}

HRESULT SetErrorInfoForClass(REFCLSID clsid, LPCOLESTR description, REFGUID guid, HRESULT result) {
  LPOLESTR progId = nullptr;
  if (FAILED(ProgIDFromCLSID(clsid, &progId))) progId = nullptr;
  ReportErrorInfo(guid, progId, description);
  CoTaskMemFree(progId);
  return result == 0 ? DISP_E_EXCEPTION : result;
}

void ClearExcepInfo(EXCEPINFO* info) {
  if (info == nullptr) return;
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrHelpFile);
  *info = {};
}
