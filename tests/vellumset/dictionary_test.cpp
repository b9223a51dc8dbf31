// The Dictionary as scripts use it: through GetIDsOfNames and Invoke.
#include "vellumset/dictionary.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/com/error_info.h"
#include "tests/support/allowed_folders.h"
#include "tests/support/automation.h"
#include "tests/support/file_faults.h"
#include "tests/support/oracle.h"
#include "tests/support/registry_sandbox.h"
#include "tests/vellumset/vellumset_objects.h"

namespace {

using testing_support::Automation;
using testing_support::CallResult;
using testing_support::Reference;
using vellumset_testing::BoundsOf;
using vellumset_testing::TextsOf;

using Texts = std::vector<std::u16string>;

class DictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(object_); }
  Automation Script() { return Automation(object_.Get()); }
  Texts Keys() { return TextsOf(Script().Call(u"Keys").value); }
  Texts Items() { return TextsOf(Script().Call(u"Items").value); }
  LONG Count() { return Script().Get(u"Count").Long(); }
  bool Exists(Variant key) { return Script().Call(u"Exists", std::move(key)).value.boolVal != 0; }
  void Add(Variant key, Variant item) {
    ASSERT_EQ(Script().Call(u"Add", std::move(key), std::move(item)).hr, S_OK);
  }

  testing_support::RegistrySandbox sandbox_;
  ComPtr<IDispatch> object_ = vellumset_testing::CreateDispatch(vellumset::CLSID_Dictionary);
};

TEST_F(DictionaryTest, AddMovesAnExistingKeyToTheEnd) {
  Add(Variant::String(u"a"), Variant::Long(1));
  Add(Variant::String(u"b"), Variant::Long(2));
  Add(Variant::String(u"a"), Variant::Long(3));
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Keys(), (Texts{u"b", u"a"}));
  EXPECT_EQ(Script().Get(u"Item", u"a").Long(), 3);
  EXPECT_EQ(Script().Get(u"Item", Variant::Short(1)).Long(), 3);
}

TEST_F(DictionaryTest, PutsReplaceInPlaceAndAppendNewKeys) {
  Add(Variant::String(u"a"), Variant::Long(1));
  Add(Variant::String(u"b"), Variant::Long(2));
  EXPECT_EQ(Script().Put(u"Key", u"a", 5).hr, S_OK);
  EXPECT_EQ(Script().Put(u"Key", u"z", 7).hr, S_OK);
  EXPECT_EQ(Script().Put(u"Item", u"b", u"two").hr, S_OK);
  std::vector<Variant> putRef;
  putRef.push_back(Variant::String(u"c"));
  putRef.push_back(Variant::Long(3));
  EXPECT_EQ(Script().Invoke(0, DISPATCH_PROPERTYPUTREF, std::move(putRef)).hr, S_OK);
  EXPECT_EQ(Keys(), (Texts{u"a", u"b", u"z", u"c"}));
  EXPECT_EQ(Items(), (Texts{u"5", u"two", u"7", u"3"}));
}

TEST_F(DictionaryTest, KeysAreEqualOnlyWithTheSameTypeAndValue) {
  Add(Variant::String(u"a"), Variant::Long(0));
  EXPECT_FALSE(Exists(Variant::String(u"A")));
  EXPECT_FALSE(Exists(Variant::String(std::u16string(u"a\0", 2))));
  Add(Variant::Short(1), Variant::Long(1));
  Add(Variant::Long(1), Variant::Long(2));
  Add(Variant::String(u"1"), Variant::Long(3));
  Add(Variant::Double(1), Variant::Long(4));
  Add(Variant::Bool(true), Variant::Long(5));
  EXPECT_EQ(Count(), 6);
  // Zero and minus zero are one key; the NaN is a key that is never found.
  Add(Variant::Double(0.0), Variant::Long(6));
  Add(Variant::Double(-0.0), Variant::Long(7));
  Add(Variant::Double(std::nan("")), Variant::Long(8));
  Add(Variant::Double(std::nan("")), Variant::Long(9));
  EXPECT_EQ(Count(), 9);
  EXPECT_TRUE(Exists(Variant::Double(0.0)));
  EXPECT_FALSE(Exists(Variant::Double(std::nan(""))));
  // A date is a key of a type that is stored but never found, even by itself.
  Add(vellumset_testing::Date(45000), Variant::Long(10));
  Add(vellumset_testing::Date(45000), Variant::Long(11));
  EXPECT_EQ(Count(), 11);
  EXPECT_FALSE(Exists(vellumset_testing::Date(45000)));
  EXPECT_EQ(Script().Call(u"Remove", vellumset_testing::Date(45000)).hr, S_OK);
  EXPECT_EQ(Count(), 11);
  // Empty and null keys each equal themselves.
  Add(Variant(), Variant::Long(12));
  Variant null;
  null.vt = VT_NULL;
  EXPECT_FALSE(Exists(std::move(null)));
  EXPECT_TRUE(Exists(Variant()));
}

