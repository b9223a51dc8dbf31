// The Images collection and its Image objects as scripts use them.
#include "vellumset/images.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/com/error_info.h"
#include "tests/support/allowed_folders.h"
#include "tests/support/automation.h"
#include "tests/support/file_faults.h"
#include "tests/support/oracle.h"
#include "tests/support/registry_sandbox.h"
#include "tests/vellumset/test_field.h"
#include "tests/vellumset/vellumset_objects.h"

namespace {

using testing_support::ArrayBytes;
using testing_support::Automation;
using testing_support::ByteArray;
using testing_support::CallResult;
using vellumset_testing::TestField;

using ByteVector = std::vector<uint8_t>;

ByteVector Pattern(size_t size, uint8_t seed) {
  ByteVector bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

Variant Dispatch(IDispatch* object) {
  Variant value;
  value.vt = VT_DISPATCH;
  value.pdispVal = object;
  object->AddRef();
  return value;
}

class ImagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(object_);
    vellumset_testing::RegisterProgIds();
  }
  Automation Script() { return Automation(object_.Get()); }
  LONG Count() { return Script().Get(u"Count").Long(); }
  HRESULT Load(const char16_t* name, const ByteVector& bytes, int format = 0) {
    return Script().Call(u"LoadImage", name, ByteArray(bytes), format).Error();
  }
  // The bytes of the image under a key, as SaveImage without a destination gives them.
  template <typename Key>
  ByteVector Saved(Key&& key) {
    return ArrayBytes(Script().Call(u"SaveImage", std::forward<Key>(key)).value);
  }
  // The name of the image Item finds for a key.
  template <typename Key>
  std::u16string NameAt(Key&& key) {
    const CallResult found = Script().Get(u"Item", std::forward<Key>(key));
    if (found.value.vt != VT_DISPATCH) return u"<" + found.description + u">";
    return Automation(found.value.pdispVal).Get(u"Name").Text();
  }
  // Expects a failure reported as error information of the collection.
  void ExpectMessage(const CallResult& result, const std::u16string& message,
                     HRESULT error = DISP_E_EXCEPTION) {
    EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(result.Error(), error);
    EXPECT_EQ(result.description, message);
    EXPECT_EQ(result.source, u"Quillmark.Images.1");
  }
  std::u16string PathOf(const std::string& name) {
    const std::string path = sandbox_.Directory().File(name);
    return std::u16string(path.begin(), path.end());
  }

  testing_support::RegistrySandbox sandbox_;
  ComPtr<IDispatch> object_ = vellumset_testing::CreateDispatch(vellumset::CLSID_Images);
};

TEST_F(ImagesTest, NamesAreCaseSensitiveAndALoadedNameIsNeverReplaced) {
  EXPECT_EQ(Script().Get(u"ChunkSize").Long(), 2048);
  ASSERT_EQ(Load(u"a", {1, 2}), S_OK);
  ASSERT_EQ(Load(u"A", {3}), S_OK);
  EXPECT_EQ(Count(), 2);
  ExpectMessage(Script().Call(u"LoadImage", u"a", ByteArray({9})),
                u"a already exists in the collection");
  EXPECT_EQ(Saved(u"a"), (ByteVector{1, 2}));
  EXPECT_EQ(Script().Call(u"Exists", u"A").value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Script().Call(u"Exists", u"b").value.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Script().Call(u"LoadImage", 5, ByteArray({1})).Error(), E_INVALIDARG);
  ExpectMessage(Script().Call(u"LoadImage", u"c", 5), u"Invalid data type");
  Variant name = Variant::String(u"c");
  Variant path = Variant::String(u"/no/such/file");
  ExpectMessage(Script().Call(u"LoadImage", u"c", testing_support::Reference(&path)),
                u"Invalid data type");
  EXPECT_EQ(Script().Call(u"LoadImage", testing_support::Reference(&name), ByteArray({1})).Error(),
            E_INVALIDARG);
  EXPECT_EQ(Count(), 2);
}

TEST_F(ImagesTest, ImagesGiveTheirBytesNameFormatAndOrdinal) {
  Variant bytes = ByteArray(Pattern(300, 5));
  ASSERT_EQ(Script().Call(u"LoadImage", u"picture", testing_support::Reference(&bytes), 6).hr,
            S_OK);
  ASSERT_EQ(Load(u"odd format", {1}, 7), S_OK);  // the format is kept as it is
  CallResult item = Script().Get(u"Item", u"picture");
  ASSERT_EQ(item.value.vt, VT_DISPATCH);
  Automation image(item.value.pdispVal);
  EXPECT_EQ(image.Get(u"Name").Text(), u"picture");
  EXPECT_EQ(image.Get(u"Format").Long(), 6);
  EXPECT_EQ(image.Get(u"Ordinal").Long(), 0);
  EXPECT_EQ(ArrayBytes(image.Get(u"Image").value), Pattern(300, 5));
  EXPECT_EQ(Saved(u"picture"), Pattern(300, 5));
  EXPECT_EQ(Automation(Script().Get(u"Item", u"odd format").value.pdispVal).Get(u"Format").Long(),
            7);
  // An Image handed out stays whole after the collection lets it go.
  ASSERT_EQ(Script().Call(u"RemoveAll").hr, S_OK);
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(ArrayBytes(image.Get(u"Image").value), Pattern(300, 5));
}

