#include "common/safe_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::ReadBytes;
using testing::WriteText;

class ReplacingFileTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }
  static size_t FileCount() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      (void)entry;
      ++count;
    }
    return count;
  }
};

TEST_F(ReplacingFileTest, CommitReplacesTheTargetWhole) {
  WriteText("data", "old content");
  ReplacingFile file("data");
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("new", 3));
  EXPECT_EQ(ReadBytes("data").size(), 11u);  // untouched until the commit
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(ReadBytes("data"), std::vector<uint8_t>({'n', 'e', 'w'}));
  EXPECT_EQ(FileCount(), 1u);  // no temporary file left behind
}

TEST_F(ReplacingFileTest, FailedWriteOrCloseKeepsTheOldFile) {
  for (const WriteFault fault :
       {WriteFault{2, false}, WriteFault{0, false}, WriteFault{-1, true}}) {
    WriteText("data", "old");
    SetWriteFault(fault);
    ReplacingFile file("data");
    ASSERT_TRUE(file.Open());
    file.Write("new content", 11);
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(ReadBytes("data"), std::vector<uint8_t>({'o', 'l', 'd'}));
    EXPECT_EQ(FileCount(), 1u);
    ClearWriteFault();
  }
}

TEST_F(ReplacingFileTest, AbandonAndDestructionLeaveTheTargetAlone) {
  WriteText("data", "old");
  {
    ReplacingFile file("data");
    ASSERT_TRUE(file.Open());
    file.Write("x", 1);
  }
  ReplacingFile named("data", ".bk");
  ASSERT_TRUE(named.Open());
  EXPECT_EQ(named.tempPath(), "data.bk");
  named.Abandon();
  EXPECT_EQ(ReadBytes("data"), std::vector<uint8_t>({'o', 'l', 'd'}));
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(ReplacingFileTest, OpenFailsInAMissingFolderAndParentsCanBeCreated) {
  ReplacingFile file("RGD/E139N035/x.map");
  EXPECT_FALSE(file.Open());
  CreateParentDirectories("RGD/E139N035/x.map");
  EXPECT_TRUE(std::filesystem::is_directory("RGD/E139N035"));
  ASSERT_TRUE(file.Open());
  EXPECT_TRUE(file.Commit());
  EXPECT_TRUE(std::filesystem::is_regular_file("RGD/E139N035/x.map"));
}

TEST_F(ReplacingFileTest, KeepsLinksAndPermissionsOfTheReplacedFile) {
  WriteText("data", "old");
  std::filesystem::permissions("data", std::filesystem::perms(0640));
  std::filesystem::create_symlink("data", "link");
  ReplacingFile file("link");
  ASSERT_TRUE(file.Open());
  file.Write("new", 3);
  ASSERT_TRUE(file.Commit());
  EXPECT_TRUE(std::filesystem::is_symlink("link"));
  EXPECT_EQ(ReadBytes("data"), std::vector<uint8_t>({'n', 'e', 'w'}));
  EXPECT_EQ(std::filesystem::status("data").permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(FileCount(), 2u);
}

TEST_F(ReplacingFileTest, RefusesAFolderOrAProtectedFileUnderTheName) {
  std::filesystem::create_directory("folder");
  ReplacingFile onFolder("folder");
  EXPECT_FALSE(onFolder.Open());
  EXPECT_TRUE(std::filesystem::is_directory("folder"));
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
  WriteText("data", "old");
  std::filesystem::permissions("data", std::filesystem::perms(0444));
  ReplacingFile onProtected("data");
  EXPECT_FALSE(onProtected.Open());
  EXPECT_EQ(ReadBytes("data"), std::vector<uint8_t>({'o', 'l', 'd'}));
}

TEST_F(ReplacingFileTest, SyncedCommitReplacesLikeAnyOther) {
  WriteText("data", "old");
  ReplacingFile file("data", ".bk", Durability::kSynced);
  ASSERT_TRUE(file.Open());
  file.Write("new", 3);
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(ReadBytes("data"), std::vector<uint8_t>({'n', 'e', 'w'}));
  EXPECT_EQ(FileCount(), 1u);
}

}  // namespace
}  // namespace roamgrid
