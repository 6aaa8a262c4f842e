// The one import run of both front ends: tiles named once over the run,
// the stop between logs, standard input only when asked, logs that gave no
// position, and the count of new cells in words.
#include "import/import_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import/input_formats.h"
#include "support/generated_logs.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::GgaSentence;
using testing::WriteText;

TEST(ImportRunTest, NewCellsAreCountedInWords) {
  const std::pair<long long, const char*> cases[] = {
      {0, "0 new cells"}, {1, "1 new cell"}, {2, "2 new cells"}, {11, "11 new cells"}};
  for (const auto& [cells, text] : cases) EXPECT_EQ(NewCellsText(cells), text);
}

class ImportRunFilesTest : public testing::TempDirTest {
 protected:
  LogList Listed(const std::vector<std::string>& paths) { return ExpandLogPaths(paths); }
};

TEST_F(ImportRunFilesTest, ATileThatFailsForSeveralLogsIsNamedOnceAndCountsOnce) {
  // A folder stands where the tile of both logs belongs.
  fs::create_directories("RGD/E139N035/E13975-N03565.map");
  WriteText("a.log", GgaSentence(35.6812, 139.7671) + "\n");
  WriteText("b.log", GgaSentence(35.6813, 139.7672) + "\n");
  TrackRecorder recorder;
  std::vector<std::string> told;
  ImportRunHooks hooks;
  hooks.logDone = [&](const LogOutcome& outcome) { told.push_back(outcome.path); };
  const ImportSummary summary =
      ImportLogList(recorder, Listed({"a.log", "b.log", "gone.log"}), {}, hooks);
  EXPECT_EQ(told, (std::vector<std::string>{"a.log", "b.log", "gone.log"}));
  ASSERT_EQ(summary.logs.size(), 3u);
  EXPECT_EQ(summary.logs[0].newTileProblems.size(), 1u);
  EXPECT_EQ(summary.logs[0].newTileProblems[0].path, "RGD/E139N035/E13975-N03565.map");
  EXPECT_EQ(summary.logs[1].report.tileProblems.size(), 1u);  // met again,
  EXPECT_TRUE(summary.logs[1].newTileProblems.empty());       // but not named again
  EXPECT_EQ(summary.tileFailures, 1);
  EXPECT_EQ(summary.notOpened, 1);
  EXPECT_FALSE(summary.Whole());
  EXPECT_FALSE(recorder.tile);
}

TEST_F(ImportRunFilesTest, ACancelStopsBeforeTheNextLogAndDashIsAFileUnlessAsked) {
  WriteText("a.log", GgaSentence(35.6812, 139.7671) + "\n");
  WriteText("-", GgaSentence(35.7812, 139.7671) + "\n");
  struct StopAfterFirst : ImportProgress {
    std::vector<std::string> begun;
    bool stop = false;
    void BeginLog(size_t, size_t, const std::string& path) override { begun.push_back(path); }
    bool Cancelled() override { return stop; }
  } progress;
  TrackRecorder recorder;
  ImportRunHooks hooks;
  hooks.progress = &progress;
  hooks.logDone = [&](const LogOutcome&) { progress.stop = true; };
  const ImportSummary stopped = ImportLogList(recorder, Listed({"a.log", "-"}), {}, hooks);
  EXPECT_EQ(progress.begun, std::vector<std::string>{"a.log"});
  ASSERT_EQ(stopped.logs.size(), 1u);
  EXPECT_EQ(stopped.newCells, 1);

  // Without standardInput, "-" is the file of that name.
  const ImportSummary both = ImportLogList(recorder, Listed({"a.log", "-"}), {});
  ASSERT_EQ(both.logs.size(), 2u);
  EXPECT_TRUE(both.logs[1].report.opened);
  EXPECT_EQ(both.newCells, 1);  // a.log's cell is marked already
  EXPECT_EQ(TotalLogBytes(Listed({"a.log", "-", "gone.log"}), false),
            (long long)(fs::file_size("a.log") + fs::file_size("-")));
}

TEST_F(ImportRunFilesTest, ALogThatGaveNoPositionNamesTheFormatItWasReadAs) {
  WriteText("places.kml",
            "<kml><Placemark><Point><coordinates>139.76,35.68</coordinates></Point>"
            "</Placemark></kml>\n");
  WriteText("empty.log", "");
  WriteText("notes.txt", "no log\n");
  TrackRecorder recorder;
  const ImportSummary summary =
      ImportLogList(recorder, Listed({"places.kml", "empty.log", "notes.txt"}), {});
  ASSERT_EQ(summary.logs.size(), 3u);
  const ImportReport& places = summary.logs[0].report;
  EXPECT_TRUE(GaveNoPosition(places));
  ASSERT_NE(places.format, nullptr);
  EXPECT_STREQ(places.format->readAs, "a KML document");
  EXPECT_FALSE(GaveNoPosition(summary.logs[1].report));  // nothing in it to read
  EXPECT_TRUE(GaveNoPosition(summary.logs[2].report));   // given by name: read as NMEA
  EXPECT_STREQ(summary.logs[2].report.format->readAs, "an NMEA log");
  EXPECT_TRUE(summary.Whole());
}

}  // namespace
}  // namespace roamgrid
