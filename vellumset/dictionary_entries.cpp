#include "vellumset/dictionary_entries.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>

namespace vellumset {

namespace {

uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::string_view BstrBytes(BSTR text) {
  return {reinterpret_cast<const char*>(text), SysStringByteLen(text)};
}

// Grows a vector ahead of an append, so that the append itself cannot fail.
template <typename T>
void MakeRoomForOne(std::vector<T>& values) {
  if (values.size() == values.capacity()) values.reserve(std::max<size_t>(8, values.size() * 2));
}

}  // namespace

bool KeysEqual(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I2:
    case VT_BOOL:
      return a.iVal == b.iVal;
    case VT_I4:
    case VT_ERROR:
      return a.lVal == b.lVal;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return a.punkVal == b.punkVal;
    case VT_R4:
      return a.fltVal == b.fltVal;
    case VT_R8:
      return a.dblVal == b.dblVal;
    case VT_BSTR:
      return BstrBytes(a.bstrVal) == BstrBytes(b.bstrVal);
    case VT_UI1:
      return a.bVal == b.bVal;
    default:
      return false;
  }
}

std::optional<uint64_t> KeyHash(const VARIANT& key) {
  uint64_t value = 0;
  switch (key.vt) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_I2:
    case VT_BOOL:
      value = static_cast<uint16_t>(key.iVal);
      break;
    case VT_I4:
    case VT_ERROR:
      value = static_cast<uint32_t>(key.lVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      value = reinterpret_cast<uintptr_t>(key.punkVal);
      break;
    // Zero and minus zero compare equal, so they hash alike; NaN equals nothing.
    case VT_R4:
      if (std::isnan(key.fltVal)) return std::nullopt;
      value = key.fltVal == 0 ? 0 : std::bit_cast<uint32_t>(key.fltVal);
      break;
    case VT_R8:
      if (std::isnan(key.dblVal)) return std::nullopt;
      value = key.dblVal == 0 ? 0 : std::bit_cast<uint64_t>(key.dblVal);
      break;
    case VT_BSTR:
      value = std::hash<std::string_view>{}(BstrBytes(key.bstrVal));
      break;
    case VT_UI1:
      value = key.bVal;
      break;
    default:
      return std::nullopt;
  }
  return Mix(Mix(value) + key.vt);
}

// ---- the key index ----

template <typename Matches>
uint32_t DictionaryEntries::KeyIndex::Find(uint64_t hash, Matches matches) const {
  if (buckets_.empty()) return kNone;
  const size_t mask = buckets_.size() - 1;
  for (size_t i = Home(hash);; i = (i + 1) & mask) {
    const Bucket& bucket = buckets_[i];
    if (bucket.slot == kNone) return kNone;
    if (bucket.hash == hash && matches(bucket.slot)) return bucket.slot;
  }
}

void DictionaryEntries::KeyIndex::Reserve(size_t count) {
  if (count * 2 <= buckets_.size()) return;
  size_t size = std::max<size_t>(16, buckets_.size());
  while (size < count * 2) size *= 2;
  std::vector<Bucket> old = std::exchange(buckets_, std::vector<Bucket>(size));
  for (const Bucket& bucket : old) {
    if (bucket.slot != kNone) Place(bucket);
  }
}

void DictionaryEntries::KeyIndex::Place(Bucket bucket) {
  const size_t mask = buckets_.size() - 1;
  size_t i = Home(bucket.hash);
  while (buckets_[i].slot != kNone) i = (i + 1) & mask;
  buckets_[i] = bucket;
}

void DictionaryEntries::KeyIndex::Insert(uint64_t hash, uint32_t slot) { Place({slot, hash}); }

// Backward-shift deletion: the buckets after the hole that may move into it do, so
// that every key stays reachable from its home bucket without tombstones.
void DictionaryEntries::KeyIndex::Erase(uint64_t hash, uint32_t slot) {
  const size_t mask = buckets_.size() - 1;
  size_t hole = Home(hash);
  while (buckets_[hole].slot != slot) hole = (hole + 1) & mask;
  for (size_t j = (hole + 1) & mask; buckets_[j].slot != kNone; j = (j + 1) & mask) {
    const size_t home = Home(buckets_[j].hash);
    if (((j - home) & mask) >= ((j - hole) & mask)) {
      buckets_[hole] = buckets_[j];
      hole = j;
    }
  }
  buckets_[hole] = Bucket{};
}

