// Heaps with limits: scripts that loop, allocate without end or catch their way past
// the stop are ended, and the heap says why.
#include "script/script_heap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "script/script_globals.h"
#include "script/script_values.h"

namespace {

using script::ScriptHeap;
using script::StopReason;
using std::chrono::steady_clock;

constexpr size_t kCap = 8 * 1024 * 1024;

// stop(): the page's End, called from inside the script.
duk_ret_t StopFromScript(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, "heap");
  static_cast<ScriptHeap*>(duk_get_pointer(ctx, -1))->Stop(StopReason::kEnded);
  return 0;
}

std::unique_ptr<ScriptHeap> MakeHeap(size_t cap) {
  std::unique_ptr<ScriptHeap> heap = ScriptHeap::Create(cap);
  if (!heap) return heap;
  duk_context* ctx = heap->Context();
  duk_push_global_stash(ctx);
  duk_push_pointer(ctx, heap.get());
  duk_put_prop_string(ctx, -2, "heap");
  duk_pop(ctx);
  duk_push_c_function(ctx, StopFromScript, 0);
  duk_put_global_string(ctx, "stop");
  return heap;
}

// What the script left in the global array `trace`, joined with ",". Read through the
// engine's interface, as a stopped heap runs no more script.
std::string Trace(duk_context* ctx) {
  std::string text;
  if (duk_get_global_string(ctx, "trace") && duk_is_array(ctx, -1)) {
    const duk_size_t length = duk_get_length(ctx, -1);
    for (duk_size_t i = 0; i < length; ++i) {
      duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(i));
      text += (i > 0 ? "," : "") + std::string(duk_safe_to_string(ctx, -1));
      duk_pop(ctx);
    }
  }
  duk_pop(ctx);
  return text;
}

struct EndlessCase {
  const char* name;
  const char* source;
};

class EndlessScripts : public ::testing::TestWithParam<EndlessCase> {};

TEST_P(EndlessScripts, StopAtTheDeadlineWhateverTheyCatch) {
  std::unique_ptr<ScriptHeap> heap = MakeHeap(kCap);
  ASSERT_TRUE(heap);
  const auto start = steady_clock::now();
  heap->SetDeadline(start + std::chrono::milliseconds(200));
  EXPECT_FALSE(script::RunSource(heap->Context(), GetParam().source, "endless.js"));
  EXPECT_EQ(heap->Stopped(), StopReason::kTimeLimit);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(Trace(heap->Context()), "") << "nothing after the stop ran";
}

INSTANTIATE_TEST_SUITE_P(
    Loops, EndlessScripts,
    ::testing::Values(
        EndlessCase{"Plain", "while (true) {}"},
        EndlessCase{"CatchesAndRetries",
                    "for (;;) { try { for (;;) {} } catch (e) {} }; var trace = ['after'];"},
        EndlessCase{"LoopsInFinally",
                    "function f() { try { for (;;) {} } finally { for (;;) {} } }\n"
                    "try { f(); } catch (e) { var trace = ['caught']; }"},
        EndlessCase{"Recursion",
                    "function f(n) { try { return f(n + 1); } catch (e) { return f(n); } }"
                    " f(0);"}),
    [](const ::testing::TestParamInfo<EndlessCase>& test) { return std::string(test.param.name); });

TEST(ScriptHeap, AllocationPastTheCapEndsTheScriptEvenWhenCaught) {
  std::unique_ptr<ScriptHeap> heap = MakeHeap(kCap);
  ASSERT_TRUE(heap);
  EXPECT_FALSE(script::RunSource(heap->Context(), R"(
      var kept = [];
      for (;;) {
        try { kept.push({ n: kept.length, text: "item " + kept.length }); } catch (e) {}
      }
      var trace = ["after"];
    )",
                                 "grow.js"));
  EXPECT_EQ(heap->Stopped(), StopReason::kMemoryLimit);
  EXPECT_LE(heap->BytesInUse(), kCap);
}

TEST(ScriptHeap, StopFromACallEndsTheScriptAtOnce) {
  std::unique_ptr<ScriptHeap> heap = MakeHeap(kCap);
  ASSERT_TRUE(heap);
  EXPECT_FALSE(script::RunSource(heap->Context(), R"(
      var trace = ["before"];
      try { stop(); trace.push("after"); } catch (e) { trace.push("caught"); }
      finally { trace.push("finally"); }
      trace.push("end");
    )",
                                 "stop.js"));
  EXPECT_EQ(heap->Stopped(), StopReason::kEnded);
  EXPECT_EQ(Trace(heap->Context()), "before");
}

TEST(ScriptHeap, WithinItsLimitsAScriptRunsToTheEnd) {
  std::unique_ptr<ScriptHeap> heap = MakeHeap(kCap);
  ASSERT_TRUE(heap);
  heap->SetDeadline(steady_clock::now() + std::chrono::seconds(60));
  EXPECT_TRUE(script::RunSource(
      heap->Context(), "var trace = []; for (var i = 0; i < 100000; i++) trace[i % 3] = i;",
      "fine.js"));
  EXPECT_EQ(heap->Stopped(), StopReason::kNone);
  EXPECT_EQ(Trace(heap->Context()), "99999,99997,99998");
  EXPECT_GT(heap->BytesInUse(), 0u);
}

// An object whose references the test can count; scripts only hold and drop it.
class CountedObject final : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  ULONG references = 0;
};

CountedObject g_counted;

duk_ret_t MakeCounted(duk_context* ctx) {
  script::PushAutomationObject(ctx, &g_counted);
  return 1;
}

// nested(source): runs the source on a new engine thread with globals of its own, from
// inside a call of the script (as a page runs another page).
duk_ret_t Nested(duk_context* ctx) {
  duk_push_thread_new_globalenv(ctx);
  duk_context* child = duk_get_context(ctx, -1);
  duk_push_c_function(child, MakeCounted, 0);
  duk_put_global_string(child, "make");
  duk_dup(ctx, 0);
  duk_xmove_top(child, ctx, 1);
  duk_push_string(child, "nested.js");
  duk_compile(child, 0);
  duk_call(child, 0);
  return 0;
}

TEST(ScriptHeap, ObjectsDroppedOnANestedThreadAreReleased) {
  std::unique_ptr<ScriptHeap> heap = MakeHeap(kCap);
  ASSERT_TRUE(heap);
  duk_push_c_function(heap->Context(), Nested, 1);
  duk_put_global_string(heap->Context(), "nested");
  ASSERT_TRUE(script::RunSource(
      heap->Context(), "nested('for (var i = 0; i < 3; i++) make(); Duktape.gc();');", "outer.js"))
      << script::ErrorText(heap->Context());
  EXPECT_EQ(g_counted.references, 0u) << "finalized while the heap is alive";
  heap.reset();
  EXPECT_EQ(g_counted.references, 0u);
}

}  // namespace