TEST_F(ImagesTest, ItemAndSaveImageFindNamesAndWholePositions) {
  ASSERT_EQ(Load(u"first", {1}), S_OK);
  ASSERT_EQ(Load(u"second", {2}), S_OK);
  EXPECT_EQ(NameAt(Variant::Short(0)), u"first");
  EXPECT_EQ(NameAt(Variant::Long(1)), u"second");
  EXPECT_EQ(Saved(Variant::Long(1)), ByteVector{2});
  ExpectMessage(Script().Get(u"Item", Variant::Long(65536)),
                u"65536 does not exist in the collection");
  ExpectMessage(Script().Get(u"Item", Variant::Short(-1)), u"-1 does not exist in the collection");
  ExpectMessage(Script().Get(u"Item", u"third"), u"third does not exist in the collection");
  ExpectMessage(Script().Get(u"Item", 1.5), u"This key does not exist in the collection");
  ExpectMessage(Script().Call(u"SaveImage", u"third"), u"third does not exist in the collection");
  ASSERT_EQ(Script().Call(u"Remove", u"first").hr, S_OK);
  EXPECT_EQ(NameAt(Variant::Short(0)), u"second");
}

TEST_F(ImagesTest, RemoveTakesANameOrAPosition) {
  for (const char16_t* name : {u"a", u"b", u"c", u"d"}) ASSERT_EQ(Load(name, {1}), S_OK);
  ASSERT_EQ(Script().Call(u"Remove", Variant::Long(1)).hr, S_OK);
  ASSERT_EQ(Script().Call(u"Remove", Variant::Short(2)).hr, S_OK);
  ASSERT_EQ(Script().Call(u"Remove", u"a").hr, S_OK);
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(NameAt(Variant::Short(0)), u"c");
  ExpectMessage(Script().Call(u"Remove", u"a"), u"a does not exist in the collection");
  ExpectMessage(Script().Call(u"Remove", Variant::Long(1)), u"1 does not exist in the collection");
  EXPECT_EQ(Count(), 1);
}

TEST_F(ImagesTest, LoadsFilesAndSavesToFiles) {
  const std::string source = sandbox_.Directory().File("source.bin");
  testing_support::WriteFileBytes(source, Pattern(70000, 3));
  ASSERT_EQ(Script().Call(u"LoadImage", u"file", PathOf("source.bin").c_str()).hr, S_OK);
  EXPECT_EQ(Saved(u"file"), Pattern(70000, 3));
  // Saving replaces an existing file; the result is left empty.
  const std::string target = sandbox_.Directory().File("target.bin");
  testing_support::WriteFileBytes(target, Pattern(90000, 1));
  const CallResult saved = Script().Call(u"SaveImage", u"file", PathOf("target.bin").c_str());
  EXPECT_EQ(saved.hr, S_OK);
  EXPECT_EQ(saved.value.vt, VT_EMPTY);
  EXPECT_EQ(testing_support::ReadFileBytes(target), Pattern(70000, 3));

  ExpectMessage(Script().Call(u"LoadImage", u"x", PathOf("missing.bin").c_str()),
                u"Unable to access data");
  ExpectMessage(Script().Call(u"LoadImage", u"x", PathOf("").c_str()), u"Unable to access data");
  ExpectMessage(Script().Call(u"SaveImage", u"file", PathOf("").c_str()), u"Is a directory\r\n",
                HRESULT(0x80070015));
  ExpectMessage(Script().Call(u"SaveImage", u"file", PathOf("no/such/dir").c_str()),
                u"No such file or directory\r\n", HRESULT(0x80070002));
  EXPECT_EQ(Script().Call(u"SaveImage", u"file", 5).Error(), E_INVALIDARG);
  EXPECT_EQ(Count(), 1);
}