TEST_F(DictionaryTest, ItemFindsNamesAndPositions) {
  for (const char16_t* key : {u"x", u"y", u"z"}) Add(Variant::String(key), Variant::String(key));
  EXPECT_EQ(Script().Get(u"Item", Variant::Short(0)).Text(), u"x");
  EXPECT_EQ(Script().Get(u"Item", Variant::Long(2)).Text(), u"z");
  EXPECT_EQ(Script().Get(u"Item", u"y").Text(), u"y");
  std::vector<Variant> absent;
  absent.push_back(Variant::Long(3));
  absent.push_back(Variant::Short(-1));
  absent.push_back(Variant::String(u"w"));
  absent.push_back(Variant::Long(65536));
  absent.push_back(Variant::Long(65537));
  absent.push_back(Variant::Long(-65536));
  for (Variant& key : absent) {
    const CallResult found = Script().Get(u"Item", std::move(key));
    EXPECT_EQ(found.hr, S_OK);
    EXPECT_EQ(found.value.vt, VT_EMPTY);  // a 32-bit position is never cut to 16 bits
  }
  EXPECT_EQ(Script().Get(u"Item", 1.5).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Get(u"Item", true).Error(), E_INVALIDARG);
  Variant position = Variant::Long(1);
  EXPECT_EQ(Script().Get(u"Item", Reference(&position)).Text(), u"y");
  LONG byReference = 1;
  EXPECT_EQ(Script().Get(u"Item", vellumset_testing::LongReference(&byReference)).Error(),
            E_INVALIDARG);
}

TEST_F(DictionaryTest, ArgumentsAreStoredAsCopiesOfTheValuesTheyReferTo) {
  Variant key = Variant::String(u"k");
  Variant item = Variant::Long(1);
  Add(Reference(&key), Reference(&item));
  item = Variant::Long(2);
  key = Variant::String(u"other");
  EXPECT_EQ(Script().Get(u"Item", u"k").Long(), 1);
  // A reference to a plain value is kept as that value; as a key it is of another
  // type than the value, so it is never found.
  LONG number = 7;
  Add(vellumset_testing::LongReference(&number), vellumset_testing::LongReference(&number));
  number = 8;
  const CallResult items = Script().Call(u"Items");
  const auto* elements = static_cast<const VARIANT*>(items.value.parray->pvData);
  EXPECT_EQ(elements[1].vt, VT_I4);
  EXPECT_EQ(elements[1].lVal, 7);
  EXPECT_EQ(Keys(), (Texts{u"k", u"7"}));
  EXPECT_FALSE(Exists(Variant::Long(7)));
  Variant nowhere;
  nowhere.vt = VT_BYREF | VT_VARIANT;
  nowhere.pvarVal = nullptr;
  EXPECT_EQ(Script().Call(u"Add", std::move(nowhere), 1).Error(), E_INVALIDARG);
}

