// The registration tool and the script runner, each run as its own process with the
// registry pointed at a private file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/oracle.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::ShellQuote;
using testing_support::ToolRun;

class ToolsTest : public ::testing::Test, public testing_support::ToolRunner {
 protected:
  ToolsTest() : ToolRunner(REGSVR_PATH, SCRIPT_PATH) {}
};

TEST_F(ToolsTest, AFreshProcessCreatesTheRegisteredClassesByProgId) {
  const ToolRun registered = Register(VELLUM_MODULE_PATH);
  ASSERT_EQ(registered.status, 0) << registered.err;
  EXPECT_NE(registered.out.find("DllRegisterServer"), std::string::npos);
  const ToolRun run = Script(R"(
    var e = CreateObject("Quillmark.Easel");
    print(e.Width, e.Height, e.ImageFormat, e.ImageQuality, e.JPEGProgressive,
          e.ColorAdjustmentAlgorithm, e.TransparentColor, e.TiffPage, e.ResizeFilter,
          e.DPIx, e.DPIy, e.DPIUnits, e.AntiAliasFactor, e.BufferResponse,
          JSON.stringify(e.ErrorDescription));
    var f = CreateObject("Vellum.EZFont");
    print(JSON.stringify(f.Name), f.Weight, f.Color, f.FontFamily, f.Italic);
    e.Font.Name = "Arial";
    print(e.Font.Name);
  )");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "0 0 0 70 1 2 16777214 1 4 72 72 1 0 false \"\"\n\"\" 0 0 0 0\nArial\n");
}

TEST_F(ToolsTest, FailedCallsThrowWithTheirNumberAndDescription) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  const ToolRun run = Script(R"(
    var e = CreateObject("Quillmark.Easel");
    function attempt(f) { try { f(); print("no error"); } catch (x) { print(x.number, JSON.stringify(x.description)); } }
    attempt(function () { e.ImageQuality = 0; });
    attempt(function () { e.ImageQuality = 101; });
    print(e.ImageQuality);
    attempt(function () { e.ColorResolution = 2; });
    attempt(function () { e.ColorAdjustmentAlgorithm = -1; });
    print(e.ColorAdjustmentAlgorithm);
    e.JPEGProgressive = -1;
    print(e.JPEGProgressive);
    attempt(function () { e.RotateImage(90); });
    attempt(function () { e.NoSuchMember; });
    attempt(function () { e.Font.Weight = 1001; });
    e.Font.Italic = -1;
    print(e.Font.Italic);
    attempt(function () { e.Font.Name = "abcdefghijklmnopqrstuvwxyz012345"; });
    attempt(function () { CreateObject("No.Such.Class"); });
    e.Text = "word";
    print(e.Text, typeof e.TextWidth, typeof e.RotateImage);
  )");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "-2147024809 \"\"\n"  // E_INVALIDARG
            "-2147024809 \"\"\n"
            "70\n"
            "-2147024809 \"\"\n"
            "-2147024809 \"\"\n"
            "2\n"
            "1\n"
            "-2147352562 \"\"\n"  // DISP_E_BADPARAMCOUNT
            "-2147352570 \"\"\n"  // DISP_E_UNKNOWNNAME
            "-2147024809 \"\"\n"
            "255\n"
            "-2147024809 \"\"\n"
            "-2147221005 \"\"\n"  // CO_E_CLASSSTRING
            "word function function\n");
}

TEST_F(ToolsTest, ScriptsReachMembersAsScriptsExpect) {
  ASSERT_EQ(Register(SAMPLE_SERVER_PATH).status, 0);
  const ToolRun run = Script(R"(
    var c = CreateObject("Vellum.SampleCounter");
    print(c.Increment(), c.Increment(10), c.Value);
    c.Value = 2.5;
    print(c.Value);
    c.Item.put(3, 42);
    c.Key.put(4, 1);
    print(c.Item(3), c(4), c.Item(0));
    var bytes = c.Echo(new Uint8Array([1, 2, 255]));
    print(bytes instanceof Uint8Array, bytes.length, bytes[2]);
    print(JSON.stringify(c.Echo([1, "two", true, null, 1.5])), c.Echo(undefined) === undefined);
    print(JSON.stringify(c.Numbers), c.Echo(c) === undefined, String(c.Echo(c)));
    print(c.Echo("\u00e9t\u00e9 \ud83d\ude00") === "\u00e9t\u00e9 \ud83d\ude00");
    try { c.Fail("it broke"); } catch (x) { print(x.number, x.description, x.message); }
    try { c.Item(11); } catch (x) { print(x.number); }
    try { c.Echo(function () {}); } catch (x) { print(x.name); }
    print(args.join("|"));
  )",
                             "first 'second arg'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "1 11 11\n"
            "2\n"  // 2.5 rounds half to even
            "42 1001 0\n"
            "true 3 255\n"
            "[1,\"two\",true,null,1.5] true\n"
            "[11,22,33] false [object Automation]\n"
            "true\n"
            "-2147467259 it broke it broke\n"  // E_FAIL with the error information
            "-2147352565\n"                    // DISP_E_BADINDEX
            "TypeError\n"
            "first|second arg\n");
}

