// examples/photo_records.js run by the script runner with the three modules registered,
// once on SQLite and once on PostgreSQL: an image file stored with a bound value, read
// back through a recordset, inverted by the Easel and saved into its field.
#include <gtest/gtest.h>

#include "tests/support/oracle.h"
#include "tests/support/picture_compare.h"
#include "tests/support/postgres_server.h"
#include "tests/support/tool_runner.h"

namespace {

using testing_support::ToolRun;

class PhotoScriptTest : public ::testing::TestWithParam<bool>, public testing_support::ToolRunner {
 protected:
  PhotoScriptTest() : ToolRunner(REGSVR_PATH, SCRIPT_PATH) {}
};

TEST_P(PhotoScriptTest, TheSameScriptStoresEditsAndReadsBackAnImage) {
  const bool postgres = GetParam();
  std::string target = "sqlite:" + Directory().File("photos.db");
  if (postgres) {
    std::string error;
    target = testing_support::PostgresConnectionString(&error);
    ASSERT_FALSE(target.empty()) << "no PostgreSQL server: " << error;
  }
  for (const char* module : {VELLUM_MODULE_PATH, VELLUMSET_MODULE_PATH, DATABASE_MODULE_PATH}) {
    ASSERT_EQ(Register(module).status, 0) << module;
  }
  const std::string source = Directory().File("source.png");
  ASSERT_TRUE(
      testing_support::RunPython("import sys\n"
                                 "from PIL import Image\n"
                                 "im = Image.new('RGB', (40, 30))\n"
                                 "im.putdata([((x * 7) % 256, (y * 9) % 256, (x * y) % 256)\n"
                                 "            for y in range(30) for x in range(40)])\n"
                                 "im.save(sys.argv[1])\n",
                                 {source}));

  const ToolRun run =
      Tool(testing_support::ShellQuote(SCRIPT_PATH) + " " +
           testing_support::ShellQuote(
               testing_support::TestDataPath("../../examples/photo_records.js")) +
           " " + testing_support::ShellQuote(target) + " " + testing_support::ShellQuote(source) +
           " " + testing_support::ShellQuote(Directory().Path().string()));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string size = std::to_string(testing_support::ReadFileBytes(source).size());
  EXPECT_EQ(run.out, "stored 1 row named '; DROP TABLE photos; --; its " + size +
                         " bytes are the file's: true\n"
                         "edited 40 x 30 and saved it into row 1\n"
                         "read back 40 x 30 from row 1; rows in the table: 1\n");

  const std::optional<testing_support::RawImage> original =
      testing_support::DecodeWithPillow(source);
  ASSERT_TRUE(original);
  for (const char* written : {"edited.png", "stored.png"}) {
    const std::optional<testing_support::RawImage> edited =
        testing_support::DecodeWithPillow(Directory().File(written));
    ASSERT_TRUE(edited) << written;
    ASSERT_EQ(edited->rgb.size(), original->rgb.size()) << written;
    for (size_t i = 0; i < original->rgb.size(); ++i) {
      ASSERT_EQ(edited->rgb[i], 255 - original->rgb[i]) << written << " byte " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, PhotoScriptTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& engine) {
                           return engine.param ? "PostgreSQL" : "SQLite";
                         });

}  // namespace
