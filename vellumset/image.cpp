#include "vellumset/image.h"

#include <cstring>

#include "platform/com/safe_array.h"

namespace vellumset {

HRESULT MakeByteArray(std::span<const BYTE> bytes, VARIANT* array) {
  if (bytes.size() > kMaxSafeArrayBytes) return E_OUTOFMEMORY;
  SAFEARRAY* created = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (created == nullptr) return E_OUTOFMEMORY;
  if (!bytes.empty()) std::memcpy(created->pvData, bytes.data(), bytes.size());
  VariantInit(array);
  array->vt = VT_ARRAY | VT_UI1;
  array->parray = created;
  return S_OK;
}

HRESULT Image::Create(std::u16string name, EZImageFormat format, Variant data,
                      ComPtr<Image>* image) {
  ComPtr<IImage> created;
  const HRESULT hr = CreateComObject<Image>(nullptr, IID_IImage, created.ReceiveVoid());
  if (FAILED(hr)) return hr;
  *image = ComPtr<Image>(static_cast<Image*>(created.Get()));
  (*image)->name_ = std::move(name);
  (*image)->format_ = format;
  (*image)->data_ = std::move(data);
  return S_OK;
}

std::span<const BYTE> Image::Bytes() const {
  const SAFEARRAY* array = data_.parray;
  return {static_cast<const BYTE*>(array->pvData), array->rgsabound[0].cElements};
}

HRESULT Image::CopyBytes(VARIANT* copy) const { return MakeByteArray(Bytes(), copy); }

HRESULT Image::get_Image(VARIANT* bytes) {
  if (bytes == nullptr) return E_POINTER;
  return CopyBytes(bytes);
}

HRESULT Image::get_Name(BSTR* name) {
  if (name == nullptr) return E_POINTER;
  *name = AllocBstr(name_);
  return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Image::get_Ordinal(LONG* ordinal) { return StoreOut(ordinal, 0); }

HRESULT Image::get_Format(EZImageFormat* format) { return StoreOut(format, format_); }

}  // namespace vellumset