// ---- the entries ----

uint32_t DictionaryEntries::FindSlot(const VARIANT& key, uint64_t hash) const {
  return index_.Find(hash, [&](uint32_t slot) { return KeysEqual(slots_[slot].pair.key, key); });
}

const DictionaryPair* DictionaryEntries::Find(const VARIANT& key) const {
  const std::optional<uint64_t> hash = KeyHash(key);
  if (!hash) return nullptr;
  const uint32_t slot = FindSlot(key, *hash);
  return slot == KeyIndex::kNone ? nullptr : &slots_[slot].pair;
}

size_t DictionaryEntries::PositionOf(uint32_t slot) const {
  return static_cast<size_t>(std::find(order_.begin(), order_.end(), slot) - order_.begin());
}

void DictionaryEntries::Append(DictionaryPair pair, std::optional<uint64_t> hash) {
  if (order_.size() >= kMaxEntries) throw std::bad_alloc();
  // Everything that may allocate happens first, so that a failure changes nothing.
  if (freeSlots_.empty()) {
    MakeRoomForOne(slots_);
    freeSlots_.reserve(slots_.capacity());
  }
  MakeRoomForOne(order_);
  if (hash) index_.Reserve(indexed_ + 1);

  Slot entry{std::move(pair), hash.value_or(0), hash.has_value()};
  uint32_t slot = 0;
  if (freeSlots_.empty()) {
    slot = static_cast<uint32_t>(slots_.size());
    slots_.push_back(std::move(entry));
  } else {
    slot = freeSlots_.back();
    freeSlots_.pop_back();
    slots_[slot] = std::move(entry);
  }
  order_.push_back(slot);
  if (hash) {
    index_.Insert(*hash, slot);
    ++indexed_;
  }
}

void DictionaryEntries::RemoveSlot(uint32_t slot, size_t position, DictionaryPair* removed) {
  Slot& entry = slots_[slot];
  if (entry.indexed) {
    index_.Erase(entry.hash, slot);
    --indexed_;
  }
  entry.indexed = false;
  order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(position));
  *removed = std::move(entry.pair);
  freeSlots_.push_back(slot);  // has room for every slot
}

void DictionaryEntries::Add(DictionaryPair pair, DictionaryPair* removed, bool findable) {
  const std::optional<uint64_t> hash = findable ? KeyHash(pair.key) : std::nullopt;
  if (hash) {
    const uint32_t slot = FindSlot(pair.key, *hash);
    if (slot != KeyIndex::kNone) RemoveSlot(slot, PositionOf(slot), removed);
  }
  Append(std::move(pair), hash);
}

void DictionaryEntries::Set(DictionaryPair pair, DictionaryPair* removed, bool findable) {
  const std::optional<uint64_t> hash = findable ? KeyHash(pair.key) : std::nullopt;
  const uint32_t slot = hash ? FindSlot(pair.key, *hash) : KeyIndex::kNone;
  if (slot == KeyIndex::kNone) {
    Append(std::move(pair), hash);
    return;
  }
  *removed = std::move(slots_[slot].pair);
  slots_[slot].pair = std::move(pair);
}

bool DictionaryEntries::AddIfAbsent(DictionaryPair pair) {
  const std::optional<uint64_t> hash = KeyHash(pair.key);
  if (hash && FindSlot(pair.key, *hash) != KeyIndex::kNone) return false;
  Append(std::move(pair), hash);
  return true;
}

bool DictionaryEntries::Remove(const VARIANT& key, DictionaryPair* removed) {
  const std::optional<uint64_t> hash = KeyHash(key);
  const uint32_t slot = hash ? FindSlot(key, *hash) : KeyIndex::kNone;
  if (slot == KeyIndex::kNone) return false;
  RemoveSlot(slot, PositionOf(slot), removed);
  return true;
}

bool DictionaryEntries::RemoveAt(size_t position, DictionaryPair* removed) {
  if (position >= order_.size()) return false;
  RemoveSlot(order_[position], position, removed);
  return true;
}

}  // namespace vellumset
