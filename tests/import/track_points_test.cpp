// Joined fixes and the speed limit, through the NMEA reader with its times.
#include "import/track_points.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "common/number_text.h"
#include "import/log_import.h"
#include "import/log_source.h"
#include "import/nmea_reader.h"
#include "support/generated_logs.h"
#include "support/temp_dir.h"
#include "tiles/grid_units.h"

namespace roamgrid {
namespace {

// The bytes of a string, read in one go.
class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string text) : text_(std::move(text)) {}
  Result Read(char* buffer, size_t capacity) override {
    const size_t size = std::min(capacity, text_.size() - at_);
    std::memcpy(buffer, text_.data() + at_, size);
    at_ += size;
    return {size, size > 0 ? Status::kData : Status::kEnd};
  }
  std::string ErrorText() const override { return {}; }
  long long RawBytes() const override { return (long long)at_; }

 private:
  std::string text_;
  size_t at_ = 0;
};

constexpr double kMetresPerDegree = kEarthRadiusMetres * 3.14159265358979323846 / 180;

// A GGA line at `seconds` after 23:59:00 (the day rolls over after 60).
std::string TimedGga(double lat, double lon, int seconds) {
  std::string line = testing::GgaSentence(lat, lon);
  const int t = (86340 + seconds) % 86400;
  const std::string time = FormatFixed(t / 3600, 2, 0, true) +
                           FormatFixed(t / 60 % 60, 2, 0, true) + FormatFixed(t % 60, 2, 0, true);
  return line.replace(7, 6, time) + "\r\n";
}

// Each second one fix, `kmh` to the north-east (east along the row of
// `lat`), from second `start` on.
struct Drive {
  double lat, lon;
  int seconds = 0;
  std::string log;
  void Go(double kmh, int count, bool east = false) {
    for (int i = 0; i < count; ++i, ++seconds) {
      const double metres = kmh / 3.6;
      const double north = east ? 0 : metres / std::sqrt(2.0);
      const double eastward = east ? metres : metres / std::sqrt(2.0);
      lat += north / kMetresPerDegree;
      lon += eastward / (kMetresPerDegree * std::cos(lat * 3.14159265358979323846 / 180));
      log += TimedGga(lat, lon, seconds);
    }
  }
};

using Cell = std::pair<int, int>;

// The marked cells of the recorder's one tile.
std::set<Cell> Marked(const TrackRecorder& recorder) {
  std::set<Cell> cells;
  for (int i = 0; i < kCellCount; ++i)
    if (recorder.tile->cells[size_t(i)]) cells.insert({i / kCellsPerSide, i % kCellsPerSide});
  return cells;
}

// How many 4-connected pieces `cells` fall into.
int Pieces(std::set<Cell> cells) {
  int pieces = 0;
  for (; !cells.empty(); ++pieces) {
    std::vector<Cell> open{*cells.begin()};
    cells.erase(cells.begin());
    while (!open.empty()) {
      const Cell c = open.back();
      open.pop_back();
      for (const Cell& n : {Cell{c.first + 1, c.second}, Cell{c.first - 1, c.second},
                            Cell{c.first, c.second + 1}, Cell{c.first, c.second - 1}})
        if (cells.erase(n)) open.push_back(n);
    }
  }
  return pieces;
}

TEST(TrackPointsTest, ConnectJoinsADriveAcrossMidnightIntoOneTrail) {
  Drive drive{35.651, 139.751, 0, {}};
  drive.Go(100, 120);  // 3.3 km in one tile, the day rolling over half way
  for (const int metres : {0, 250}) {
    TrackRecorder recorder;
    ImportReport report;
    ImportOptions options;
    options.connectMetres = metres;
    StringSource source(drive.log);
    ReadNmeaLog(recorder, source, report, options);
    const std::set<Cell> cells = Marked(recorder);
    EXPECT_EQ(report.fixes, 120);
    if (metres == 0) {
      // As designed: a dot per fix, none touching another.
      EXPECT_EQ(Pieces(cells), 120);
      EXPECT_EQ(report.lineCells, 0);
    } else {
      EXPECT_EQ(Pieces(cells), 1);
      EXPECT_EQ(report.lineCells, (long long)cells.size() - 120);
      EXPECT_EQ(recorder.newCells, (long long)cells.size());
    }
    recorder.tile.reset();  // nothing to save
  }
}

