// The registration tool and the script runner, each run as its own process with the
// registry pointed at a private file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
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
  // The code by name and in hex, once, and never as a negative decimal.
  const std::string code = "E_INVALIDARG (0x80070057)";
  ASSERT_NE(run.err.find(code), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(code, run.err.find(code) + 1), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("-2147"), std::string::npos) << run.err;
  run = Script("var e = CreateObject('Quillmark.Easel'); e.LoadImage('/no/such/file.png');");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Can not access to the image file [DISP_E_EXCEPTION (0x80020009)]\r\n"),
            std::string::npos)
      << run.err;
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
  EXPECT_NE(run.err.find("REGDB_E_READREGDB (0x80040150)"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(Registry()), std::string::npos) << run.err;
  EXPECT_EQ(testing_support::ReadFileBytes(Registry()).size(), 3u);
}

// A class the registry does not know: the message names the registry that was read and
// the command that registers the module providing the class, found beside the runtime.
TEST_F(ToolsTest, AnUnregisteredClassNamesTheRegistryAndTheCommandThatRegistersIt) {
  const std::string module = std::filesystem::canonical(VELLUM_MODULE_PATH).string();
  const std::string command = "; register its module with: vellum-regsvr ";
  ToolRun run = Script("CreateObject('Quillmark.Easel');");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no class is registered as 'Quillmark.Easel' in the registry " +
                         Registry() + " (the file does not exist)" + command + module),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("CO_E_CLASSSTRING (0x800401F3)"), std::string::npos) << run.err;

  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  ASSERT_EQ(Register(VELLUM_MODULE_PATH, true).status, 0);
  run = Script(R"(
    try { CreateObject("Vellum.EZFont"); } catch (x) { print(x.description); }
    try { CreateObject("No.Such.Class"); } catch (x) { print(x.description); }
  )");
  EXPECT_EQ(run.out, "no class is registered as 'Vellum.EZFont' in the registry " + Registry() +
                         command + module + "\n" +
                         "no class is registered as 'No.Such.Class' in the registry " + Registry() +
                         command + "MODULE.so\n")
      << run.err;
}

// Every enumeration constant of the registered libraries is a read-only global.
TEST_F(ToolsTest, ScriptsSeeTheRegisteredConstantsReadOnly) {
  constexpr char kSource[] = R"(
    print(typeof eziPNG);
    if (typeof eziPNG == "number") {
      print(eziBMP, eziPSD, eziFile, eziDatabaseBlob, eziTopMiddle, eziBottomRight,
            ezAntiAliasHighest, ezi16Colors, eziNetscapeBestFitDithered, eziDecorative);
      eziPNG = 1;
      (function () { "use strict"; try { eziPNG = 1; } catch (x) { print(x.name); } })();
      print(eziPNG, typeof CreateObject, typeof print);
    }
  )";
  ToolRun run = Script(kSource);
  EXPECT_EQ(run.out, "undefined\n") << run.err;
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  run = Script(kSource);
  EXPECT_EQ(run.out, "number\n1 9 0 4 0 8 8 4 2 5\nTypeError\n4 function function\n") << run.err;
}

// --strict: an editing call that appends to ErrorDescription throws the text it added;
// without it the call returns and the text waits in ErrorDescription.
TEST_F(ToolsTest, StrictScriptsThrowWhatAnEditingCallAppends) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  ASSERT_EQ(Register(SAMPLE_SERVER_PATH).status, 0);
  constexpr char kSource[] = R"(
    var e = CreateObject("Quillmark.Easel");
    e.CreateImage(20, 10, 0xFFFFFF);
    e.RotateImage(90, 0);
    for (var i = 0; i < 2; ++i) {
      try {
        e.SharpenImage(0);
        print("returned", JSON.stringify(e.ErrorDescription));
      } catch (x) {
        print("threw", x.number == -2147352567, JSON.stringify(x.description));
      }
    }
    e.ImageQuality = 50;
    print(e.Width, e.Height, CreateObject("Vellum.SampleCounter").Increment());
  )";
  ToolRun run = Script(kSource);
  EXPECT_EQ(run.out,
            "returned \"Sharpening level is incorrect\\r\\n\"\n"
            "returned \"Sharpening level is incorrect\\r\\nSharpening level is incorrect\\r\\n\"\n"
            "10 20 1\n")
      << run.err;
  run = Script(kSource, "", "--strict");
  EXPECT_EQ(run.out,
            "threw true \"Sharpening level is incorrect\"\n"
            "threw true \"Sharpening level is incorrect\"\n"
            "10 20 1\n")
      << run.err;
}

