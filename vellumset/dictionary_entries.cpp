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

// ---- the live counts ----

void DictionaryEntries::LiveCounts::Build(const std::vector<uint32_t>& order) {
  tree_.assign(order.size() + 1, 0);
  for (size_t place = 1; place <= order.size(); ++place) {
    tree_[place] += order[place - 1] != kHole;
    const size_t parent = place + (place & (~place + 1));
    if (parent <= order.size()) tree_[parent] += tree_[place];
  }
}

int64_t DictionaryEntries::LiveCounts::Prefix(size_t end) const {
  int64_t sum = 0;
  for (; end > 0; end &= end - 1) sum += tree_[end];
  return sum;
}

// Node n covers the places (n - lowbit(n), n]: its own value plus those of the nodes
// below it, which are the prefix difference.
void DictionaryEntries::LiveCounts::Append(bool live) {
  if (tree_.empty()) tree_.push_back(0);
  const size_t node = tree_.size();
  const size_t low = node & (~node + 1);
  tree_.push_back(live + Prefix(node - 1) - Prefix(node - low));
}

void DictionaryEntries::LiveCounts::Remove(size_t place) {
  for (size_t node = place + 1; node < tree_.size(); node += node & (~node + 1)) --tree_[node];
}

size_t DictionaryEntries::LiveCounts::Find(size_t position) const {
  size_t node = 0;
  auto remaining = static_cast<int64_t>(position);
  for (size_t step = std::bit_floor(tree_.size() - 1); step > 0; step >>= 1) {
    if (node + step < tree_.size() && tree_[node + step] <= remaining) {
      node += step;
      remaining -= tree_[node];
    }
  }
  return node;  // the (position + 1)-th live place is node + 1, 1-based
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

void DictionaryEntries::Append(DictionaryPair pair, std::optional<uint64_t> hash) {
  if (Count() >= kMaxEntries) throw std::bad_alloc();
  // Everything that may allocate happens first, so that a failure changes nothing.
  if (freeSlots_.empty()) {
    MakeRoomForOne(slots_);
    freeSlots_.reserve(slots_.capacity());
  }
  MakeRoomForOne(order_);
  if (holes_ > 0) live_.Reserve(order_.capacity());
  if (hash) index_.Reserve(indexed_ + 1);

  Slot entry{std::move(pair), hash.value_or(0), hash.has_value(), order_.size()};
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
  if (holes_ > 0) live_.Append(true);
  if (hash) {
    index_.Insert(*hash, slot);
    ++indexed_;
  }
}

// The entry's place becomes a hole, or goes when it is the last. The counts of the
// first hole are built before anything changes; squeezing the holes out allocates
// nothing, so a removal that starts finishes.
void DictionaryEntries::RemoveSlot(uint32_t slot, DictionaryPair* removed) {
  Slot& entry = slots_[slot];
  const bool last = entry.place + 1 == order_.size() && holes_ == 0;
  if (!last && holes_ == 0) live_.Build(order_);
  if (entry.indexed) {
    index_.Erase(entry.hash, slot);
    --indexed_;
  }
  entry.indexed = false;
  *removed = std::move(entry.pair);
  freeSlots_.push_back(slot);  // has room for every slot
  if (last) {
    order_.pop_back();
    return;
  }
  OpenHole(entry.place);
  if (holes_ > Count()) Squeeze();
}

void DictionaryEntries::OpenHole(size_t place) {
  order_[place] = kHole;
  live_.Remove(place);
  ++holes_;
}

void DictionaryEntries::Squeeze() {
  size_t kept = 0;
  for (const uint32_t slot : order_) {
    if (slot == kHole) continue;
    slots_[slot].place = kept;
    order_[kept++] = slot;
  }
  order_.resize(kept);
  holes_ = 0;
  live_.Clear();
}

// A key added again keeps its slot and its bucket in the index: the new pair takes
// the slot, and the slot moves to the end of the order.
void DictionaryEntries::MoveToEnd(uint32_t slot, DictionaryPair pair, DictionaryPair* removed) {
  Slot& entry = slots_[slot];
  if (entry.place + 1 != order_.size()) {
    // Everything that may allocate happens first, so that a failure changes nothing.
    MakeRoomForOne(order_);
    if (holes_ == 0) live_.Build(order_);
    live_.Reserve(order_.capacity());

    OpenHole(entry.place);
    entry.place = order_.size();
    order_.push_back(slot);
    live_.Append(true);
  }
  *removed = std::move(entry.pair);
  entry.pair = std::move(pair);
  if (holes_ > Count()) Squeeze();
}

void DictionaryEntries::Add(DictionaryPair pair, DictionaryPair* removed, bool findable) {
  const std::optional<uint64_t> hash = findable ? KeyHash(pair.key) : std::nullopt;
  const uint32_t slot = hash ? FindSlot(pair.key, *hash) : KeyIndex::kNone;
  if (slot == KeyIndex::kNone) {
    Append(std::move(pair), hash);
    return;
  }
  MoveToEnd(slot, std::move(pair), removed);
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
  RemoveSlot(slot, removed);
  return true;
}

bool DictionaryEntries::RemoveAt(size_t position, DictionaryPair* removed) {
  if (position >= Count()) return false;
  RemoveSlot(order_[holes_ == 0 ? position : live_.Find(position)], removed);
  return true;
}

}  // namespace vellumset
