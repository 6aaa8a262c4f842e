#include "import/import_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/scripted_platform.h"
#include "support/temp_dir.h"
#include "tiles/track_tile.h"

namespace roamgrid {
namespace {

using testing::ScriptedPlatform;
using testing::WriteText;

// One fix near Tokyo and one near Munich, each in a tile of its own.
constexpr char kTokyoLog[] = "$GPGGA,012345,3539.600,N,13945.600,E,1,08,0.9,40.0,M,,,*47\r\n";
constexpr char kMunichLog[] = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n";
constexpr int32_t kTokyoKeys[] = {3565, 13975};
constexpr int32_t kMunichKeys[] = {4810, 1150};

bool TileFileExists(const int32_t (&keys)[2]) {
  char path[kTilePathSize];
  return FormatTilePath(keys[0], keys[1], path) && std::filesystem::is_regular_file(path);
}

class ImportCommandTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    WriteText("tokyo.log", kTokyoLog);
    WriteText("munich.log", kMunichLog);
  }
  void TearDown() override {
    EXPECT_TRUE(platform_.AllAnswersUsed());
    TempDirTest::TearDown();
  }

  TrackRecorder recorder_;
  ScriptedPlatform platform_;
};

TEST_F(ImportCommandTest, LogsAreReadInTheOrderChosenWithTheOneRecorder) {
  struct Case {
    std::vector<std::string> paths;
    const int32_t (&lastKeys)[2];
  };
  const Case cases[] = {
      {{"tokyo.log", "munich.log"}, kMunichKeys},
      {{"munich.log", "tokyo.log"}, kTokyoKeys},
      // A log that cannot be opened among others is skipped silently.
      {{"tokyo.log", "missing.log", "munich.log"}, kMunichKeys},
      {{"munich.log", "tokyo.log", "missing.log"}, kTokyoKeys},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all("RGD");
    platform_.QueueLogFiles(c.paths);
    EXPECT_TRUE(ImportLogs(recorder_, platform_));
    EXPECT_TRUE(TileFileExists(kTokyoKeys));
    EXPECT_TRUE(TileFileExists(kMunichKeys));
    // The recorder's keys are those of the last fix read; each log read to
    // its end leaves no tile open.
    EXPECT_EQ(recorder_.tileLatKey, c.lastKeys[0]);
    EXPECT_EQ(recorder_.tileLonKey, c.lastKeys[1]);
    EXPECT_EQ(recorder_.tile, nullptr);
  }
  EXPECT_TRUE(platform_.messages.empty());
}

TEST_F(ImportCommandTest, CancelReadsNothing) {
  platform_.QueueLogFiles({});
  EXPECT_FALSE(ImportLogs(recorder_, platform_));
  EXPECT_EQ(platform_.logFileQuestions, 1);
  EXPECT_FALSE(std::filesystem::exists("RGD"));
}

TEST_F(ImportCommandTest, ChosenLogsThatCannotBeOpenedStillAskForARebuild) {
  platform_.QueueLogFiles({"missing.log", "folder"});
  std::filesystem::create_directory("folder");
  EXPECT_TRUE(ImportLogs(recorder_, platform_));
  EXPECT_FALSE(std::filesystem::exists("RGD"));
  EXPECT_TRUE(platform_.messages.empty());
}

}  // namespace
}  // namespace roamgrid
