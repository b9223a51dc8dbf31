#include "vellumset/images.h"

#include <cstring>
#include <mutex>
#include <string>

#include "common/field_contract.h"
#include "platform/com/safe_array.h"
#include "platform/policy/file_access.h"
#include "vellumset/errors.h"
#include "vellumset/file_io.h"

namespace vellumset {

namespace {

constexpr std::u16string_view kOutPointerInvalid = u"out pointer is invalid";

bool HoldsNoValue(const VARIANT& value) {
  return value.vt == VT_EMPTY || value.vt == VT_NULL || value.vt == VT_ERROR;
}

// The bytes of a byte array, or nothing for an array whose elements are not bytes.
std::optional<std::span<const BYTE>> ArrayBytes(SAFEARRAY* array) {
  if (array == nullptr || SafeArrayGetElemsize(array) != 1) return std::nullopt;
  return std::span<const BYTE>(static_cast<const BYTE*>(array->pvData),
                               static_cast<size_t>(SafeArrayElementCount(array)));
}

bool CopyArraySource(SAFEARRAY* array, Variant* data) {
  const std::optional<std::span<const BYTE>> bytes = ArrayBytes(array);
  return bytes && SUCCEEDED(MakeByteArray(*bytes, data));
}

// False when the file cannot be read; `outside` tells a path outside the allowed folders.
bool ReadFileSource(BSTR name, Variant* data, bool* outside) {
  std::string path;
  std::string content;
  if (PathFromBstr(name, &path) != NO_ERROR) return false;
  const DWORD error = policy::ReadWholeFile(path, kMaxSafeArrayBytes, &content);
  if (error != NO_ERROR) {
    *outside = error == policy::kOutsideAllowedFolders && !policy::IsAllowedPath(path);
    return false;
  }
  return SUCCEEDED(MakeByteArray(
      std::span<const BYTE>(reinterpret_cast<const BYTE*>(content.data()), content.size()), data));
}

// A database field: "ActualSize" bytes, read with "GetChunk" (asked for ActualSize
// bytes, by reference) until a call fails or gives no more bytes, or the value is full.
bool ReadFieldSource(IDispatch* field, Variant* data) {
  using namespace field_contract;
  DISPID getChunk = 0;
  Variant size;
  Variant length;
  if (FAILED(InvokeByName(field, kActualSize, DISPATCH_PROPERTYGET, {}, 0, &size)) ||
      HoldsNoValue(size) || FAILED(VariantChangeType(&length, &size, 0, VT_I4)) ||
      length.lVal < 0 || FAILED(FindMember(field, kGetChunk, 0, &getChunk))) {
    return false;
  }
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(length.lVal));
  if (array == nullptr) return false;
  data->vt = VT_ARRAY | VT_UI1;
  data->parray = array;
  const std::span<BYTE> value(static_cast<BYTE*>(array->pvData), array->rgsabound[0].cElements);
  size_t filled = 0;
  while (filled < value.size()) {
    LONG requested = length.lVal;
    VARIANT argument{};
    argument.vt = VT_BYREF | VT_I4;
    argument.plVal = &requested;
    Variant chunk;
    if (FAILED(InvokeByName(field, kGetChunk, DISPATCH_METHOD, {&argument, 1}, 0, &chunk)) ||
        chunk.vt != (VT_ARRAY | VT_UI1)) {
      break;
    }
    const std::optional<std::span<const BYTE>> bytes = ArrayBytes(chunk.parray);
    if (!bytes || bytes->empty()) break;
    const size_t taken = std::min(bytes->size(), value.size() - filled);
    std::memcpy(value.data() + filled, bytes->data(), taken);
    filled += taken;
  }
  return true;
}

enum class SourceOutcome { kRead, kUnreadable, kOutsideAllowedFolders, kUnsupportedType };

SourceOutcome ReadImageSource(const VARIANT& source, Variant* data) {
  bool read = false;
  bool outside = false;
  switch (source.vt) {
    case VT_BSTR:
      read = ReadFileSource(source.bstrVal, data, &outside);
      if (outside) return SourceOutcome::kOutsideAllowedFolders;
      break;
    case VT_DISPATCH:
      read = ReadFieldSource(source.pdispVal, data);
      break;
    case VT_ARRAY | VT_UI1:
      read = CopyArraySource(source.parray, data);
      break;
    case VT_BYREF | VT_VARIANT:
      if (source.pvarVal == nullptr || source.pvarVal->vt != (VT_ARRAY | VT_UI1)) {
        return SourceOutcome::kUnsupportedType;
      }
      read = CopyArraySource(source.pvarVal->parray, data);
      break;
    default:
      return SourceOutcome::kUnsupportedType;
  }
  return read ? SourceOutcome::kRead : SourceOutcome::kUnreadable;
}

std::u16string DecimalText(LONG value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// How the not-found message names a key.
std::u16string KeyText(const VARIANT& argument) {
  const VARIANT* key = UnwrappedArgument(argument);
  if (key == nullptr) return u"This key";
  switch (key->vt) {
    case VT_I2:
      return DecimalText(key->iVal);
    case VT_I4:
      return DecimalText(key->lVal);
    case VT_BSTR:
      return std::u16string(BstrView(key->bstrVal));
    default:
      return u"This key";
  }
}

// The enumerator of an Images collection: the images at positions 0 up to the count
// the collection had when it was made, one per Next call, looked up afresh each time.
class EnumImages final : public FreeThreadedObject<IEnumVARIANT> {
 public:
  explicit EnumImages(IUnknown* outer) : FreeThreadedObject(outer) {}

  static HRESULT Create(ComPtr<Dictionary> dictionary, IUnknown** enumerator) {
    LONG count = 0;
    HRESULT hr = dictionary->get_Count(&count);
    ComPtr<IEnumVARIANT> created;
    if (SUCCEEDED(hr)) {
      hr = CreateComObject<EnumImages>(nullptr, IID_IEnumVARIANT, created.ReceiveVoid());
    }
    if (FAILED(hr)) return hr;
    auto* object = static_cast<EnumImages*>(created.Get());
    object->dictionary_ = std::move(dictionary);
    object->end_ = static_cast<uint64_t>(count);
    *enumerator = created.Detach();
    return S_OK;
  }

  HRESULT Next(ULONG count, VARIANT* values, ULONG* fetched) override {
    if (values == nullptr || (count != 1 && fetched == nullptr)) return E_POINTER;
    if (fetched != nullptr) *fetched = 0;
    std::lock_guard hold(mutex_);
    if (position_ >= end_) return S_FALSE;
    Variant found;
    const HRESULT hr = dictionary_->get_Item(Variant::Long(static_cast<LONG>(position_)), &found);
    if (FAILED(hr) || found.vt != VT_DISPATCH) return S_FALSE;
    values[0] = found.Detach();
    ++position_;
    if (fetched != nullptr) *fetched = 1;
    return S_OK;
  }
  HRESULT Skip(ULONG count) override {
    std::lock_guard hold(mutex_);
    position_ = std::min(position_ + count, end_);
    return S_OK;
  }
  HRESULT Reset() override {
    std::lock_guard hold(mutex_);
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumVARIANT** copy) override {
    if (copy != nullptr) *copy = nullptr;
    return E_NOTIMPL;
  }

 private:
  ComPtr<Dictionary> dictionary_;  // keeps the entries alive after the collection goes
  std::mutex mutex_;               // guards the position of an enumerator shared by threads
  uint64_t position_ = 0;
  uint64_t end_ = 0;
};

}  // namespace

HRESULT Images::FinalConstruct() {
  HRESULT hr = FreeThreadedObject::FinalConstruct();
  ComPtr<IDictionary> created;
  if (SUCCEEDED(hr))
    hr = CreateComObject<Dictionary>(nullptr, IID_IDictionary, created.ReceiveVoid());
  if (SUCCEEDED(hr)) dictionary_ = ComPtr<Dictionary>(static_cast<Dictionary*>(created.Get()));
  return hr;
}

HRESULT Images::Fail(std::u16string_view message, HRESULT result) {
  return ReportError(CLSID_Images, IID_IImages, message, result);
}

HRESULT Images::NotFound(const VARIANT& key) {
  return Fail(KeyText(key) + u" does not exist in the collection");
}

ComPtr<Image> Images::Find(const VARIANT& key) {
  Variant found;
  if (FAILED(dictionary_->get_Item(key, &found)) || found.vt != VT_DISPATCH ||
      found.pdispVal == nullptr) {
    return nullptr;
  }
  // Every item of the private dictionary is an Image's IDispatch.
  return ComPtr<Image>(static_cast<Image*>(static_cast<IImage*>(found.pdispVal)));
}

HRESULT Images::get_Item(VARIANT key, IImage** image) {
  if (image == nullptr) return Fail(kOutPointerInvalid, E_POINTER);
  *image = nullptr;
  ComPtr<Image> found = Find(key);
  if (!found) return NotFound(key);
  *image = found.Detach();
  return S_OK;
}

// The name is checked before the source is read, and again when the image is added:
// of two loads of one new name at once, the second fails instead of replacing the first.
HRESULT Images::LoadImage(VARIANT name, VARIANT source, EZImageFormat format) {
  if (name.vt != VT_BSTR) return E_INVALIDARG;
  const std::u16string alreadyExists =
      std::u16string(BstrView(name.bstrVal)) + u" already exists in the collection";
  VARIANT_BOOL exists = VARIANT_FALSE;
  HRESULT hr = dictionary_->Exists(name, &exists);
  if (FAILED(hr)) return hr;
  if (exists != VARIANT_FALSE) return Fail(alreadyExists);
  Variant data;
  switch (ReadImageSource(source, &data)) {
    case SourceOutcome::kUnsupportedType:
      return Fail(u"Invalid data type");
    case SourceOutcome::kUnreadable:
      return Fail(u"Unable to access data");
    case SourceOutcome::kOutsideAllowedFolders:
      return Fail(kOutsideAllowedFolders, HRESULT_FROM_WIN32(policy::kOutsideAllowedFolders));
    case SourceOutcome::kRead:
      break;
  }
  ComPtr<Image> image;
  hr = Image::Create(std::u16string(BstrView(name.bstrVal)), format, std::move(data), &image);
  if (FAILED(hr)) return Fail(u"Unable to access data");
  Variant item;
  item.vt = VT_DISPATCH;
  item.pdispVal = static_cast<IImage*>(image.Detach());
  hr = dictionary_->AddIfAbsent(name, item);
  return hr == S_FALSE ? Fail(alreadyExists) : hr;
}

HRESULT Images::get_Count(LONG* count) {
  if (count == nullptr) return Fail(kOutPointerInvalid, E_POINTER);
  return dictionary_->get_Count(count);
}

HRESULT Images::get_ChunkSize(LONG* chunkSize) {
  if (chunkSize == nullptr) return Fail(kOutPointerInvalid, E_POINTER);
  *chunkSize = chunkSize_.load(std::memory_order_relaxed);
  return S_OK;
}

HRESULT Images::put_ChunkSize(LONG chunkSize) {
  chunkSize_.store(chunkSize, std::memory_order_relaxed);
  return S_OK;
}

HRESULT Images::SaveImage(VARIANT key, VARIANT destination, VARIANT* result) {
  if (result == nullptr) return E_POINTER;
  ComPtr<Image> image = Find(key);
  if (!image) return NotFound(key);
  switch (destination.vt) {
    case VT_ERROR:
      return image->CopyBytes(result);
    case VT_BSTR: {
      std::string path;
      DWORD error = PathFromBstr(destination.bstrVal, &path);
      if (error != NO_ERROR) return ReportSystemError(CLSID_Images, IID_IImages, error);
      // Written whole or not at all: a failed save leaves an existing file as it was.
      error = policy::WriteWholeFile(path, image->Bytes());
      return error == NO_ERROR ? S_OK : ReportFileError(CLSID_Images, IID_IImages, path, error);
    }
    case VT_DISPATCH:
      return SaveToField(*image.Get(), destination.pdispVal, result);
    default:
      return E_INVALIDARG;
  }
}

// One "AppendChunk" call with a reference to a VARIANT holding all the bytes; its
// result is the caller's, and its failure is passed on with the field's description.
HRESULT Images::SaveToField(const Image& image, IDispatch* field, VARIANT* result) {
  DISPID appendChunk = 0;
  if (FAILED(field_contract::FindMember(field, field_contract::kAppendChunk, 0, &appendChunk))) {
    return Fail(u"Parameter does not support the AppendChunk method");
  }
  Variant bytes;
  HRESULT hr = image.CopyBytes(&bytes);
  if (FAILED(hr)) return hr;
  VARIANT argument{};
  argument.vt = VT_BYREF | VT_VARIANT;
  argument.pvarVal = &bytes;
  VariantInit(result);
  EXCEPINFO exception{};
  hr = field_contract::InvokeByName(field, field_contract::kAppendChunk, DISPATCH_METHOD,
                                    {&argument, 1}, 0, result, &exception);
  if (FAILED(hr) && exception.bstrDescription != nullptr) {
    hr = Fail(BstrView(exception.bstrDescription), hr);
  }
  ClearExcepInfo(&exception);
  return hr;
}

HRESULT Images::Remove(VARIANT key) {
  Variant removed;
  return dictionary_->Take(key, &removed) == S_OK ? S_OK : NotFound(key);
}

HRESULT Images::RemoveAll() { return dictionary_->RemoveAll(); }

HRESULT Images::Exists(VARIANT key, VARIANT_BOOL* exists) {
  if (exists == nullptr) return E_POINTER;
  return dictionary_->Exists(key, exists);
}

HRESULT Images::get__NewEnum(IUnknown** enumerator) {
  if (enumerator == nullptr) return Fail(kOutPointerInvalid, E_POINTER);
  *enumerator = nullptr;
  return EnumImages::Create(dictionary_, enumerator);
}

}  // namespace vellumset
