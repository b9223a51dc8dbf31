// The Dictionary's cost with its size: 100,000 Adds (onto 1,000 keys, each Add of a
// present key moving it to the end, or of 100,000 new keys), then 100,000 lookups by key
// and 100,000 by position, on dictionaries of 1,000 and 100,000 entries. The calls go
// through the IDictionary table, as a script host's early-bound calls would.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/com/object.h"
#include "vellumset/dictionary.h"

namespace {

constexpr int kCalls = 100000;

ComPtr<vellumset::IDictionary> NewDictionary() {
  ComPtr<vellumset::IDictionary> dictionary;
  CreateComObject<vellumset::Dictionary>(nullptr, vellumset::IID_IDictionary,
                                         dictionary.ReceiveVoid());
  return dictionary;
}

std::vector<Variant> Keys(int count) {
  std::vector<Variant> keys;
  keys.reserve(count);
  for (int i = 0; i < count; ++i) {
    const std::string text = "key-" + std::to_string(i);
    keys.push_back(Variant::String(std::u16string(text.begin(), text.end())));
  }
  return keys;
}

// 100,000 Adds whose keys cycle through `entries` keys.
void AddAll(vellumset::IDictionary* dictionary, const std::vector<Variant>& keys) {
  for (int i = 0; i < kCalls; ++i) {
    dictionary->Add(keys[i % keys.size()], Variant::Long(i));
  }
}

void BM_Adds(benchmark::State& state) {
  const std::vector<Variant> keys = Keys(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ComPtr<vellumset::IDictionary> dictionary = NewDictionary();
    AddAll(dictionary.Get(), keys);
    LONG count = 0;
    dictionary->get_Count(&count);
    benchmark::DoNotOptimize(count);
  }
  state.SetItemsProcessed(state.iterations() * kCalls);
}

// The same Adds as a script makes them: IDispatch::Invoke with the arguments in a
// DISPPARAMS.
void BM_AddsThroughInvoke(benchmark::State& state) {
  const std::vector<Variant> keys = Keys(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ComPtr<vellumset::IDictionary> dictionary = NewDictionary();
    for (int i = 0; i < kCalls; ++i) {
      VARIANT arguments[2] = {Variant::Long(i), keys[i % keys.size()]};  // last argument first
      DISPPARAMS params = {arguments, nullptr, 2, 0};
      dictionary->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
  }
  state.SetItemsProcessed(state.iterations() * kCalls);
}

void BM_ItemByKey(benchmark::State& state) {
  const std::vector<Variant> keys = Keys(static_cast<int>(state.range(0)));
  ComPtr<vellumset::IDictionary> dictionary = NewDictionary();
  AddAll(dictionary.Get(), keys);
  for (auto _ : state) {
    for (int i = 0; i < kCalls; ++i) {
      Variant item;
      dictionary->get_Item(keys[(i * 7919) % keys.size()], &item);
      benchmark::DoNotOptimize(item.lVal);
    }
  }
  state.SetItemsProcessed(state.iterations() * kCalls);
}

void BM_ItemByPosition(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  ComPtr<vellumset::IDictionary> dictionary = NewDictionary();
  AddAll(dictionary.Get(), Keys(entries));
  for (auto _ : state) {
    for (int i = 0; i < kCalls; ++i) {
      Variant item;
      dictionary->get_Item(Variant::Long((i * 7919) % entries), &item);
      benchmark::DoNotOptimize(item.lVal);
    }
  }
  state.SetItemsProcessed(state.iterations() * kCalls);
}

BENCHMARK(BM_Adds)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddsThroughInvoke)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ItemByKey)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ItemByPosition)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
