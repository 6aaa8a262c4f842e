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
#include "support/view_at.h"
#include "tiles/track_recorder.h"

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

// Export region: a wrong area is said and asked again with the answer
// kept; the name follows the chosen format; the file holds the region.
TEST_F(ExportCommandTest, RegionIsAskedAgainUntilItNamesCellsThenWritten) {
  {
    TrackRecorder recorder;
    AddPoint(recorder, 35.651, 139.751);
  }
  RegionExportChoice choice = ViewRegionChoice(state_);
  RegionExportChoice wrong = choice;
  wrong.area = RegionArea::kBox;
  wrong.north = "35.6";  // below the south edge
  wrong.format = ExportFormat::kGeoJson;
  RegionExportChoice right = wrong;
  right.north = "35.66";
  platform_.QueueRegionChoice(wrong);
  platform_.QueueRegionChoice(right);
  platform_.QueueExportPath("box.geojson");
  ExportChosenRegion(state_, platform_, choice);
  ExpectOneMessage("The south edge must lie below the north edge.");
  ASSERT_EQ(platform_.regionChoicesShown.size(), 2u);
  EXPECT_EQ(platform_.regionChoicesShown[1], wrong);
  EXPECT_EQ(choice, right);  // kept for the next time
  EXPECT_EQ(platform_.proposedNames,
            std::vector<std::string>{"N35.6500-E139.7500-N35.6600-E139.8000.geojson"});
  EXPECT_EQ(platform_.tasksStarted, std::vector<std::string>{"Export region: Writing box.geojson"});
  EXPECT_EQ(platform_.lastTaskStep, "0/1");  // one tile row
  const Bytes geojson = ReadBytes("box.geojson");
  EXPECT_NE(std::string(geojson.begin(), geojson.end()).find("E13975-N03565"), std::string::npos);

  // Next time the box stays as typed; a view's edges follow the view.
  platform_.QueueRegionChoice(std::nullopt);
  ExportChosenRegion(state_, platform_, choice);
  EXPECT_EQ(platform_.regionChoicesShown.back().north, "35.66");
  choice.area = RegionArea::kView;
  platform_.QueueRegionChoice(std::nullopt);
  ExportChosenRegion(testing::ViewAt(0, 0, 1), platform_, choice);
  EXPECT_EQ(platform_.regionChoicesShown.back().north, "0.0500");
}

TEST_F(ExportCommandTest, CancelDuringTheRegionExportLeavesTheOldFile) {
  {
    TrackRecorder recorder;
    AddPoint(recorder, 35.651, 139.751);
  }
  WriteText("view.png", "old");
  RegionExportChoice choice = ViewRegionChoice(state_);
  choice.format = ExportFormat::kPng;
  platform_.QueueRegionChoice(choice);
  platform_.QueueExportPath("view.png");
  platform_.cancelTaskAt = 1;
  ExportChosenRegion(state_, platform_, choice);
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_EQ(ReadBytes("view.png"), Bytes({'o', 'l', 'd'}));
  EXPECT_TRUE(DirectoryHoldsOnly({"RGD", "view.png"}));

  // Without Cancel the PNG of the view at its zoom: 448 x 448.
  platform_.cancelTaskAt = 0;
  platform_.QueueRegionChoice(choice);
  platform_.QueueExportPath("view.png");
  ExportChosenRegion(state_, platform_, choice);
  EXPECT_TRUE(platform_.messages.empty());
  const Bytes png = ReadBytes("view.png");
  ASSERT_GE(png.size(), 24u);
  EXPECT_EQ(Bytes(png.begin() + 16, png.begin() + 24), testing::Hex("00 00 01 C0 00 00 01 C0"));
}

}  // namespace
}  // namespace roamgrid