// A save that fails while writing (as on a full disk) leaves the file it would have
// replaced as it was; pipes and devices are refused at once.
TEST_F(ImagesTest, AFailedSaveLeavesTheFileAndPipesAreRefused) {
  ASSERT_EQ(Load(u"image", Pattern(5000, 1)), S_OK);
  const std::string target = sandbox_.Directory().File("target.bin");
  testing_support::WriteFileBytes(target, Pattern(3000, 2));
  {
    const testing_support::FileSizeLimit limit(1000);
    ExpectMessage(Script().Call(u"SaveImage", u"image", PathOf("target.bin").c_str()),
                  u"File too large\r\n", HRESULT(0x8007001B));
  }
  EXPECT_EQ(testing_support::ReadFileBytes(target), Pattern(3000, 2));

  const std::string pipe = sandbox_.Directory().File("pipe");
  ASSERT_TRUE(testing_support::MakeFifo(pipe));
  ExpectMessage(Script().Call(u"LoadImage", u"x", PathOf("pipe").c_str()),
                u"Unable to access data");
  ExpectMessage(Script().Call(u"LoadImage", u"x", u"/dev/zero"), u"Unable to access data");
  ExpectMessage(Script().Call(u"SaveImage", u"image", PathOf("pipe").c_str()),
                u"Invalid argument\r\n", HRESULT(0x80070016));
  EXPECT_EQ(Count(), 1);
}

// With the files restricted to some folders, paths outside them are refused with a
// message that says so, for loading and for saving.
TEST_F(ImagesTest, PathsOutsideTheAllowedFoldersAreRefused) {
  const testing_support::TempDir allowed;
  testing_support::WriteFileBytes(sandbox_.Directory().File("outside.bin"), Pattern(10, 1));
  testing_support::WriteFileBytes(allowed.File("inside.bin"), Pattern(10, 2));
  const testing_support::AllowedFoldersScope scope({allowed.Path().string()});
  const std::u16string inside = allowed.Path().u16string() + u"/inside.bin";
  ASSERT_EQ(Script().Call(u"LoadImage", u"in", inside.c_str()).hr, S_OK);
  const std::u16string refusal =
      u"Access is denied: the file is outside the folders this server may open files in";
  ExpectMessage(Script().Call(u"LoadImage", u"out", PathOf("outside.bin").c_str()), refusal,
                HRESULT(0x8007000D));
  ExpectMessage(Script().Call(u"SaveImage", u"in", PathOf("copy.bin").c_str()), refusal,
                HRESULT(0x8007000D));
  EXPECT_FALSE(std::filesystem::exists(sandbox_.Directory().File("copy.bin")));
  const std::u16string copy = allowed.Path().u16string() + u"/copy.bin";
  EXPECT_EQ(Script().Call(u"SaveImage", u"in", copy.c_str()).hr, S_OK);
}

TEST_F(ImagesTest, LoadsDatabaseFieldsByName) {
  ComPtr<TestField> field = TestField::Make(Pattern(2500, 9));
  ASSERT_EQ(Script().Call(u"LoadImage", u"blob", Dispatch(field.Get())).hr, S_OK);
  EXPECT_EQ(Saved(u"blob"), Pattern(2500, 9));
  EXPECT_EQ(field->requestedLengths, (std::vector<LONG>{2500, 2500, 2500}));

  // A value shorter than ActualSize ends at the first null chunk, zeros after it.
  field = TestField::Make({1, 2, 3, 4});
  field->actualSize = Variant::Long(6);
  ASSERT_EQ(Script().Call(u"LoadImage", u"short", Dispatch(field.Get())).hr, S_OK);
  EXPECT_EQ(Saved(u"short"), (ByteVector{1, 2, 3, 4, 0, 0}));
  EXPECT_EQ(field->getChunkCalls, 2);
  // A field that gives more than ActualSize is read no further once the value is full.
  field = TestField::Make(Pattern(50, 1));
  field->actualSize = Variant::Long(5);
  field->chunkLimit = 2;
  ASSERT_EQ(Script().Call(u"LoadImage", u"long", Dispatch(field.Get())).hr, S_OK);
  EXPECT_EQ(Saved(u"long"), ByteVector(field->value.begin(), field->value.begin() + 5));
  EXPECT_EQ(field->getChunkCalls, 3);
  field = TestField::Make({});
  ASSERT_EQ(Script().Call(u"LoadImage", u"empty", Dispatch(field.Get())).hr, S_OK);
  EXPECT_EQ(Saved(u"empty"), ByteVector{});

  field = TestField::Make({1});
  field->members = {u"ActualSize", u"AppendChunk"};
  ExpectMessage(Script().Call(u"LoadImage", u"x", Dispatch(field.Get())), u"Unable to access data");
  field = TestField::Make({1});
  field->actualSize.vt = VT_NULL;
  ExpectMessage(Script().Call(u"LoadImage", u"x", Dispatch(field.Get())), u"Unable to access data");
  field->actualSize = Variant::Long(-1);
  ExpectMessage(Script().Call(u"LoadImage", u"x", Dispatch(field.Get())), u"Unable to access data");
  EXPECT_EQ(Count(), 4);
}

