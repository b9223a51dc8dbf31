// Automation objects as script values, over the collection server's Dictionary: member
// functions are made once per object and name, hold their own reference to the
// object, and resolve names as GetIDsOfNames does.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/object.h"
#include "script/script_globals.h"
#include "script/script_values.h"
#include "vellumset/dictionary.h"

namespace {

ComPtr<IDispatch> NewDictionary() {
  ComPtr<IDispatch> dictionary;
  EXPECT_TRUE(SUCCEEDED(
      CreateComObject<vellumset::Dictionary>(nullptr, IID_IDispatch, dictionary.ReceiveVoid())));
  return dictionary;
}

// References held on the object besides the caller's one.
ULONG OtherReferences(IDispatch* object) {
  object->AddRef();
  return object->Release() - 1;
}

class AutomationProxy : public testing::Test {
 protected:
  AutomationProxy() : ctx_(script::CreateHeap()) {}
  ~AutomationProxy() override {
    if (ctx_ != nullptr) duk_destroy_heap(ctx_);
  }

  void Define(const char* name, IDispatch* object) {
    script::PushAutomationObject(ctx_, object);
    duk_put_global_string(ctx_, name);
  }

  // Runs the source and returns its value as text, or the error's.
  std::string Run(const std::string& source) {
    if (!script::RunSource(ctx_, source, "test")) {
      const std::string error = script::ErrorText(ctx_);
      duk_pop(ctx_);
      return "error: " + error;
    }
    std::string text = duk_safe_to_string(ctx_, -1);
    duk_pop(ctx_);
    return text;
  }

  void DestroyHeap() {
    duk_destroy_heap(ctx_);
    ctx_ = nullptr;
  }

  duk_context* ctx_;
};

TEST_F(AutomationProxy, MemberFunctionsBelongToTheirOwnObject) {
  ComPtr<IDispatch> first = NewDictionary();
  ComPtr<IDispatch> second = NewDictionary();
  Define("d1", first.Get());
  Define("d2", second.Get());
  EXPECT_EQ(Run("d1.Add('a', 1); d2.Add('b', 2); var add = d1.Add; add('c', 3);"
                "[d1.Count, d2.Count, d1.Exists('c'), d2.Exists('c'), d1.Add === add].join()"),
            "2,1,true,false,true");
}

TEST_F(AutomationProxy, NamesResolveWithoutCaseAndPropertiesWithParametersStillPut) {
  ComPtr<IDispatch> dictionary = NewDictionary();
  Define("d", dictionary.Get());
  EXPECT_EQ(Run("d.ADD('x', 2); d.Item.put('y', 5); d.item.put('x', 7);"
                "[d.exists('x'), d.Exists('X'), d.Item('x'), d.ITEM('y'), d.COUNT].join()"),
            "true,false,7,5,2");
  EXPECT_EQ(Run("try { d.NoSuchMember; 'no error' } catch (e) { e.message }"),
            "no member named 'NoSuchMember': DISP_E_UNKNOWNNAME (0x80020006)");
}

TEST_F(AutomationProxy, AMemberFunctionOutlivesItsObjectsValueAndReleasesIt) {
  ComPtr<IDispatch> dictionary = NewDictionary();
  Define("d", dictionary.Get());
  EXPECT_EQ(Run("var add = d.Add; var item = d.Item; d = undefined; Duktape.gc();"
                "add('kept', 1); item('kept')"),
            "1");
  EXPECT_GT(OtherReferences(dictionary.Get()), 0u);
  DestroyHeap();
  EXPECT_EQ(OtherReferences(dictionary.Get()), 0u);
}

TEST_F(AutomationProxy, StrictErrorsLeaveObjectsWithoutErrorTextAlone) {
  ComPtr<IDispatch> dictionary = NewDictionary();
  Define("d", dictionary.Get());
  script::SetStrictErrors(ctx_, true);
  EXPECT_EQ(Run("d.Add('a', 1); d.Remove('none'); d.Count"), "1");
}

}  // namespace
