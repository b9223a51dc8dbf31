#include "vellumset/dictionary.h"

#include <memory>
#include <mutex>
#include <optional>

#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"
#include "platform/policy/file_access.h"
#include "vellumset/errors.h"
#include "vellumset/file_io.h"
#include "vellumset/item_lines.h"

namespace vellumset {

const VARIANT* UnwrappedArgument(const VARIANT& argument) {
  return argument.vt == (VT_BYREF | VT_VARIANT) ? argument.pvarVal : &argument;
}

namespace {

// The position a key names: a 16-bit integer, or a 32-bit integer passed by value.
std::optional<int64_t> PositionKey(const VARIANT& key) {
  if (key.vt == VT_I2) return key.iVal;
  if (key.vt == VT_I4) return key.lVal;
  return std::nullopt;
}

// What `Item` looks a key up by: a name, or a position.
bool IsLookupKey(const VARIANT& key) { return key.vt == VT_BSTR || PositionKey(key).has_value(); }

// A line's text as a string VARIANT; false when it has no UTF-16 form.
bool TextVariant(std::string_view text, Variant* value) {
  const std::optional<std::u16string> wide = Utf8ToUtf16(text);
  if (!wide) return false;
  *value = Variant::String(*wide);
  if (value->vt != VT_BSTR) throw std::bad_alloc();
  return true;
}

// Reads and splits a LoadItems file (named by `path` once converted), outside the lock.
// Returns a system error code; throws std::bad_alloc.
DWORD ReadItemPairs(BSTR fileName, const VARIANT& delimiterArgument, std::string* path,
                    std::vector<DictionaryPair>* pairs) {
  std::string delimiter = "=";
  if (delimiterArgument.vt == VT_BSTR) {
    std::optional<std::string> converted = Utf16ToUtf8(BstrView(delimiterArgument.bstrVal));
    if (!converted) return ERROR_NO_UNICODE_TRANSLATION;
    delimiter = std::move(*converted);
  }
  std::string text;
  DWORD error = PathFromBstr(fileName, path);
  if (error == NO_ERROR) error = policy::ReadWholeFile(*path, kMaxSafeArrayBytes, &text);
  if (error != NO_ERROR) return error;
  for (const ItemLine& line : SplitItemLines(text, delimiter)) {
    DictionaryPair pair;
    if (!TextVariant(line.key, &pair.key) || !TextVariant(line.item, &pair.item)) {
      return ERROR_NO_UNICODE_TRANSLATION;
    }
    pairs->push_back(std::move(pair));
  }
  return NO_ERROR;
}

// The enumerator of a dictionary's keys: a snapshot taken when it was made, shared
// with its clones.
class KeyEnumerator final : public FreeThreadedObject<IEnumVARIANT> {
 public:
  using Keys = std::shared_ptr<const std::vector<Variant>>;

  explicit KeyEnumerator(IUnknown* outer) : FreeThreadedObject(outer) {}

  static HRESULT Create(Keys keys, size_t position, IEnumVARIANT** enumerator) {
    const HRESULT hr = CreateComObject<KeyEnumerator>(nullptr, IID_IEnumVARIANT,
                                                      reinterpret_cast<void**>(enumerator));
    if (FAILED(hr)) return hr;
    auto* created = static_cast<KeyEnumerator*>(*enumerator);
    created->keys_ = std::move(keys);
    created->position_ = position;
    return S_OK;
  }