TEST_F(ImagesTest, SavesToDatabaseFieldsInOneAppendChunk) {
  ASSERT_EQ(Load(u"image", Pattern(3000, 4)), S_OK);
  ComPtr<TestField> field = TestField::Make({});
  ASSERT_EQ(Script().Call(u"SaveImage", u"image", Dispatch(field.Get())).hr, S_OK);
  EXPECT_EQ(field->appendArgumentType, VT_BYREF | VT_VARIANT);
  EXPECT_EQ(field->appended, Pattern(3000, 4));
  field->appendFailure = E_ACCESSDENIED;
  ExpectMessage(Script().Call(u"SaveImage", u"image", Dispatch(field.Get())),
                u"the field refused the value", E_ACCESSDENIED);
  field->members = {u"GetChunk"};
  ExpectMessage(Script().Call(u"SaveImage", u"image", Dispatch(field.Get())),
                u"Parameter does not support the AppendChunk method");
}

TEST_F(ImagesTest, EnumeratorGivesOneImagePerCallUpToTheCountItStartedWith) {
  for (const char16_t* name : {u"a", u"b", u"c"}) ASSERT_EQ(Load(name, {1}), S_OK);
  auto enumerate = [&] {
    ComPtr<IEnumVARIANT> images;
    const CallResult made = Script().Get(u"_NewEnum");
    EXPECT_EQ(made.value.vt, VT_UNKNOWN);
    made.value.punkVal->QueryInterface(IID_IEnumVARIANT, images.ReceiveVoid());
    return images;
  };
  auto next = [](IEnumVARIANT* images) -> std::u16string {
    Variant values[3];
    ULONG fetched = 99;
    const HRESULT hr = images->Next(3, values, &fetched);
    if (hr != S_OK) return hr == S_FALSE && fetched == 0 ? u"<end>" : u"<error>";
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(values[1].vt, VT_EMPTY);
    return Automation(values[0].pdispVal).Get(u"Name").Text();
  };
  ComPtr<IEnumVARIANT> all = enumerate();
  ComPtr<IEnumVARIANT> shrinking = enumerate();
  ASSERT_EQ(Load(u"d", {1}), S_OK);  // past the end the enumerators started with
  EXPECT_EQ(next(all.Get()), u"a");
  EXPECT_EQ(next(all.Get()), u"b");
  EXPECT_EQ(next(all.Get()), u"c");
  EXPECT_EQ(next(all.Get()), u"<end>");
  EXPECT_EQ(all->Reset(), S_OK);
  EXPECT_EQ(all->Skip(2), S_OK);
  EXPECT_EQ(next(all.Get()), u"c");
  EXPECT_EQ(next(shrinking.Get()), u"a");
  ASSERT_EQ(Script().Call(u"Remove", u"b").hr, S_OK);
  ASSERT_EQ(Script().Call(u"Remove", u"c").hr, S_OK);
  EXPECT_EQ(next(shrinking.Get()), u"d");  // position 1 now holds d
  EXPECT_EQ(next(shrinking.Get()), u"<end>");
  IEnumVARIANT* copy = reinterpret_cast<IEnumVARIANT*>(1);
  EXPECT_EQ(all->Clone(&copy), E_NOTIMPL);
  EXPECT_EQ(copy, nullptr);
  Variant value;
  EXPECT_EQ(all->Next(2, &value, nullptr), E_POINTER);
  // The enumerator keeps the entries alive after the collection is released.
  all->Reset();
  object_ = nullptr;
  EXPECT_EQ(next(all.Get()), u"a");
}

TEST_F(ImagesTest, NullResultPointersAreRefused) {
  vellumset::IImages* images = static_cast<vellumset::IImages*>(object_.Get());
  const std::function<HRESULT()> calls[] = {[&] { return images->get_Count(nullptr); },
                                            [&] { return images->get_ChunkSize(nullptr); },
                                            [&] { return images->get__NewEnum(nullptr); },
                                            [&] { return images->get_Item(Variant(), nullptr); }};
  for (const auto& call : calls) {
    EXPECT_EQ(call(), E_POINTER);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    Bstr description;
    info->GetDescription(description.Receive());
    info->Release();
    EXPECT_EQ(description.View(), u"out pointer is invalid");
  }
  EXPECT_EQ(images->Exists(Variant(), nullptr), E_POINTER);
  ASSERT_EQ(Load(u"a", {1}), S_OK);
  ComPtr<vellumset::IImage> image;
  ASSERT_EQ(images->get_Item(Variant::String(u"a"), image.Receive()), S_OK);
  EXPECT_EQ(image->get_Name(nullptr), E_POINTER);
  EXPECT_EQ(image->get_Image(nullptr), E_POINTER);
  EXPECT_EQ(image->get_Format(nullptr), E_POINTER);
  EXPECT_EQ(image->get_Ordinal(nullptr), E_POINTER);
}

}  // namespace
