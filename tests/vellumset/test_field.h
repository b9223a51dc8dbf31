// A database field for the tests: an IDispatch that answers "ActualSize", "GetChunk"
// and "AppendChunk" by name, as the field contract asks, over bytes kept in memory.
// Members can be left out, and the field records how it was called.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/safe_array.h"

namespace vellumset_testing {

class TestField final : public ComObject<IDispatch> {
 public:
  enum Member : DISPID { kActualSize = 1, kGetChunk = 2, kAppendChunk = 3 };

  explicit TestField(IUnknown* outer) : ComObject(outer) {}

  static ComPtr<TestField> Make(std::vector<uint8_t> bytes) {
    ComPtr<IDispatch> created;
    CreateComObject<TestField>(nullptr, IID_IDispatch, created.ReceiveVoid());
    ComPtr<TestField> field(static_cast<TestField*>(created.Get()));
    field->value = std::move(bytes);
    return field;
  }

  // What the field does; the tests change these directly.
  std::vector<uint8_t> value;
  std::vector<std::u16string> members = {u"ActualSize", u"GetChunk", u"AppendChunk"};
  size_t chunkLimit = 1000;  // the most bytes one GetChunk call returns
  Variant actualSize;        // VT_EMPTY: the size of `value`
  HRESULT appendFailure = S_OK;
  // What it saw.
  int getChunkCalls = 0;
  std::vector<LONG> requestedLengths;
  VARTYPE appendArgumentType = VT_EMPTY;
  std::vector<uint8_t> appended;

  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    for (size_t i = 0; count == 1 && i < members.size(); ++i) {
      if (members[i] == names[0]) {
        ids[0] = Known(members[i]);
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT*) override {
    switch (id) {
      case kActualSize:
        if (actualSize.vt != VT_EMPTY) return VariantCopy(result, &actualSize);
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(value.size());
        return S_OK;
      case kGetChunk:
        return GetChunk(*params, result);
      case kAppendChunk:
        return AppendChunk(*params, exception);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  static DISPID Known(const std::u16string& name) {
    return name == u"ActualSize" ? kActualSize : name == u"GetChunk" ? kGetChunk : kAppendChunk;
  }

  HRESULT GetChunk(const DISPPARAMS& params, VARIANT* result) {
    ++getChunkCalls;
    if (params.cArgs != 1 || params.rgvarg[0].vt != (VT_BYREF | VT_I4)) return E_INVALIDARG;
    requestedLengths.push_back(*params.rgvarg[0].plVal);
    const size_t count = std::min(chunkLimit, value.size() - read_);
    if (count == 0) {
      result->vt = VT_NULL;
      return S_OK;
    }
    SAFEARRAY* chunk = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
    std::memcpy(chunk->pvData, value.data() + read_, count);
    read_ += count;
    result->vt = VT_ARRAY | VT_UI1;
    result->parray = chunk;
    return S_OK;
  }

  HRESULT AppendChunk(const DISPPARAMS& params, EXCEPINFO* exception) {
    if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    const VARIANT& argument = params.rgvarg[0];
    appendArgumentType = argument.vt;
    if (FAILED(appendFailure)) {
      exception->scode = appendFailure;
      exception->bstrDescription = SysAllocString(u"the field refused the value");
      return DISP_E_EXCEPTION;
    }
    const VARIANT& bytes = argument.vt == (VT_BYREF | VT_VARIANT) ? *argument.pvarVal : argument;
    if (bytes.vt != (VT_ARRAY | VT_UI1)) return DISP_E_TYPEMISMATCH;
    const auto* data = static_cast<const uint8_t*>(bytes.parray->pvData);
    appended.insert(appended.end(), data, data + SafeArrayElementCount(bytes.parray));
    return S_OK;
  }

  size_t read_ = 0;
};

}  // namespace vellumset_testing