  HRESULT Next(ULONG count, VARIANT* values, ULONG* fetched) override {
    if (values == nullptr || (count != 1 && fetched == nullptr)) return E_POINTER;
    std::lock_guard hold(mutex_);
    const size_t taken = std::min<size_t>(count, keys_->size() - position_);
    for (size_t i = 0; i < taken; ++i) {
      VariantInit(&values[i]);
      const HRESULT hr = VariantCopy(&values[i], &(*keys_)[position_ + i]);
      if (FAILED(hr)) {
        for (size_t k = 0; k < i; ++k) VariantClear(&values[k]);
        if (fetched != nullptr) *fetched = 0;
        return hr;
      }
    }
    position_ += taken;
    if (fetched != nullptr) *fetched = static_cast<ULONG>(taken);
    return taken < count ? S_FALSE : S_OK;
  }
  HRESULT Skip(ULONG count) override {
    std::lock_guard hold(mutex_);
    if (count > keys_->size() - position_) {
      position_ = keys_->size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT Reset() override {
    std::lock_guard hold(mutex_);
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumVARIANT** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    std::lock_guard hold(mutex_);
    return Create(keys_, position_, copy);
  }

 private:
  Keys keys_;
  std::mutex mutex_;  // guards the position of an enumerator shared between threads
  size_t position_ = 0;
};

}  // namespace

HRESULT Dictionary::FinalConstruct() {
  const HRESULT hr = FreeThreadedObject::FinalConstruct();
  if (FAILED(hr)) return hr;
  return lock_.Usable() ? S_OK : E_OUTOFMEMORY;
}

HRESULT Dictionary::get_Item(VARIANT keyArgument, VARIANT* item) {
  if (item == nullptr) return E_POINTER;
  VariantInit(item);
  const VARIANT* key = UnwrappedArgument(keyArgument);
  if (key == nullptr || !IsLookupKey(*key)) return E_INVALIDARG;
  const std::optional<int64_t> position = PositionKey(*key);
  SharedHold hold(lock_);
  const DictionaryPair* found = nullptr;
  if (!position) {
    found = entries_.Find(*key);
  } else if (*position >= 0 && static_cast<uint64_t>(*position) < entries_.Count()) {
    found = &entries_.At(static_cast<size_t>(*position));
  }
  return found != nullptr ? VariantCopyInd(item, &found->item) : S_OK;
}

HRESULT Dictionary::Store(const VARIANT& keyArgument, const VARIANT& itemArgument, Change change) {
  const VARIANT* key = UnwrappedArgument(keyArgument);
  const VARIANT* item = UnwrappedArgument(itemArgument);
  if (key == nullptr || item == nullptr) return E_INVALIDARG;
  DictionaryPair pair;
  HRESULT hr = VariantCopyInd(&pair.key, key);
  if (SUCCEEDED(hr)) hr = VariantCopyInd(&pair.item, item);
  if (FAILED(hr)) return hr;
  // A key that came by reference (other than to a VARIANT) is kept as its value, but
  // it is still a key of another type, which is never found.
  const bool findable = (key->vt & VT_BYREF) == 0;
  DictionaryPair removed;  // released after the lock
  ExclusiveHold hold(lock_);
  try {
    if (change == Change::kAdd) {
      entries_.Add(std::move(pair), &removed, findable);
    } else {
      entries_.Set(std::move(pair), &removed, findable);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Dictionary::put_Item(VARIANT key, VARIANT item) { return Store(key, item, Change::kSet); }

HRESULT Dictionary::putref_Item(VARIANT key, VARIANT item) {
  return Store(key, item, Change::kSet);
}

HRESULT Dictionary::put_Key(VARIANT key, VARIANT item) { return Store(key, item, Change::kSet); }

HRESULT Dictionary::Add(VARIANT key, VARIANT item) { return Store(key, item, Change::kAdd); }

HRESULT Dictionary::get_Count(LONG* count) {
  if (count == nullptr) return E_POINTER;
  SharedHold hold(lock_);
  *count = static_cast<LONG>(entries_.Count());
  return S_OK;
}

HRESULT Dictionary::Exists(VARIANT keyArgument, VARIANT_BOOL* exists) {
  if (exists == nullptr) return E_POINTER;
  const VARIANT* key = UnwrappedArgument(keyArgument);
  if (key == nullptr) return E_INVALIDARG;
  SharedHold hold(lock_);
  *exists = entries_.Find(*key) != nullptr ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT Dictionary::Snapshot(bool keys, VARIANT* result) {
  if (result == nullptr) return E_POINTER;
  VariantInit(result);
  SharedHold hold(lock_);
  const size_t count = entries_.Count();
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
  if (array == nullptr) return E_OUTOFMEMORY;
  auto* elements = static_cast<VARIANT*>(array->pvData);
  for (size_t i = 0; i < count; ++i) {
    const DictionaryPair& pair = entries_.At(i);
    const HRESULT hr = VariantCopy(&elements[i], keys ? &pair.key : &pair.item);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
  }
  result->vt = VT_ARRAY | VT_VARIANT;
  result->parray = array;
  return S_OK;
}

HRESULT Dictionary::Items(VARIANT* items) { return Snapshot(false, items); }

HRESULT Dictionary::Keys(VARIANT* keys) { return Snapshot(true, keys); }

HRESULT Dictionary::Remove(VARIANT keyArgument) {
  const VARIANT* key = UnwrappedArgument(keyArgument);
  if (key == nullptr) return E_INVALIDARG;
  DictionaryPair removed;  // released after the lock
  ExclusiveHold hold(lock_);
  entries_.Remove(*key, &removed);
  return S_OK;
}

HRESULT Dictionary::RemoveAll() {
  DictionaryEntries removed;  // released after the lock
  ExclusiveHold hold(lock_);
  removed = std::exchange(entries_, DictionaryEntries());
  return S_OK;
}

// The file is read and split before the lock is taken; the old content is replaced in
// one exclusive hold, so readers never see a half-loaded file.
HRESULT Dictionary::LoadItems(VARIANT fileName, VARIANT delimiter) {
  if (fileName.vt != VT_BSTR || (delimiter.vt != VT_BSTR && delimiter.vt != VT_ERROR)) {
    return E_INVALIDARG;
  }
  try {
    std::vector<DictionaryPair> pairs;
    std::string path;
    const DWORD error = ReadItemPairs(fileName.bstrVal, delimiter, &path, &pairs);
    if (error != NO_ERROR) return ReportFileError(CLSID_Dictionary, IID_IDictionary, path, error);
    DictionaryEntries removed;  // released after the lock
    DictionaryPair replaced;
    ExclusiveHold hold(lock_);
    removed = std::exchange(entries_, DictionaryEntries());
    for (DictionaryPair& pair : pairs) entries_.Set(std::move(pair), &replaced);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Dictionary::_NewEnum(IUnknown** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  try {
    auto keys = std::make_shared<std::vector<Variant>>();
    {
      SharedHold hold(lock_);
      keys->resize(entries_.Count());
      for (size_t i = 0; i < keys->size(); ++i) {
        const HRESULT hr = VariantCopy(&(*keys)[i], &entries_.At(i).key);
        if (FAILED(hr)) return hr;
      }
    }
    IEnumVARIANT* created = nullptr;
    const HRESULT hr = KeyEnumerator::Create(std::move(keys), 0, &created);
    *enumerator = created;
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Dictionary::AddIfAbsent(const VARIANT& key, const VARIANT& item) {
  DictionaryPair pair;
  HRESULT hr = VariantCopy(&pair.key, &key);
  if (SUCCEEDED(hr)) hr = VariantCopy(&pair.item, &item);
  if (FAILED(hr)) return hr;
  ExclusiveHold hold(lock_);
  try {
    return entries_.AddIfAbsent(std::move(pair)) ? S_OK : S_FALSE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Dictionary::Take(const VARIANT& keyArgument, Variant* item) {
  const VARIANT* key = UnwrappedArgument(keyArgument);
  if (key == nullptr || !IsLookupKey(*key)) return E_INVALIDARG;
  const std::optional<int64_t> position = PositionKey(*key);
  DictionaryPair removed;  // released after the lock
  bool found = false;
  {
    ExclusiveHold hold(lock_);
    if (!position) {
      found = entries_.Remove(*key, &removed);
    } else if (*position >= 0) {
      found = entries_.RemoveAt(static_cast<size_t>(*position), &removed);
    }
  }
  if (!found) return S_FALSE;
  *item = std::move(removed.item);
  return S_OK;
}

}  // namespace vellumset