TEST_F(ToolsTest, UncaughtErrorsEndTheRunWithAFailure) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  ToolRun run = Script("var e = CreateObject('Quillmark.Easel'); e.ImageQuality = 0;");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("E_INVALIDARG"), std::string::npos) << run.err;
  run = Script("this is not javascript");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("SyntaxError"), std::string::npos) << run.err;
  run = Tool(ShellQuote(SCRIPT_PATH) + " /no/such/script.js");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Tool(ShellQuote(SCRIPT_PATH)).status, 2);
}

TEST_F(ToolsTest, RegistrationFailuresAreReported) {
  EXPECT_EQ(Tool(ShellQuote(REGSVR_PATH)).status, 2);
  EXPECT_EQ(Tool(ShellQuote(REGSVR_PATH) + " -x module.so").status, 2);
  ToolRun run = Register("/no/such/module.so");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("/no/such/module.so"), std::string::npos);
  run = Register(Registry() + "-not-a-module");
  EXPECT_EQ(run.status, 1);
  const std::string text = Directory().File("plain.txt");
  testing_support::WriteFileBytes(text, {'h', 'i'});
  run = Register(text);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot load"), std::string::npos) << run.err;
  // A registry that cannot be read is refused, never overwritten.
  testing_support::WriteFileBytes(Registry(), {'b', 'a', 'd'});
  run = Register(VELLUM_MODULE_PATH);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("REGDB_E_READREGDB"), std::string::npos) << run.err;
  EXPECT_EQ(testing_support::ReadFileBytes(Registry()).size(), 3u);
}

TEST_F(ToolsTest, UnregisteringRemovesTheClasses) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  ASSERT_EQ(Register(VELLUM_MODULE_PATH, true).status, 0);
  const ToolRun run = Script("CreateObject('Quillmark.Easel');");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("CO_E_CLASSSTRING"), std::string::npos) << run.err;
}

TEST_F(ToolsTest, TwoProcessesRegisteringAtOnceBothLand) {
  for (int round = 0; round < 4; ++round) {
    std::remove(Registry().c_str());
    const std::string both = "(" + ShellQuote(REGSVR_PATH) + " " + ShellQuote(VELLUM_MODULE_PATH) +
                             " & " + ShellQuote(REGSVR_PATH) + " " +
                             ShellQuote(SAMPLE_SERVER_PATH) + " & wait) >/dev/null";
    ASSERT_EQ(Tool(both).status, 0);
    const ToolRun run = Script(R"(
      print(CreateObject("Quillmark.Easel").TiffPage, CreateObject("Vellum.SampleCounter").Value);
    )");
    EXPECT_EQ(run.out, "1 0\n") << run.err;
  }
}

// An image saved by one process into an SQLite field in pieces and committed is read
// back from the field by another.
TEST_F(ToolsTest, ImagesStoredInADatabaseLoadInAnotherProcess) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  ASSERT_EQ(Register(DATABASE_MODULE_PATH).status, 0);
  const std::string original = Directory().File("original.bmp");
  const std::string database = Directory().File("images.db");
  const std::string fetched = Directory().File("fetched.bmp");
  ASSERT_TRUE(testing_support::RunPython(
      "import sys\nfrom PIL import Image\n"
      "Image.effect_noise((61, 47), 60).convert('RGB').save(sys.argv[1])\n",
      {original}));
  constexpr char kStore[] = R"js(
    var db = CreateObject("Vellum.Database");
    db.Open(args[0]);
    db.Execute("CREATE TABLE images (id INTEGER PRIMARY KEY, data BLOB)");
    db.Execute("INSERT INTO images (data) VALUES (NULL)");
    var field = db.Field("images", "data", db.LastInsertRowId);
    var easel = CreateObject("Quillmark.Easel");
    easel.LoadImage(args[1]);
    easel.SaveImage(4, 1, field);
    field.Update();
    print(field.ActualSize);
    db.Close();
  )js";
  const ToolRun stored = Script(kStore, ShellQuote(database) + " " + ShellQuote(original));
  ASSERT_EQ(stored.status, 0) << stored.err;
  EXPECT_EQ(stored.out, std::to_string(testing_support::ReadFileBytes(original).size()) + "\n");

  constexpr char kLoad[] = R"js(
    var db = CreateObject("Vellum.Database");
    db.Open(args[0]);
    var easel = CreateObject("Quillmark.Easel");
    easel.LoadImage(db.Field("images", "data", 1));
    print(easel.Width, easel.Height, easel.ImageFormat);
    easel.SaveImage(0, 1, args[1]);
  )js";
  const ToolRun loaded = Script(kLoad, ShellQuote(database) + " " + ShellQuote(fetched));
  ASSERT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_EQ(loaded.out, "61 47 1\n");
  const auto expected = testing_support::DecodeWithPillow(original);
  const auto actual = testing_support::DecodeWithPillow(fetched);
  ASSERT_TRUE(expected && actual);
  EXPECT_EQ(actual->rgb, expected->rgb);
}

}  // namespace
