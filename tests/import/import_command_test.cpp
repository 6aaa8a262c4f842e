#include "import/import_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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
      // A log that cannot be opened among others is skipped and named.
      {{"tokyo.log", "missing.log", "munich.log"}, kMunichKeys},
      {{"munich.log", "tokyo.log", "missing.log"}, kTokyoKeys},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all("RGD");
    platform_.messages.clear();
    platform_.QueueLogFiles(c.paths);
    int rebuilds = 0;
    EXPECT_TRUE(ImportLogs(recorder_, platform_, [&] { ++rebuilds; }));
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(platform_.messages.size(), c.paths.size() == 3 ? 1u : 0u);
    EXPECT_TRUE(TileFileExists(kTokyoKeys));
    EXPECT_TRUE(TileFileExists(kMunichKeys));
    // The recorder's keys are those of the last fix read; each log read to
    // its end leaves no tile open.
    EXPECT_EQ(recorder_.tileLatKey, c.lastKeys[0]);
    EXPECT_EQ(recorder_.tileLonKey, c.lastKeys[1]);
    EXPECT_EQ(recorder_.tile, nullptr);
  }
}

TEST_F(ImportCommandTest, CancelReadsNothing) {
  platform_.QueueLogFiles({});
  EXPECT_FALSE(ImportLogs(recorder_, platform_, [] { ADD_FAILURE() << "rebuilt"; }));
  EXPECT_EQ(platform_.logFileQuestions, 1);
  EXPECT_TRUE(platform_.importTotals.empty());
  EXPECT_FALSE(std::filesystem::exists("RGD"));
}

TEST_F(ImportCommandTest, ChosenLogsThatCannotBeOpenedAreNamedAfterTheRebuild) {
  // A folder is read for its logs; a file there that is none is no problem.
  platform_.QueueLogFiles({"missing.log", "/no/such/folder/x.log", "folder"});
  std::filesystem::create_directory("folder");
  testing::WriteText("folder/notes.txt", "not a log\n");
  bool rebuilt = false;
  EXPECT_TRUE(ImportLogs(recorder_, platform_, [&] {
    rebuilt = true;
    EXPECT_TRUE(platform_.messages.empty());
  }));
  EXPECT_TRUE(rebuilt);
  EXPECT_FALSE(std::filesystem::exists("RGD"));
  ASSERT_EQ(platform_.messages.size(), 1u);
  const std::string missing = std::strerror(ENOENT);
  EXPECT_EQ(platform_.messages[0].text, "Can not Open missing.log: " + missing +
                                            "\nCan not Open x.log: " + missing);
  EXPECT_EQ(platform_.messages[0].style, MessageStyle::kExclamationOk);
  EXPECT_EQ(platform_.importTotals, std::vector<long long>{10});
}

TEST_F(ImportCommandTest, ProblemsTextListsTenLinesThenHowManyMore) {
  const TileProblem tile{TileProblem::Kind::kNotSaved, "RGD/E139N035/E13975-N03565.map", ENOSPC};
  ImportReport gn;
  gn.opened = true;
  gn.otherTalkerGga = 7;
  gn.tileProblems = {tile,
                     {TileProblem::Kind::kUnreadable, "RGD/a.map", EACCES},
                     {TileProblem::Kind::kReplacedDamaged, "RGD/b.map", 0}};
  ImportReport broken;
  broken.opened = true;
  broken.readError = true;
  broken.readErrorText = "damaged compressed data";
  broken.tileProblems = {tile};  // named once for the whole import
  ImportReport unreadable;
  unreadable.opened = true;
  unreadable.readError = true;
  unreadable.readErrorText = std::strerror(EIO);  // as a failed read(2) reports it
  ImportReport fine;
  fine.opened = true;
  ImportReport cancelled = fine;
  cancelled.cancelled = true;
  EXPECT_EQ(ImportProblemsText({"a.log", "b.log"}, {fine, cancelled}), "");
  EXPECT_EQ(ImportProblemsText({"/logs/gn.log", "c.log.gz", "d.log"}, {gn, broken, unreadable}),
            "Can not Save RGD/E139N035/E13975-N03565.map: " + std::string(std::strerror(ENOSPC)) +
                "\nCan not Read RGD/a.map: " + std::strerror(EACCES) +
                "\nDamaged RGD/b.map replaced"
                "\ngn.log: 7 GGA of other talkers not read"
                "\nroamgrid-cli import --any-talker reads them"
                "\nCan not Read c.log.gz to its end: damaged compressed data"
                "\nCan not Read d.log to its end: " +
                std::strerror(EIO));
  // The desktop's own offer: its hint under the log's line, its question last;
  // a second such log gets no second hint.
  const std::string offer =
      ImportProblemsText({"gn.log", "x.log", "gl.log"}, {gn, unreadable, gn}, true);
  EXPECT_EQ(offer.substr(offer.find("gn.log:")),
            "gn.log: 7 GGA of other talkers not read"
            "\nYes reads them now and from now on; Settings changes it back"
            "\nCan not Read x.log to its end: " +
                std::string(std::strerror(EIO)) +
                "\ngl.log: 7 GGA of other talkers not read"
                "\nRead GGA of other talkers now and from now on?");
  // Areas passed over are named, unless they were all the file held (its
  // read error says so).
  ImportReport areas = fine;
  areas.fixes = 3;
  areas.areas = 2;
  ImportReport onlyAreas = fine;
  onlyAreas.areas = 1;
  onlyAreas.readError = true;
  onlyAreas.readErrorText = "this GeoJSON holds only areas";
  EXPECT_EQ(ImportProblemsText({"mixed.geojson", "areas.geojson"}, {areas, onlyAreas}),
            "mixed.geojson: 2 GeoJSON areas (Polygon, MultiPolygon) not imported"
            "\nCan not Read areas.geojson to its end: this GeoJSON holds only areas");
  // Twelve logs not opened: ten lines, then the count of the rest.
  const std::vector<std::string> paths(12, "x.log");
  const std::string text = ImportProblemsText(paths, std::vector<ImportReport>(12));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10);
  EXPECT_TRUE(text.ends_with("Can not Open x.log\nand 2 more")) << text;
}

}  // namespace
}  // namespace roamgrid
