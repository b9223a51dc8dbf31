// Helpers of the loading and saving tests: byte arrays as scripts pass them, an Easel
// driven through IDispatch with access to its working image, and a recording
// database field.
#pragma once

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "common/field_contract.h"
#include "platform/com/safe_array.h"
#include "platform/kernel/global_memory.h"
#include "tests/support/automation.h"
#include "tests/support/test_images.h"
#include "tests/support/variant_values.h"
#include "tests/vellum/vellum_objects.h"

namespace vellum_testing {

using testing_support::CallResult;

using testing_support::ArrayBytes;
using testing_support::ByteArray;
using testing_support::Dispatch;
using testing_support::Reference;

// What a save must leave as it was.
struct WorkingImage {
  LONG width = 0;
  LONG height = 0;
  LONG format = 0;
  bool normalized = false;
  std::vector<uint8_t> pixels;
  friend bool operator==(const WorkingImage&, const WorkingImage&) = default;
};

// An Easel created through the module, driven by name.
class EaselSession {
 public:
  EaselSession() : object_(CreateDispatch(vellum::CLSID_Easel)) {}

  explicit operator bool() const { return static_cast<bool>(object_); }
  IDispatch* Object() const { return object_.Get(); }
  vellum::Easel& Easel() const { return *AsEasel(object_); }
  testing_support::Automation Script() const { return testing_support::Automation(object_.Get()); }

  template <typename V>
  CallResult Load(V&& image) {
    return Script().Call(u"LoadImage", std::forward<V>(image));
  }
  template <typename V>
  CallResult Save(int method, int format, V&& data) {
    return Script().Call(u"SaveImage", method, format, std::forward<V>(data));
  }
  // Saves to a byte array; empty when the save fails.
  std::vector<uint8_t> SaveToMemory(int format) {
    const CallResult saved = Save(1, format, Variant());
    return saved.hr == S_OK ? ArrayBytes(saved.value) : std::vector<uint8_t>{};
  }
  CallResult Set(const char16_t* name, int value) { return Script().Put(name, value); }
  LONG Get(const char16_t* name) { return Script().Get(name).Long(); }
  std::u16string ErrorDescription() { return Script().Get(u"ErrorDescription").Text(); }

  // Installs an RGB working image (as a load does: not yet normalized).
  void Install(const testing_support::TestImage& image) {
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, image.bytes.size());
    std::memcpy(block, image.bytes.data(), image.bytes.size());
    Easel().ReplaceImage(block, image.width, static_cast<int32_t>(image.height));
  }
  std::vector<uint8_t> Pixels() const {
    HGLOBAL image = Easel().Image();
    if (image == nullptr) return {};
    const auto* data = static_cast<const uint8_t*>(GlobalLock(image));
    std::vector<uint8_t> pixels(data, data + GlobalSize(image));
    GlobalUnlock(image);
    return pixels;
  }
  WorkingImage State() {
    return {Get(u"Width"), Get(u"Height"), Get(u"ImageFormat"), Easel().IsNormalized(), Pixels()};
  }

 private:
  ComPtr<IDispatch> object_;
};

// A database field for tests: serves its value in the chunks asked for, records the
// pieces appended, and can refuse calls or leave out members. It answers IField
// (early binding) only when asked to, and otherwise IDispatch by name.
class RecordingField final : public field_contract::IField {
 public:
  enum : DISPID { kActualSizeId = 1, kAppendChunkId = 2, kGetChunkId = 3 };

  static ComPtr<RecordingField> Make() { return ComPtr<RecordingField>(new RecordingField); }

  std::vector<uint8_t> value;                // what GetChunk reads
  bool earlyBound = false;                   // answer QueryInterface for IField
  bool hasGetChunk = true;                   // GetIDsOfNames knows "GetChunk"
  bool hasAppendChunk = true;                // ... and "AppendChunk"
  int failAppendAt = -1;                     // the AppendChunk call (0-based) that fails
  bool chunkIsText = false;                  // GetChunk answers a string instead of bytes
  std::vector<LONG> chunkRequests;           // the lengths GetChunk was asked for
  std::vector<std::vector<uint8_t>> pieces;  // what AppendChunk received, call by call
  std::vector<LCID> locales;                 // the locales of the name lookups

  std::vector<uint8_t> Appended() const {
    std::vector<uint8_t> all;
    for (const auto& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
    return all;
  }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch ||
        (earlyBound && iid == field_contract::IID_IField)) {
      *object = static_cast<field_contract::IField*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
    locales.push_back(locale);
    const std::u16string_view name = names[0];
    ids[0] = DISPID_UNKNOWN;
    if (count == 1 && name == u"GetChunk" && hasGetChunk) ids[0] = kGetChunkId;
    if (count == 1 && name == u"AppendChunk" && hasAppendChunk) ids[0] = kAppendChunkId;
    if (count == 1 && name == u"ActualSize") ids[0] = kActualSizeId;
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    switch (id) {
      case kGetChunkId: {
        Variant length;
        if (params->cArgs != 1 || FAILED(VariantChangeType(&length, &params->rgvarg[0], 0, VT_I4)))
          return DISP_E_TYPEMISMATCH;
        return GetChunk(length.lVal, result);
      }
      case kAppendChunkId:
        return params->cArgs == 1 ? AppendChunk(params->rgvarg[0]) : DISP_E_BADPARAMCOUNT;
      case kActualSizeId:
        result->vt = VT_I4;
        return get_ActualSize(&result->lVal);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }
  HRESULT get_ActualSize(LONG* size) override {
    *size = static_cast<LONG>(value.size());
    return S_OK;
  }
  HRESULT AppendChunk(VARIANT data) override {
    if (static_cast<int>(pieces.size()) == failAppendAt) return E_FAIL;
    pieces.push_back(ArrayBytes(data));
    return S_OK;
  }
  HRESULT GetChunk(LONG length, VARIANT* chunk) override {
    chunkRequests.push_back(length);
    VariantClear(chunk);
    if (chunkIsText) {
      *chunk = Variant::String(u"not bytes").Detach();
      return S_OK;
    }
    if (offset_ >= value.size()) {
      chunk->vt = VT_NULL;
      return S_OK;
    }
    const size_t count = std::min<size_t>(length, value.size() - offset_);
    *chunk = ByteArray({value.begin() + offset_, value.begin() + offset_ + count}).Detach();
    offset_ += count;
    return S_OK;
  }

 private:
  RecordingField() = default;
  ~RecordingField() = default;
  std::atomic<ULONG> references_{0};
  size_t offset_ = 0;
};

}  // namespace vellum_testing
