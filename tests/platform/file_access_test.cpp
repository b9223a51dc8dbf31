// The platform's file access: the allowed folders, regular files only, and files
// written whole or not at all.
#include "platform/policy/file_access.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/allowed_folders.h"
#include "tests/support/file_faults.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::AllowedFoldersScope;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

class FileAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(site_.Path() / "data");
    WriteFileBytes(site_.File("data/inside.txt"), {'i'});
    WriteFileBytes(elsewhere_.File("secret.txt"), {'s'});
  }
  std::string Site(const std::string& name) const { return site_.File(name); }

  TempDir site_;
  TempDir elsewhere_;
};

TEST_F(FileAccessTest, WithoutARestrictionEveryPathIsAllowed) {
  EXPECT_TRUE(policy::AllowedFolders().empty());
  EXPECT_TRUE(policy::IsAllowedPath(elsewhere_.File("secret.txt")));
  std::string content;
  EXPECT_EQ(policy::ReadWholeFile(elsewhere_.File("secret.txt"), 100, &content), 0u);
  EXPECT_EQ(content, "s");
}

// Paths are compared by where they really lead: "..", links out of a folder and
// folders whose names merely begin like an allowed one are all outside.
TEST_F(FileAccessTest, OnlyPathsThatReallyLeadInsideAreAllowed) {
  fs::create_symlink(elsewhere_.Path(), site_.Path() / "data/link");
  fs::create_symlink(elsewhere_.File("secret.txt"), site_.Path() / "data/file_link");
  fs::create_symlink(elsewhere_.File("missing.txt"), site_.Path() / "data/dangling");
  fs::create_directory(site_.Path().string() + "-sibling");
  const AllowedFoldersScope scope({Site("data")});
  for (const std::string& inside : {Site("data/inside.txt"), Site("data/new.txt"),
                                    Site("data/../data/inside.txt"), Site("data")}) {
    EXPECT_TRUE(policy::IsAllowedPath(inside)) << inside;
  }
  for (const std::string& outside :
       {elsewhere_.File("secret.txt"), Site("data/../x.txt"), Site("data/link/secret.txt"),
        Site("data/file_link"), Site("data/link/new.txt"), site_.Path().string() + "-sibling/a",
        std::string("/etc/passwd")}) {
    EXPECT_FALSE(policy::IsAllowedPath(outside)) << outside;
    int descriptor = -1;
    EXPECT_EQ(policy::OpenFileForReading(outside, &descriptor), policy::kOutsideAllowedFolders)
        << outside;
  }
  // A dangling link inside cannot be used to create a file outside.
  int descriptor = -1;
  EXPECT_NE(policy::OpenFileForWriting(Site("data/dangling"), &descriptor), 0u);
  EXPECT_FALSE(fs::exists(elsewhere_.File("missing.txt")));
  EXPECT_NE(policy::WriteWholeFile(Site("data/link/new.txt"), {}), 0u);
  EXPECT_FALSE(fs::exists(elsewhere_.File("new.txt")));
  fs::remove(site_.Path().string() + "-sibling");
}

TEST_F(FileAccessTest, AFolderThatCannotBeResolvedChangesNothing) {
  EXPECT_EQ(policy::SetAllowedFolders({Site("data"), Site("missing")}), uint32_t{ENOENT});
  EXPECT_EQ(policy::SetAllowedFolders({Site("data/inside.txt")}), uint32_t{ENOTDIR});
  EXPECT_TRUE(policy::AllowedFolders().empty());
}

// Pipes, directories and devices are refused without waiting, whichever way they
// would be opened.
TEST_F(FileAccessTest, OnlyRegularFilesAreOpened) {
  const std::string pipe = Site("pipe");
  ASSERT_TRUE(testing_support::MakeFifo(pipe));
  struct Case {
    std::string path;
    DWORD error;
  };
  for (const Case& c :
       {Case{pipe, EINVAL}, Case{Site("data"), EISDIR}, Case{"/dev/null", EINVAL}}) {
    int descriptor = -1;
    EXPECT_EQ(policy::OpenFileForReading(c.path, &descriptor), c.error) << c.path;
    EXPECT_EQ(policy::OpenFileForWriting(c.path, &descriptor), c.error) << c.path;
    EXPECT_EQ(policy::WriteWholeFile(c.path, {}), c.error) << c.path;
    std::string content;
    EXPECT_EQ(policy::ReadWholeFile(c.path, 10, &content), c.error) << c.path;
  }
  EXPECT_TRUE(fs::is_fifo(pipe));
}

TEST_F(FileAccessTest, AReplacementTakesThePlaceOfTheTargetOnlyWhenCommitted) {
  const std::string target = Site("data/inside.txt");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  {
    policy::FileReplacement abandoned;
    ASSERT_EQ(abandoned.Begin(target), 0u);
    ASSERT_EQ(write(abandoned.Descriptor(), "new", 3), 3);
    EXPECT_EQ(fs::path(abandoned.TemporaryPath()).parent_path(), fs::path(Site("data")));
  }
  EXPECT_EQ(ReadFileBytes(target), std::vector<uint8_t>{'i'});
  EXPECT_EQ(std::distance(fs::directory_iterator(Site("data")), {}), 1);
  {
    const testing_support::FileSizeLimit limit(4);
    EXPECT_EQ(policy::WriteWholeFile(target, std::vector<BYTE>(10, 'x')), uint32_t{EFBIG});
  }
  EXPECT_EQ(ReadFileBytes(target), std::vector<uint8_t>{'i'});
  // Through a link: the file it leads to is replaced, the link stays, and so do the
  // file's permissions.
  fs::create_symlink(target, Site("link.txt"));
  ASSERT_EQ(policy::WriteWholeFile(Site("link.txt"), std::vector<BYTE>{'o', 'k'}), 0u);
  EXPECT_TRUE(fs::is_symlink(Site("link.txt")));
  EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{'o', 'k'}));
  EXPECT_EQ(fs::status(target).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(Site("data")), {}), 1);
}

}  // namespace