// Each tool answers --help and --version and refuses an option it does not know,
// rather than taking it for a file.
class ToolOptionsTest : public ToolsTest, public testing::WithParamInterface<const char*> {};

TEST_P(ToolOptionsTest, HelpVersionAndUnknownOptions) {
  const std::string tool = ShellQuote(GetParam());
  const std::string name = std::filesystem::path(GetParam()).filename().string();
  ToolRun run = Tool(tool + " --help");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("usage: " + name + " ", 0), 0u) << run.out;
  run = Tool(tool + " --version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, name + " (Vellum) " VELLUM_VERSION "\n");
  run = Tool(tool + " --no-such-option argument");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_NE(run.err.find("usage: " + name + " "), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(EveryTool, ToolOptionsTest,
                         testing::Values(REGSVR_PATH, SCRIPT_PATH, REFERENCE_PATH, HOST_PATH));

constexpr char kSampleNotes[] = R"(# Library SAMPLELib
A counter.

# Object SampleCounter
Counts.

## Value
The count.

## Increment
Adds `Step`.

## Fail
Fails.

## Item
A number by index.

## Key
Sets a number.

## Echo
Gives its argument back.

## Numbers
Three numbers.
)";

// The reference of the sample server's library: the pages carry the library's structure
// and the notes, --check compares them, and notes that miss a member or describe one
// the library lacks are refused.
class ReferenceTest : public ToolsTest {
 protected:
  ToolRun Generate(const std::string& notes, const std::string& options = "") {
    const std::string notesFile = Directory().File("notes.md");
    testing_support::WriteFileBytes(notesFile, std::vector<uint8_t>(notes.begin(), notes.end()));
    return Tool(ShellQuote(REFERENCE_PATH) + " " + options + " " + ShellQuote(Pages()) +
                " --module " + ShellQuote(SAMPLE_SERVER_PATH) + " " + ShellQuote(notesFile));
  }
  std::string Pages() const { return Directory().File("pages"); }
  std::string Page(const std::string& name) const {
    const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(Pages() + "/" + name);
    return std::string(bytes.begin(), bytes.end());
  }
};

TEST_F(ReferenceTest, PagesCarryTheLibraryAndTheNotes) {
  ToolRun run = Generate(kSampleNotes);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string page = Page("SampleCounter.md");
  for (const char* expected : {
           "| Created with | `CreateObject(\"Vellum.SampleCounter\")` |",
           "| Class | `SampleCounter` `{D8A1C4E2-5B37-4F0A-9C61-2E84B7F3A915}`, threading model "
           "`Free` |",
           "| [Value](#value) | property, read and write | long | 1 |",
           "| [Increment([Step])](#increment) | method | long | 2 |",
           "| `Step` | long | yes, default 1 |",
           "| [Item(Index)](#item) | property, read and write | long | 0 |",
           "Set with `Item.put(Index, newVal)`.",
           "| [Key(Index)](#key) | property, write-only | long | 4 |",
           "\nAdds `Step`.\n",
       }) {
    EXPECT_NE(page.find(expected), std::string::npos) << expected << "\n" << page;
  }
  EXPECT_NE(Page("README.md").find("- [SampleCounter](SampleCounter.md): Counts."),
            std::string::npos);

  EXPECT_EQ(Generate(kSampleNotes, "--check").status, 0);
  testing_support::WriteFileBytes(Pages() + "/SampleCounter.md", {'x'});
  testing_support::WriteFileBytes(Pages() + "/Stale.md", {'x'});
  run = Generate(kSampleNotes, "--check");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("SampleCounter.md differs"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Stale.md is not generated any more"), std::string::npos) << run.err;
  ASSERT_EQ(Generate(kSampleNotes).status, 0);
  EXPECT_EQ(Generate(kSampleNotes, "--check").status, 0);
}

TEST_F(ReferenceTest, NotesMustDescribeExactlyWhatTheLibraryHas) {
  const std::string notes = kSampleNotes;
  const std::string withoutEcho =
      notes.substr(0, notes.find("## Echo")) + notes.substr(notes.find("## Numbers"));
  const struct {
    std::string notes;
    const char* problem;
  } cases[] = {
      {withoutEcho, "no '## Echo' under '# Object SampleCounter'"},
      {notes + "\n## Reset\nStarts over.\n",
       "'## Reset' under '# Object SampleCounter' describes no member"},
      {notes + "\n# Object Timer\nTimes.\n", "'# Object Timer' describes no object"},
      {notes + "\n# Enum Colours\n", "'# Enum Colours' describes no enumeration"},
      {notes.substr(notes.find("# Object")), "no '# Library SAMPLELib' section"},
      {notes + "\n# Widget Thing\n", "unknown section kind 'Widget'"},
  };
  for (const auto& [text, problem] : cases) {
    const ToolRun run = Generate(text);
    EXPECT_EQ(run.status, 1) << problem;
    EXPECT_NE(run.err.find(problem), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(Pages() + "/SampleCounter.md")) << problem;
  }
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

// The script runner lets the objects open any file unless told which folders they may
// use, and takes the pixel limit for its run.
TEST_F(ToolsTest, ScriptsMayBeKeptToFoldersAndAPixelLimit) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  const std::string inside = Directory().File("inside");
  std::filesystem::create_directory(inside);
  const std::string source = R"(
    var e = CreateObject("Quillmark.Easel");
    e.CreateImage(30, 20, 0);
    e.SaveImage(eziFile, eziPNG, args[0] + "/picture.png");
    function attempt(path) {
      var fresh = CreateObject("Quillmark.Easel");
      try { fresh.LoadImage(path); print(fresh.Width); }
      catch (x) { print(x.description.split("\r\n")[0]); }
    }
    attempt("/etc/passwd");
    attempt(args[0] + "/picture.png");
  )";
  const ToolRun free = Script(source, ShellQuote(inside));
  ASSERT_EQ(free.status, 0) << free.err;
  EXPECT_EQ(free.out, "Format of the image is not supported\n30\n");
  const ToolRun kept = Script(source, ShellQuote(inside),
                              "--allow-folder " + ShellQuote(inside) + " --max-pixels 599");
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(kept.out,
            "The file is outside the folders this server may open files in\n"
            "The image has more pixels than the limit on decoded images allows\n");
  EXPECT_EQ(Script("", "", "--max-pixels lots").status, 2);
  EXPECT_EQ(Script("", "", "--allow-folder /no/such/folder").status, 2);
}

// --image-memory caps what the images hold together: an image that would pass it is not
// made, and one that fits after another was dropped is.
TEST_F(ToolsTest, ScriptsMayCapTheMemoryOfImages) {
  ASSERT_EQ(Register(VELLUM_MODULE_PATH).status, 0);
  const std::string source = R"(
    function make(easel, width) {
      try { easel.CreateImage(width, 500, 0); print("made " + width); }
      catch (x) { print("refused " + width); }
    }
    var first = CreateObject("Quillmark.Easel"), second = CreateObject("Quillmark.Easel");
    make(first, 500);
    make(second, 500);
    first.CreateImage(1, 1, 0);
    make(second, 500);
  )";
  const ToolRun capped = Script(source, "", "--image-memory 1");
  ASSERT_EQ(capped.status, 0) << capped.err;
  EXPECT_EQ(capped.out, "made 500\nrefused 500\nmade 500\n");
  const ToolRun free = Script(source);
  EXPECT_EQ(free.out, "made 500\nmade 500\nmade 500\n");
  for (const char* wrong : {"0", "lots", "1M", "99999999"}) {
    EXPECT_EQ(Script("", "", std::string("--image-memory ") + wrong).status, 2) << wrong;
  }
}

}  // namespace
