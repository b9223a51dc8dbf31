// The key index of the entries against the plain definition: a linear scan for the
// first equal key over entries kept in order.
#include "vellumset/dictionary_entries.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using vellumset::DictionaryEntries;
using vellumset::DictionaryPair;
using vellumset::KeysEqual;

struct ModelEntry {
  Variant key;
  LONG item = 0;
};

// The entries as the plain definition keeps them.
class Model {
 public:
  ptrdiff_t Find(const VARIANT& key) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (KeysEqual(entries_[i].key, key)) return static_cast<ptrdiff_t>(i);
    }
    return -1;
  }
  void Append(const VARIANT& key, LONG item) {
    ModelEntry entry;
    VariantCopy(&entry.key, &key);
    entry.item = item;
    entries_.push_back(std::move(entry));
  }
  void Add(const VARIANT& key, LONG item) {
    RemoveAt(Find(key));
    Append(key, item);
  }
  void Set(const VARIANT& key, LONG item) {
    const ptrdiff_t at = Find(key);
    if (at < 0) {
      Append(key, item);
    } else {
      entries_[static_cast<size_t>(at)].item = item;
    }
  }
  bool RemoveAt(ptrdiff_t at) {
    if (at < 0 || static_cast<size_t>(at) >= entries_.size()) return false;
    entries_.erase(entries_.begin() + at);
    return true;
  }
  const std::vector<ModelEntry>& entries() const { return entries_; }

 private:
  std::vector<ModelEntry> entries_;
};

// A key from a space of `range` values of every kind: integers of two widths, texts,
// reals (with zero and minus zero), and dates, which are never found.
Variant RandomKey(std::mt19937& random, int range = 24) {
  const int value = static_cast<int>(random() % range);
  switch (random() % 5) {
    case 0:
      return Variant::Long(value);
    case 1:
      return Variant::Short(static_cast<SHORT>(value % 6));
    case 2: {
      const std::string text = "k" + std::to_string(value);
      return Variant::String(std::u16string(text.begin(), text.end()));
    }
    case 3:
      return Variant::Double(value % 3 == 0 ? (value % 2 ? -0.0 : 0.0) : value / 4.0);
    default: {
      Variant date;
      date.vt = VT_DATE;
      date.date = value;
      return date;
    }
  }
}

DictionaryPair Pair(const VARIANT& key, LONG item) {
  DictionaryPair pair;
  VariantCopy(&pair.key, &key);
  pair.item = Variant::Long(item);
  return pair;
}

void ExpectSame(const DictionaryEntries& entries, const Model& model, std::mt19937& random) {
  ASSERT_EQ(entries.Count(), model.entries().size());
  for (size_t i = 0; i < entries.Count(); ++i) {
    const VARIANT& key = entries.At(i).key;
    ASSERT_EQ(key.vt, model.entries()[i].key.vt) << i;
    ASSERT_TRUE(key.vt == VT_DATE || KeysEqual(key, model.entries()[i].key)) << i;
    ASSERT_EQ(entries.At(i).item.lVal, model.entries()[i].item) << i;
  }
  for (int probe = 0; probe < 8; ++probe) {
    const Variant key = RandomKey(random);
    const DictionaryPair* found = entries.Find(key);
    const ptrdiff_t at = model.Find(key);
    ASSERT_EQ(found != nullptr, at >= 0);
    if (found != nullptr) {
      ASSERT_EQ(found->item.lVal, model.entries()[static_cast<size_t>(at)].item);
    }
  }
}

TEST(DictionaryEntries, MatchALinearScanThroughAnyMixOfChanges) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 24; ++round) {
    // Small key spaces keep the entries few; large ones let them grow into the
    // thousands, with many removed places between them.
    const int range = round % 4 == 3 ? 3000 : 24;
    DictionaryEntries entries;
    Model model;
    for (int step = 0; step < (range > 24 ? 6000 : 1500); ++step) {
      const Variant key = RandomKey(random, range);
      const LONG item = step;
      DictionaryPair removed;
      switch (random() % 6) {
        case 0:
        case 1:
          entries.Add(Pair(key, item), &removed);
          model.Add(key, item);
          break;
        case 2:
          entries.Set(Pair(key, item), &removed);
          model.Set(key, item);
          break;
        case 3: {
          const bool added = entries.AddIfAbsent(Pair(key, item));
          ASSERT_EQ(added, model.Find(key) < 0);
          if (added) model.Append(key, item);
          break;
        }
        case 4:
          ASSERT_EQ(entries.Remove(key, &removed), model.RemoveAt(model.Find(key)));
          break;
        default: {
          const size_t position = random() % (model.entries().size() + 2);
          ASSERT_EQ(entries.RemoveAt(position, &removed),
                    model.RemoveAt(static_cast<ptrdiff_t>(position)));
          break;
        }
      }
      ExpectSame(entries, model, random);
    }
  }
}

TEST(DictionaryEntries, RemovedPairsAreHandedBack) {
  DictionaryEntries entries;
  DictionaryPair removed;
  entries.Add(Pair(Variant::String(u"a"), 1), &removed);
  EXPECT_EQ(removed.item.vt, VT_EMPTY);
  entries.Add(Pair(Variant::String(u"a"), 2), &removed);
  EXPECT_EQ(removed.item.lVal, 1);
  entries.Set(Pair(Variant::String(u"a"), 3), &removed);
  EXPECT_EQ(removed.item.lVal, 2);
  ASSERT_TRUE(entries.RemoveAt(0, &removed));
  EXPECT_EQ(removed.item.lVal, 3);
  EXPECT_EQ(BstrView(removed.key.bstrVal), u"a");
}

}  // namespace
