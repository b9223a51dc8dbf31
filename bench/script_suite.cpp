// The Dictionary and script side of Vellum's benchmark suites (bench/run.py; protocol
// in bench/support/suite.h): script loops in the script engine over the collection
// server's Dictionary, as a page drives it, and one member called 100,000 times from a
// script and straight through IDispatch::Invoke.
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/suite.h"
#include "platform/com/object.h"
#include "script/script_globals.h"
#include "script/script_values.h"
#include "vellumset/dictionary.h"

namespace {

using bench_support::Operation;
using bench_support::State;

HRESULT Call(IDispatch* object, const char16_t* name, std::vector<Variant>& arguments) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  return object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

ComPtr<IDispatch> NewDictionary() {
  ComPtr<IDispatch> dictionary;
  if (FAILED(CreateComObject<vellumset::Dictionary>(nullptr, IID_IDispatch,
                                                    dictionary.ReceiveVoid()))) {
    throw std::runtime_error("no Dictionary");
  }
  return dictionary;
}

// ---- script loops over a Dictionary ----

constexpr int kKeys = 80000;

// A heap with a Dictionary as `d`, 80,000 keys in `keys` and the function `work`.
struct ScriptState : State {
  duk_context* ctx = nullptr;
  ScriptState(const std::string& setup, const std::string& work) {
    ctx = script::CreateHeap();
    script::PushAutomationObject(ctx, NewDictionary().Get());
    duk_put_global_string(ctx, "d");
    const std::string source = "var keys = []; for (var i = 0; i < " + std::to_string(kKeys) +
                               "; i++) keys.push('key-' + i);\n" + setup + "\nfunction work() {" +
                               work + "}";
    if (!script::RunSource(ctx, source, "bench")) throw std::runtime_error(script::ErrorText(ctx));
  }
  ~ScriptState() override { duk_destroy_heap(ctx); }
  size_t Run() {
    duk_get_global_string(ctx, "work");
    if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS) throw std::runtime_error(script::ErrorText(ctx));
    duk_pop(ctx);
    return 0;
  }
};

Operation ScriptOp(std::string name, std::string setup, std::string work) {
  return {std::move(name), false, false,
          [setup, work](const std::string&) { return std::make_unique<ScriptState>(setup, work); },
          [](State& state) { return static_cast<ScriptState&>(state).Run(); }};
}

const char* const kFill = "for (var i = 0; i < keys.length; i++) d.Add(keys[i], i);";

// The Dictionary's Exists called through IDispatch::Invoke, as a compiled host would.
struct InvokeState : State {
  ComPtr<IDispatch> dictionary;
  DISPID exists = DISPID_UNKNOWN;
  explicit InvokeState(const std::string&) : dictionary(NewDictionary()) {
    std::vector<Variant> add;
    add.push_back(Variant::String(u"k"));
    add.push_back(Variant::Long(1));
    Call(dictionary.Get(), u"Add", add);
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Exists")};
    dictionary->GetIDsOfNames(IID_NULL, names, 1, 0, &exists);
  }
  size_t Run() {
    Variant key = Variant::String(u"k");
    for (int i = 0; i < 100000; ++i) {
      DISPPARAMS params{&key, nullptr, 1, 0};
      Variant result;
      dictionary->Invoke(exists, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    }
    return 0;
  }
};

template <typename StateType, typename Work>
Operation Op(std::string name, Work work) {
  return {std::move(name), false, false,
          [](const std::string& photo) { return std::make_unique<StateType>(photo); },
          [work](State& state) { return work(static_cast<StateType&>(state)); }};
}

std::vector<Operation> Operations() {
  std::vector<Operation> ops;
  ops.push_back(ScriptOp("dictionary.add80k", "", std::string("d.RemoveAll(); ") + kFill));
  ops.push_back(ScriptOp("dictionary.readd80k", kFill, kFill));
  ops.push_back(
      ScriptOp("dictionary.lookup80k", kFill,
               "var total = 0; for (var i = 0; i < keys.length; i++) total += d.Item(keys[i]);"));
  // 100,000 calls of one member, from a script and straight through IDispatch::Invoke.
  ops.push_back(ScriptOp("script.call.late-bound.100k", "d.Add('k', 1);",
                         "for (var i = 0; i < 100000; i++) d.Exists('k');"));
  ops.push_back(Op<InvokeState>("script.call.invoke.100k", [](InvokeState& s) { return s.Run(); }));
  ops[ops.size() - 2].note = "the yardstick is IDispatch::Invoke's own cost, the next row";
  ops.back().note = "the direct call a late-bound one is measured against";
  return ops;
}

}  // namespace

int main(int argc, char** argv) {
  return bench_support::ServeSuite(argc, argv, Operations(), [](int) {});
}
