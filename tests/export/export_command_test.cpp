#include "export/export_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "common/safe_file.h"
#include "export/bmp_file.h"
#include "support/scripted_platform.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::ReadBytes;
using testing::ScriptedPlatform;
using testing::WriteBytes;
using testing::WriteText;

using Bytes = std::vector<uint8_t>;

class ExportCommandTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    raster_.assign(kRasterSize, 0);
    raster_[0] = 1;
    raster_[kRasterSize - 1] = 1;
  }
  void TearDown() override {
    ClearWriteFault();
    EXPECT_TRUE(platform_.AllAnswersUsed());
    TempDirTest::TearDown();
  }

  void Export() { ExportBitmap(state_, raster_.data(), platform_); }

  // The image of raster_ as a new file gives it.
  Bytes ExpectedImage() {
    WriteNewImage("expected.tmp", raster_.data());
    Bytes image = ReadBytes("expected.tmp");
    std::filesystem::remove("expected.tmp");
    return image;
  }

  void ExpectOneMessage(const char* text) {
    ASSERT_EQ(platform_.messages.size(), 1u);
    EXPECT_EQ(platform_.messages[0].text, text);
    EXPECT_EQ(platform_.messages[0].title, "");
    EXPECT_EQ(platform_.messages[0].style, MessageStyle::kExclamationOk);
  }

  static bool DirectoryHoldsOnly(std::vector<std::string> names) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("."))
      found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    std::sort(names.begin(), names.end());
    return found == names;
  }

  ViewState state_;  // the default home view
  std::vector<uint8_t> raster_;
  ScriptedPlatform platform_;
};

TEST_F(ExportCommandTest, CancelInTheSaveDialogWritesNothing) {
  platform_.QueueExportPath(std::nullopt);
  Export();
  EXPECT_EQ(platform_.proposedNames, std::vector<std::string>{"N035.650-E139.7500-R0.050.bmp"});
  EXPECT_TRUE(platform_.overwriteQuestions.empty());
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_TRUE(DirectoryHoldsOnly({}));
}

TEST_F(ExportCommandTest, MissingFileIsWrittenWithoutAPrompt) {
  platform_.QueueExportPath("view.bmp");
  Export();
  EXPECT_TRUE(platform_.overwriteQuestions.empty());
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_EQ(ReadBytes("view.bmp"), ExpectedImage());
  EXPECT_TRUE(DirectoryHoldsOnly({"view.bmp"}));
}

TEST_F(ExportCommandTest, CancelInThePromptWritesNothing) {
  WriteText("view.bmp", "old");
  platform_.QueueExportPath("view.bmp");
  platform_.QueueOverwrite(OverwriteAnswer::kCancel);
  Export();
  EXPECT_EQ(platform_.overwriteQuestions, std::vector<std::string>{"view.bmp"});
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_EQ(ReadBytes("view.bmp"), Bytes({'o', 'l', 'd'}));
  EXPECT_TRUE(DirectoryHoldsOnly({"view.bmp"}));
}

TEST_F(ExportCommandTest, OverWriteReplacesTheFile) {
  WriteText("view.bmp", "old");
  platform_.QueueExportPath("view.bmp");
  platform_.QueueOverwrite(OverwriteAnswer::kOverwrite);
  Export();
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_EQ(ReadBytes("view.bmp"), ExpectedImage());
}

TEST_F(ExportCommandTest, MargeAddsTheMarksToTheOldImage) {
  raster_[5] = 1;
  const Bytes combined = ExpectedImage();
  raster_.assign(kRasterSize, 0);
  raster_[5] = 1;
  WriteBytes("view.bmp", ExpectedImage());  // exported earlier with pixel 5 only
  raster_[5] = 0;
  raster_[0] = raster_[kRasterSize - 1] = 1;
  platform_.QueueExportPath("view.bmp");
  platform_.QueueOverwrite(OverwriteAnswer::kMerge);
  Export();
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_EQ(ReadBytes("view.bmp"), combined);
  EXPECT_TRUE(DirectoryHoldsOnly({"view.bmp"}));
}

TEST_F(ExportCommandTest, MargeIntoAForeignFileSaysCanNotMarge) {
  WriteText("view.bmp", "not an image");
  platform_.QueueExportPath("view.bmp");
  platform_.QueueOverwrite(OverwriteAnswer::kMerge);
  Export();
  ExpectOneMessage("Can not Marge");
  EXPECT_EQ(ReadBytes("view.bmp").size(), 12u);
  EXPECT_TRUE(DirectoryHoldsOnly({"view.bmp"}));
}

TEST_F(ExportCommandTest, FailedMergeSaysCanNotMargeAndKeepsTheOldImage) {
  const Bytes old = ExpectedImage();
  WriteBytes("view.bmp", old);
  raster_[100] = 1;
  SetWriteFault({1000, false});
  platform_.QueueExportPath("view.bmp");
  platform_.QueueOverwrite(OverwriteAnswer::kMerge);
  Export();
  ClearWriteFault();
  ExpectOneMessage("Can not Marge");
  EXPECT_EQ(ReadBytes("view.bmp"), old);
  EXPECT_TRUE(DirectoryHoldsOnly({"view.bmp"}));
}

TEST_F(ExportCommandTest, NamedPipeIsNoImageAndNeverWaitedFor) {
  ASSERT_EQ(mkfifo("pipe.bmp", 0666), 0);
  platform_.QueueExportPath("pipe.bmp");
  Export();  // would block for ever if the pipe were opened for reading
  EXPECT_TRUE(platform_.overwriteQuestions.empty());
  ExpectOneMessage("Can not Open");
  EXPECT_EQ(MergeIntoImage("pipe.bmp", raster_.data()), MergeResult::kCannotOpenExisting);
}

TEST_F(ExportCommandTest, NewImageThatCannotBeCreatedSaysCanNotOpen) {
  platform_.QueueExportPath("missing/view.bmp");
  Export();
  ExpectOneMessage("Can not Open");
  EXPECT_TRUE(DirectoryHoldsOnly({}));
}

TEST_F(ExportCommandTest, NewImageFailingPartWaySaysCanNotWrite) {
  SetWriteFault({100000, false});
  platform_.QueueExportPath("view.bmp");
  Export();
  ClearWriteFault();
  ExpectOneMessage("Can not Write");
  EXPECT_TRUE(DirectoryHoldsOnly({}));  // no truncated image left behind
}

TEST_F(ExportCommandTest, FileThatCannotBeReadCountsAsAbsent) {
  // A link to nowhere is there but cannot be opened; the image is written
  // where it points, and the link stays.
  std::filesystem::create_symlink("nowhere.bmp", "view.bmp");
  platform_.QueueExportPath("view.bmp");
  Export();
  EXPECT_TRUE(platform_.overwriteQuestions.empty());
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_TRUE(std::filesystem::is_symlink("view.bmp"));
  EXPECT_EQ(ReadBytes("nowhere.bmp"), ExpectedImage());
  EXPECT_TRUE(DirectoryHoldsOnly({"nowhere.bmp", "view.bmp"}));

  if (geteuid() == 0) return;  // root reads every file
  std::filesystem::permissions("view.bmp", std::filesystem::perms::owner_write);
  platform_.QueueExportPath("view.bmp");
  Export();
  EXPECT_TRUE(platform_.overwriteQuestions.empty());
  std::filesystem::permissions("view.bmp", std::filesystem::perms::owner_all);
  EXPECT_EQ(ReadBytes("view.bmp"), ExpectedImage());
}

}  // namespace
}  // namespace roamgrid