TEST_F(DictionaryTest, KeysAndItemsAreArraysInEntryOrder) {
  CallResult keys = Script().Call(u"Keys");
  EXPECT_EQ(keys.value.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(BoundsOf(keys.value), std::make_pair(0, -1));
  EXPECT_EQ(BoundsOf(Script().Call(u"Items").value), std::make_pair(0, -1));
  Add(Variant::String(u"one"), Variant::Long(1));
  Add(Variant::Long(2), Variant::String(u"two"));
  Add(Variant::String(u"three"), testing_support::ByteArray({1, 2, 3}));
  EXPECT_EQ(Keys(), (Texts{u"one", u"2", u"three"}));
  keys = Script().Call(u"Keys");
  EXPECT_EQ(BoundsOf(keys.value), std::make_pair(0, 2));
  const CallResult items = Script().Call(u"Items");
  const auto* elements = static_cast<const VARIANT*>(items.value.parray->pvData);
  EXPECT_EQ(testing_support::ArrayBytes(elements[2]), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(DictionaryTest, RemoveKeepsTheOrderOfTheRest) {
  for (int i = 0; i < 5; ++i) Add(Variant::Long(i), Variant::Long(i * 10));
  EXPECT_EQ(Script().Call(u"Remove", Variant::Long(2)).hr, S_OK);
  EXPECT_EQ(Script().Call(u"Remove", Variant::Long(2)).hr, S_OK);  // absent: nothing to do
  EXPECT_EQ(Script().Call(u"Remove", u"0").hr, S_OK);              // another type: absent
  EXPECT_EQ(Keys(), (Texts{u"0", u"1", u"3", u"4"}));
  EXPECT_EQ(Script().Get(u"Item", Variant::Long(2)).Long(), 30);
  EXPECT_TRUE(Exists(Variant::Long(4)));
  EXPECT_EQ(Script().Call(u"RemoveAll").hr, S_OK);
  EXPECT_EQ(Count(), 0);
  EXPECT_FALSE(Exists(Variant::Long(4)));
  Add(Variant::Long(4), Variant::Long(1));
  EXPECT_EQ(Keys(), (Texts{u"4"}));
}

TEST_F(DictionaryTest, KeyEnumeratorWalksASnapshot) {
  Add(Variant::String(u"a"), Variant::Long(1));
  Add(Variant::String(u"b"), Variant::Long(2));
  Add(Variant::String(u"c"), Variant::Long(3));
  CallResult made = Script().Call(u"_NewEnum");
  ASSERT_EQ(made.value.vt, VT_UNKNOWN);
  ComPtr<IEnumVARIANT> keys;
  ASSERT_EQ(made.value.punkVal->QueryInterface(IID_IEnumVARIANT, keys.ReceiveVoid()), S_OK);
  Add(Variant::String(u"d"), Variant::Long(4));
  Script().Call(u"Remove", u"a");

  Variant first[2];
  ULONG fetched = 99;
  EXPECT_EQ(keys->Next(2, first, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(BstrView(first[0].bstrVal), u"a");
  EXPECT_EQ(BstrView(first[1].bstrVal), u"b");
  ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(keys->Clone(clone.Receive()), S_OK);
  keys = nullptr;  // the clone keeps the snapshot
  Variant rest[3];
  EXPECT_EQ(clone->Next(3, rest, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(BstrView(rest[0].bstrVal), u"c");
  Variant none;
  EXPECT_EQ(clone->Next(1, &none, nullptr), S_FALSE);
  EXPECT_EQ(clone->Reset(), S_OK);
  EXPECT_EQ(clone->Skip(3), S_OK);
  EXPECT_EQ(clone->Reset(), S_OK);
  EXPECT_EQ(clone->Skip(4), S_FALSE);
  EXPECT_EQ(clone->Next(1, &none, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(clone->Next(2, rest, nullptr), E_POINTER);
  EXPECT_EQ(clone->Next(1, nullptr, &fetched), E_POINTER);
}

// The system error behind a failed LoadItems: its Win32-facility HRESULT, the system's
// message as the description, the class as the source; the content stays.
TEST_F(DictionaryTest, LoadItemsFailuresReportTheSystemErrorAndKeepTheContent) {
  vellumset_testing::RegisterProgIds();
  Add(Variant::String(u"kept"), Variant::Long(1));
  const std::u16string directory = sandbox_.Directory().Path().u16string();
  const std::u16string bad = directory + u"/bad.txt";
  testing_support::WriteFileBytes(sandbox_.Directory().File("bad.txt"), {'a', '=', 0xFF, '\n'});
  const struct {
    std::u16string file;
    HRESULT error;
    std::u16string description;
  } cases[] = {
      {directory + u"/missing.txt", HRESULT(0x80070002), u"No such file or directory\r\n"},
      {directory, HRESULT(0x80070015), u"Is a directory\r\n"},
      {bad, HRESULT(0x80070054), u"Invalid or incomplete multibyte or wide character\r\n"},
      {std::u16string(u"/tmp\0/x", 7), HRESULT(0x80070016), u"Invalid argument\r\n"},
      {directory + u"/pipe", HRESULT(0x80070016), u"Invalid argument\r\n"},  // not waited on
      {u"/dev/zero", HRESULT(0x80070016), u"Invalid argument\r\n"},
  };
  ASSERT_TRUE(testing_support::MakeFifo(sandbox_.Directory().File("pipe")));
  for (const auto& c : cases) {
    const CallResult loaded = Script().Call(u"LoadItems", Variant::String(c.file));
    EXPECT_EQ(loaded.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(loaded.scode, c.error);
    EXPECT_EQ(loaded.description, c.description);
    EXPECT_EQ(loaded.source, u"VellumSet.Dictionary.1");
  }
  EXPECT_EQ(Script().Call(u"LoadItems", Variant::String(bad + u"\xD800")).scode,
            HRESULT(0x80070054));  // a name with no UTF-8 form
  EXPECT_EQ(Script().Call(u"LoadItems", 5).Error(), E_INVALIDARG);
  EXPECT_EQ(Script().Call(u"LoadItems", Variant::String(bad), 5).Error(), E_INVALIDARG);
  Variant name = Variant::String(bad);
  EXPECT_EQ(Script().Call(u"LoadItems", Reference(&name)).Error(), E_INVALIDARG);
  EXPECT_EQ(Keys(), (Texts{u"kept"}));
}

TEST_F(DictionaryTest, LoadItemsOutsideTheAllowedFoldersIsRefused) {
  vellumset_testing::RegisterProgIds();
  const testing_support::TempDir allowed;
  testing_support::WriteFileBytes(allowed.File("in.txt"), {'a', '=', '1', '\n'});
  const testing_support::AllowedFoldersScope scope({allowed.Path().string()});
  const CallResult refused = Script().Call(u"LoadItems", u"/etc/passwd");
  EXPECT_EQ(refused.scode, HRESULT(0x8007000D));
  EXPECT_EQ(refused.description,
            u"Access is denied: the file is outside the folders this server may open files in");
  EXPECT_EQ(Keys(), Texts{});
  const std::u16string inside = allowed.Path().u16string() + u"/in.txt";
  EXPECT_EQ(Script().Call(u"LoadItems", inside.c_str()).hr, S_OK);
  EXPECT_EQ(Keys(), (Texts{u"a"}));
}

class LoadItemsTest : public DictionaryTest {
 protected:
  // Loads a file holding `text`; the result of the call.
  HRESULT Load(const std::string& text, const char16_t* delimiter = nullptr) {
    const std::string file = sandbox_.Directory().File("items.txt");
    testing_support::WriteFileBytes(file, std::vector<uint8_t>(text.begin(), text.end()));
    const std::u16string name(file.begin(), file.end());
    if (delimiter == nullptr) return Script().Call(u"LoadItems", name.c_str()).hr;
    return Script().Call(u"LoadItems", name.c_str(), delimiter).hr;
  }
};

TEST_F(LoadItemsTest, SplitsEachLineAtTheFirstDelimiter) {
  ASSERT_EQ(Load("colour=red\nsize = 10\ncolour=blue"), S_OK);
  EXPECT_EQ(Keys(), (Texts{u"colour", u"size "}));
  EXPECT_EQ(Items(), (Texts{u"blue", u" 10"}));
  ASSERT_EQ(Load("a=b=c\nno delimiter\n=empty key\n\ttab= \n"), S_OK);
  EXPECT_EQ(Keys(), (Texts{u"a", u"", u"\ttab"}));
  EXPECT_EQ(Items(), (Texts{u"b=c", u"empty key", u" "}));
  ASSERT_EQ(Load("name: value\nother:x\n", u": "), S_OK);
  EXPECT_EQ(Keys(), (Texts{u"name"}));
  EXPECT_EQ(Items(), (Texts{u"value"}));
  ASSERT_EQ(Load("caf\xC3\xA9=\xE2\x82\xAC\n"), S_OK);
  EXPECT_EQ(Keys(), (Texts{u"caf\u00E9"}));
  EXPECT_EQ(Items(), (Texts{u"\u20AC"}));
}

TEST_F(LoadItemsTest, LineEndsComeSinglyOrInPairs) {
  ASSERT_EQ(Load("a=1\r\nb=2\n\rc=3\r\rd=4\n\ne=5\r\n\r\nf=6\r\r\rg=7"), S_OK);
  EXPECT_EQ(Keys(), (Texts{u"a", u"b", u"c", u"d", u"e", u"f", u"g"}));
  EXPECT_EQ(Items(), (Texts{u"1", u"2", u"3", u"4", u"5", u"6", u"7"}));
  ASSERT_EQ(Load(std::string("x=1\ny=2\0z=3\n", 12)), S_OK);  // the text ends at a NUL
  EXPECT_EQ(Keys(), (Texts{u"x", u"y"}));
}

TEST_F(LoadItemsTest, ReplacesTheContentAndKeepsTheFirstPositionOfARepeatedKey) {
  Add(Variant::String(u"old"), Variant::Long(1));
  ASSERT_EQ(Load("b=1\na=2\nb=3\n"), S_OK);
  EXPECT_EQ(Keys(), (Texts{u"b", u"a"}));
  EXPECT_EQ(Items(), (Texts{u"3", u"2"}));
  // An empty delimiter matches at the start: every line is the item of the empty key.
  ASSERT_EQ(Load("first\n\nlast=line\n", u""), S_OK);
  EXPECT_EQ(Keys(), (Texts{u""}));
  EXPECT_EQ(Items(), (Texts{u"last=line"}));
  // An empty file loads no entries.
  ASSERT_EQ(Load(""), S_OK);
  EXPECT_EQ(Count(), 0);
}

}  // namespace
