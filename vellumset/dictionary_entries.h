// The entries of a Dictionary: key/item pairs in the order of their insertion, with
// an index on the keys so that a lookup, a replacement, a removal and a re-adding by
// key cost constant time on average. A removed entry leaves a hole in the order, so
// that nothing moves; the entries after it still come one position earlier. Holes
// are squeezed out once they outnumber the entries, and while there are any, a
// lookup by position counts past them through a tree of counts (logarithmic time).
//
// Key equality is exact: two keys are equal only if their VARIANT types are identical
// and their values are (strings byte for byte, numbers by value, objects by identity);
// keys of other types, and the NaN, equal nothing, so they can be stored but are
// never found. Keys stay unique: an entry is only appended once no equal key is left.
//
// The class does no locking and no argument checking; a Dictionary does both. Growth
// throws std::bad_alloc and leaves the entries as they were. A pair that leaves the
// store is handed to the caller, who releases it after letting go of its lock (so that
// no object is released under the lock); to empty the store, move it away.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/com/variant.h"

namespace vellumset {

bool KeysEqual(const VARIANT& a, const VARIANT& b);
// A hash agreeing with KeysEqual; nothing for a key that equals no key.
std::optional<uint64_t> KeyHash(const VARIANT& key);

struct DictionaryPair {
  Variant key;
  Variant item;
};

class DictionaryEntries {
 public:
  // The most entries a dictionary holds: its count is a signed 32-bit number.
  static constexpr size_t kMaxEntries = 0x7FFFFFFF;

  size_t Count() const { return order_.size() - holes_; }
  // The pair at a position below Count().
  const DictionaryPair& At(size_t position) const {
    return slots_[order_[holes_ == 0 ? position : live_.Find(position)]].pair;
  }
  // The pair whose key equals `key`, or null.
  const DictionaryPair* Find(const VARIANT& key) const;

  // Removes the entry whose key equals `pair.key` (into `removed`) and appends the pair.
  // An unfindable pair is appended without looking (its key will never be found).
  void Add(DictionaryPair pair, DictionaryPair* removed, bool findable = true);
  // Replaces the pair whose key equals `pair.key` in its position (the old pair goes
  // into `removed`), or appends it when there is none.
  void Set(DictionaryPair pair, DictionaryPair* removed, bool findable = true);
  // Appends the pair unless an equal key exists; false (nothing changed) when one does.
  bool AddIfAbsent(DictionaryPair pair);
  // Removes the entry whose key equals `key`, or the entry at `position`, into
  // `removed`; false when there is none.
  bool Remove(const VARIANT& key, DictionaryPair* removed);
  bool RemoveAt(size_t position, DictionaryPair* removed);

 private:
  struct Slot {
    DictionaryPair pair;
    uint64_t hash = 0;
    bool indexed = false;  // a key that can be found
    size_t place = 0;      // where the slot stands in order_
  };

  // Counts of live places, so that the n-th live one is found in logarithmic time:
  // a Fenwick tree over the places of order_.
  class LiveCounts {
   public:
    void Build(const std::vector<uint32_t>& order);
    void Clear() { tree_.clear(); }
    // Makes room for one more place; the only operation that allocates.
    void Reserve(size_t places) { tree_.reserve(places + 1); }
    void Append(bool live);
    void Remove(size_t place);
    // The place of the live entry at `position`.
    size_t Find(size_t position) const;

   private:
    int64_t Prefix(size_t end) const;  // live places among the first `end`
    std::vector<int64_t> tree_;        // 1-based; tree_[0] unused
  };

  // Open addressing with linear probing over slot numbers; a bucket keeps its key's
  // hash so that mismatches are mostly told without reading the slot.
  class KeyIndex {
   public:
    static constexpr uint32_t kNone = 0xFFFFFFFF;
    template <typename Matches>
    uint32_t Find(uint64_t hash, Matches matches) const;
    // Makes room for `count` keys; the only operation that allocates.
    void Reserve(size_t count);
    void Insert(uint64_t hash, uint32_t slot);
    void Erase(uint64_t hash, uint32_t slot);

   private:
    struct Bucket {
      uint32_t slot = kNone;
      uint64_t hash = 0;
    };
    size_t Home(uint64_t hash) const { return static_cast<size_t>(hash) & (buckets_.size() - 1); }
    void Place(Bucket bucket);

    std::vector<Bucket> buckets_;  // a power of two, at most half full
  };

  static constexpr uint32_t kHole = 0xFFFFFFFF;

  uint32_t FindSlot(const VARIANT& key, uint64_t hash) const;
  void Append(DictionaryPair pair, std::optional<uint64_t> hash);
  void RemoveSlot(uint32_t slot, DictionaryPair* removed);
  void MoveToEnd(uint32_t slot, DictionaryPair pair, DictionaryPair* removed);
  // Leaves a hole at `place` in the order; the live counts must be built.
  void OpenHole(size_t place);
  void Squeeze();

  std::vector<Slot> slots_;          // entries live here; numbers stay while they live
  std::vector<uint32_t> freeSlots_;  // slots left by removed entries (room for all)
  std::vector<uint32_t> order_;      // the slot at each place, or kHole
  size_t holes_ = 0;                 // kHole places in order_
  LiveCounts live_;                  // kept while there are holes
  KeyIndex index_;
  size_t indexed_ = 0;  // entries in the index
};

}  // namespace vellumset
