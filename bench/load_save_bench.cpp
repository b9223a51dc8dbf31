// A page's typical work, through IDispatch as a script does it: load the 1920 x 1200
// photograph from a byte array and save it as a JPEG at quality 70 to a byte array.
// bench/load_save_pillow.py times Pillow doing the same in the same run.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "bench/support/bench_data.h"
#include "platform/com/safe_array.h"
#include "vellum/easel.h"

namespace {

constexpr LONG kMemory = 1;
constexpr LONG kJpeg = 3;

Variant PhotoBytes() {
  std::ifstream file(bench_support::DataPath("medium.jpg"), std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
  if (bytes.empty()) throw std::runtime_error("missing benchmark input medium.jpg");
  Variant array;
  array.parray = MakeByteVector(bytes.data(), static_cast<ULONG>(bytes.size()));
  array.vt = VT_ARRAY | VT_UI1;
  return array;
}

// Calls a member by name, as a script engine does; arguments in call order.
HRESULT Call(IDispatch* object, const char16_t* name, WORD flags, std::vector<Variant>& arguments,
             VARIANT* result) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPID put = DISPID_PROPERTYPUT;
  const bool isPut = flags == DISPATCH_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), isPut ? &put : nullptr, static_cast<UINT>(reversed.size()),
                    isPut ? 1u : 0u};
  return object->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
}

void LoadAndSaveJpeg(benchmark::State& state, bool progressive) {
  ComPtr<IDispatch> easel;
  if (FAILED(CreateComObject<vellum::Easel>(nullptr, IID_IDispatch, easel.ReceiveVoid()))) {
    state.SkipWithError("no Easel");
    return;
  }
  std::vector<Variant> setting;
  setting.push_back(Variant::Long(progressive ? 1 : 0));
  Call(easel.Get(), u"JPEGProgressive", DISPATCH_PROPERTYPUT, setting, nullptr);
  std::vector<Variant> load;
  load.push_back(PhotoBytes());
  std::vector<Variant> save;
  save.push_back(Variant::Long(kMemory));
  save.push_back(Variant::Long(kJpeg));
  save.push_back(Variant());
  size_t bytes = 0;
  for (auto _ : state) {
    Variant saved;
    if (FAILED(Call(easel.Get(), u"LoadImage", DISPATCH_METHOD, load, nullptr)) ||
        FAILED(Call(easel.Get(), u"SaveImage", DISPATCH_METHOD, save, &saved))) {
      state.SkipWithError("load or save failed");
      break;
    }
    bytes = SafeArrayElementCount(saved.parray);
  }
  state.counters["jpeg_bytes"] = static_cast<double>(bytes);
}

void LoadSaveProgressive(benchmark::State& state) { LoadAndSaveJpeg(state, true); }
void LoadSaveBaseline(benchmark::State& state) { LoadAndSaveJpeg(state, false); }

BENCHMARK(LoadSaveProgressive)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadSaveBaseline)->Unit(benchmark::kMillisecond);

}  // namespace
