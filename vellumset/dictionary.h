// Dictionary: the free-threaded key/item store of VellumSet, created by its ProgID or
// privately by an Images collection. Every member runs under the object's
// writer-preferring read/write lock: lookups, counts and snapshots share it, changes
// hold it exclusively. Keys and items are stored as copies of the arguments (a
// reference to a VARIANT is followed one level; other references are stored as the
// values they refer to, so nothing points into the caller's memory).
#pragma once

#include "platform/automation/dispatch.h"
#include "vellumset/dictionary_entries.h"
#include "vellumset/free_threaded.h"
#include "vellumset/interfaces.h"
#include "vellumset/read_write_lock.h"

namespace vellumset {

const automation::BoundInterface& DictionaryInterface();

// A key or item argument: a reference to a VARIANT stands for the VARIANT it refers to
// (one level). Null for a reference to nothing.
const VARIANT* UnwrappedArgument(const VARIANT& argument);

class Dictionary final : public FreeThreadedObject<DispatchImpl<IDictionary, &DictionaryInterface>,
                                                   SupportErrorInfoFor<IDictionary>> {
 public:
  explicit Dictionary(IUnknown* outer) : FreeThreadedObject(outer) {}
  HRESULT FinalConstruct();

  HRESULT get_Item(VARIANT key, VARIANT* item) override;
  HRESULT put_Item(VARIANT key, VARIANT item) override;
  HRESULT putref_Item(VARIANT key, VARIANT item) override;
  HRESULT Add(VARIANT key, VARIANT item) override;
  HRESULT get_Count(LONG* count) override;
  HRESULT Exists(VARIANT key, VARIANT_BOOL* exists) override;
  HRESULT Items(VARIANT* items) override;
  HRESULT put_Key(VARIANT key, VARIANT item) override;
  HRESULT Keys(VARIANT* keys) override;
  HRESULT Remove(VARIANT key) override;
  HRESULT RemoveAll() override;
  HRESULT LoadItems(VARIANT fileName, VARIANT delimiter) override;
  HRESULT _NewEnum(IUnknown** enumerator) override;

  // For the Images collection, each one step under the lock.
  // Appends the pair unless the key exists: S_FALSE (nothing changed) when it does.
  HRESULT AddIfAbsent(const VARIANT& key, const VARIANT& item);
  // Removes the entry `Item` would find for the key (a name, or a position) and hands
  // its item over; S_FALSE when there is none.
  HRESULT Take(const VARIANT& key, Variant* item);

 private:
  enum class Change { kAdd, kSet };
  HRESULT Store(const VARIANT& key, const VARIANT& item, Change change);
  // A snapshot of the keys or the items as a safe array of VARIANTs.
  HRESULT Snapshot(bool keys, VARIANT* result);

  ReadWriteLock lock_;
  DictionaryEntries entries_;
};

}  // namespace vellumset