TEST(TrackPointsTest, NoLineAcrossAGapInTimeOrDistanceOrAFixlessLine) {
  Drive drive{35.651, 139.751, 0, {}};
  drive.Go(100, 10);
  drive.seconds += 40;  // 40 s without fixes
  drive.Go(100, 10);
  drive.log += "$GPGGA,000130,,,,,0,00,,,M,,M,,*66\r\n";  // the fix is lost
  drive.Go(100, 10);
  drive.Go(2000, 2);  // 550 m in a second: too far for 250 m
  drive.Go(100, 10);
  TrackRecorder recorder;
  ImportReport report;
  ImportOptions options;
  options.connectMetres = 250;
  StringSource source(drive.log);
  ReadNmeaLog(recorder, source, report, options);
  // Five trails: 10 fixes, 10, 10, the first far fix alone, the second
  // with the 10 after it.
  EXPECT_EQ(Pieces(Marked(recorder)), 5);
  recorder.tile.reset();
}

class TrackPointsStoreTest : public testing::TempDirTest {};

TEST_F(TrackPointsStoreTest, FlightAndGlitchInADriveLeaveNoMarksWithAMaxSpeed) {
  // East along 35.651: a drive, a receiver jump of 3 degrees north for 5 s
  // and back, the drive again, a 30 km flight at 900 km/h, a drive after it.
  Drive drive{35.651, 139.751, 0, {}};
  drive.Go(100, 30, true);
  for (int i = 0; i < 5; ++i)  // the jumped fixes agree among themselves
    drive.log += TimedGga(38.651, drive.lon + i * 0.0001, drive.seconds++);
  drive.Go(100, 30, true);
  drive.Go(900, 120, true);
  const double landed = drive.lon;
  drive.Go(60, 120, true);
  const std::string log = drive.log;
  {
    std::FILE* f = std::fopen("drive.log", "wb");
    ASSERT_TRUE(f);
    std::fwrite(log.data(), 1, log.size(), f);
    std::fclose(f);
  }
  TrackRecorder recorder;
  ImportReport report;
  ImportOptions options;
  options.maxSpeedKmh = 300;
  options.connectMetres = 250;
  ASSERT_TRUE(ImportNmeaLog(recorder, "drive.log", &report, options));
  // The jump and the flight, but for its last fix, which the drive after
  // it continues at a possible speed: the drive's first 30 s are held and
  // then recorded with it.
  EXPECT_EQ(report.tooFast, 5 + 119);
  std::set<std::string> tiles;
  for (const auto& [path, bytes] : testing::FilesBelow("RGD"))
    if (path.ends_with(".map")) tiles.insert(path);
  // The drives' tiles only: 139.75 to the flight's start, and where it landed.
  const int landedKey = int(std::floor(landed * 20)) * 5;
  EXPECT_EQ(tiles,
            (std::set<std::string>{"E139N035/E13975-N03565.map",
                                   "E140N035/E" + std::to_string(landedKey) + "-N03565.map"}));
}

TEST_F(TrackPointsStoreTest, TheDriveAfterAFlightIsRecordedFromItsFirstFix) {
  // A drive, a 15 km flight (its tiles saved in the test's folder), and
  // 100 s of driving after it, all of that last in the one tile where the
  // flight lands.
  Drive drive{35.651, 139.751, 0, {}};
  drive.Go(100, 30, true);
  drive.Go(900, 60, true);
  Drive after = drive;
  after.log.clear();
  after.Go(50, 100);
  const auto import = [](const std::string& log, int maxSpeedKmh, ImportReport& report) {
    TrackRecorder recorder;
    ImportOptions options;
    options.maxSpeedKmh = maxSpeedKmh;
    StringSource source(log);
    ReadNmeaLog(recorder, source, report, options);
    const std::set<Cell> cells = Marked(recorder);
    recorder.tile.reset();  // not saved
    return cells;
  };
  ImportReport alone;
  const std::set<Cell> drivenAfter = import(after.log, 0, alone);
  ImportReport report;
  const std::set<Cell> marked = import(drive.log + after.log, 300, report);
  EXPECT_EQ(report.tooFast, 59);  // the flight, but for where it landed
  EXPECT_EQ(report.fixes, 30 + 1 + 100);
  // Every cell of the drive after landing, and the landing's own.
  EXPECT_TRUE(std::includes(marked.begin(), marked.end(), drivenAfter.begin(), drivenAfter.end()));
  EXPECT_LE(marked.size(), drivenAfter.size() + 1);
  EXPECT_GT(drivenAfter.size(), 90u);
}

}  // namespace
}  // namespace roamgrid
