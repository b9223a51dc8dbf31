// VellumSet registered with the registration tool and driven by scripts, each run in a
// fresh process of the script runner.
#include <gtest/gtest.h>

#include "tests/support/oracle.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::ToolRun;

class VellumSetScriptTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  VellumSetScriptTest() : ToolRunner(REGSVR_PATH, SCRIPT_PATH) {}
  void SetUp() override {
    const ToolRun registered = Register(VELLUMSET_MODULE_PATH);
    ASSERT_EQ(registered.status, 0) << registered.err;
  }
  // Runs a script with the private directory as its first argument; its output.
  std::string Run(const std::string& source) {
    const ToolRun run = Script(source, testing_support::ShellQuote(Directory().Path().string()));
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }
};

constexpr char kAttempt[] = R"(
  function attempt(f) {
    try { f(); print("no error"); } catch (x) { print(x.number, JSON.stringify(x.description)); }
  }
)";

TEST_F(VellumSetScriptTest, DictionaryKeepsKeysAsScriptsExpect) {
  EXPECT_EQ(Run(std::string(kAttempt) + R"(
    var d = CreateObject("VellumSet.Dictionary");
    d.Add("a", 1); d.Add("b", 2); d.Add("a", 3);
    print(d.Count, d.Keys().join(), d.Items().join(), d.Item("a"), d(0));
    d.Key.put("b", 5); d.Key.put("z", 7);
    print(d.Keys().join(), d.Items().join(), d.Exists("A"), d.Exists("a"), d.Item("A"));
    attempt(function () { d.Item(1.5); });
    print(d.Keys().length, CreateObject("VellumSet.Dictionary").Keys().length);
    var keys = new Enumerator(d);
    d.Add("late", 0);
    var seen = [];
    for (; !keys.atEnd(); keys.moveNext()) seen.push(keys.item());
    print(seen.join());
    d.Remove("nothing"); d.Remove("a");
    print(d.Keys().join());
  )"),
            "2 b,a 2,3 3 2\n"
            "b,a,z 5,3,7 false true undefined\n"
            "-2147024809 \"\"\n"  // E_INVALIDARG
            "3 0\n"
            "b,a,z\n"
            "b,z,late\n");
}

TEST_F(VellumSetScriptTest, LoadItemsReadsFilesAndReportsSystemErrors) {
  const std::string lines = "colour=red\r\nsize = 10\r\ncolour=blue\r\nname: value\r\na=b=c\r\n";
  testing_support::WriteFileBytes(Directory().File("items.txt"),
                                  std::vector<uint8_t>(lines.begin(), lines.end()));
  EXPECT_EQ(Run(std::string(kAttempt) + R"(
    var d = CreateObject("VellumSet.Dictionary");
    d.LoadItems(args[0] + "/items.txt");
    print(JSON.stringify(d.Keys()), JSON.stringify(d.Items()));
    d.LoadItems(args[0] + "/items.txt", ": ");
    print(JSON.stringify(d.Keys()), JSON.stringify(d.Items()));
    attempt(function () { d.LoadItems(args[0] + "/missing.txt"); });
    print(d.Count, d.Item("name"));
  )"),
            "[\"colour\",\"size \",\"a\"] [\"blue\",\" 10\",\"b=c\"]\n"
            "[\"name\"] [\"value\"]\n"
            "-2147024894 \"No such file or directory\\r\\n\"\n"  // 0x80070002
            "1 value\n");
}

TEST_F(VellumSetScriptTest, ImagesLoadSaveAndEnumerate) {
  testing_support::WriteFileBytes(Directory().File("logo.png"), {0x89, 'P', 'N', 'G'});
  EXPECT_EQ(Run(std::string(kAttempt) + R"(
    var images = CreateObject("Quillmark.Images");
    images.LoadImage("logo", args[0] + "/logo.png", 6);
    images.LoadImage("Logo", new Uint8Array([1, 2, 3]));
    images.LoadImage("third", new Uint8Array([4]));
    attempt(function () { images.LoadImage("logo", new Uint8Array([9])); });
    attempt(function () { images.LoadImage("x", args[0] + "/missing.png"); });
    attempt(function () { images.LoadImage("x", 12); });
    var logo = images("logo");
    function bytes(array) { return Array.prototype.join.call(array); }
    print(images.Count, logo.Name, logo.Format, logo.Ordinal, bytes(logo.Image));
    print(bytes(images.SaveImage(1)), images.Item(0).Name, images.Exists("LOGO"));
    images.SaveImage("Logo", args[0] + "/copy.bin");
    var names = [];
    for (var e = new Enumerator(images); !e.atEnd(); e.moveNext()) names.push(e.item().Name);
    print(names.join());
    var shrinking = new Enumerator(images);
    images.Remove(1);
    images.Remove("third");
    names = [];
    for (; !shrinking.atEnd(); shrinking.moveNext()) names.push(shrinking.item().Name);
    print(names.join(), images.Count);
    attempt(function () { images.Item(65536); });
    attempt(function () { images.SaveImage("logo", args[0] + "/no/such/dir/x"); });
  )"),
            "-2147352567 \"logo already exists in the collection\"\n"  // DISP_E_EXCEPTION
            "-2147352567 \"Unable to access data\"\n"
            "-2147352567 \"Invalid data type\"\n"
            "3 logo 6 0 137,80,78,71\n"
            "1,2,3 logo false\n"
            "logo,Logo,third\n"
            "logo 1\n"
            "-2147352567 \"65536 does not exist in the collection\"\n"
            "-2147024894 \"No such file or directory\\r\\n\"\n");
  EXPECT_EQ(testing_support::ReadFileBytes(Directory().File("copy.bin")),
            (std::vector<uint8_t>{1, 2, 3}));
}

// A collection saves an image into an SQLite field, and one in another process loads
// it back from the committed field, byte for byte.
TEST_F(VellumSetScriptTest, ImagesGoThroughARealDatabaseField) {
  ASSERT_EQ(Register(DATABASE_MODULE_PATH).status, 0);
  std::vector<uint8_t> original(70001);
  for (size_t i = 0; i < original.size(); ++i) original[i] = static_cast<uint8_t>(i * 7 + i / 256);
  testing_support::WriteFileBytes(Directory().File("original.bin"), original);
  EXPECT_EQ(Run(R"js(
    var db = CreateObject("Vellum.Database");
    db.Open(args[0] + "/images.db");
    db.Execute("CREATE TABLE images (id INTEGER PRIMARY KEY, data BLOB)");
    db.Execute("INSERT INTO images (data) VALUES (NULL)");
    var images = CreateObject("Quillmark.Images");
    images.LoadImage("photo", args[0] + "/original.bin");
    images.LoadImage("empty", db.Field("images", "data", 1));  // a NULL value holds no bytes
    print(images("empty").Image.length);
    var field = db.Field("images", "data", 1);
    images.SaveImage("photo", field);
    field.Update();
    print(field.ActualSize);
  )js"),
            "0\n70001\n");
  EXPECT_EQ(Run(R"js(
    var db = CreateObject("Vellum.Database");
    db.Open(args[0] + "/images.db");
    var images = CreateObject("Quillmark.Images");
    images.LoadImage("photo", db.Field("images", "data", 1));
    images.SaveImage("photo", args[0] + "/fetched.bin");
    print(images("photo").Image.length);
  )js"),
            "70001\n");
  EXPECT_EQ(testing_support::ReadFileBytes(Directory().File("fetched.bin")), original);
}

TEST_F(VellumSetScriptTest, ImageCannotBeCreatedByItsClass) {
  const ToolRun run = Script("CreateObject('VellumSet.Image');");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("CO_E_CLASSSTRING"), std::string::npos) << run.err;
}

}  // namespace
