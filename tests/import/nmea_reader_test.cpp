#include "import/nmea_reader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "import/log_import.h"
#include "import/reference_nmea_reader.h"
#include "support/temp_dir.h"
#include "tiles/grid_units.h"
#include "tiles/tile_file.h"

namespace roamgrid {
namespace {

using namespace std::string_literals;
using testing::ReadBytes;
using testing::WriteText;

constexpr size_t kBlockSize = kNmeaReadBlockSize;

TEST(GgaFieldToDegreesTest, IsTheExactDoubleSequence) {
  struct Case {
    double value;
    double degrees;
  };
  const Case cases[] = {
      {4807.038, 48.117299999999986},
      {1131.000, 11.516666666666667},
      {13945.000, 139.74999999999997},  // a division by 60 would give 139.75
      {4875.0, 49.25},                  // minutes above 59 are converted as they are
      {0.0, 0.0},
      {-4807.038, -48.117299999999986},
  };
  for (const Case& c : cases) EXPECT_EQ(GgaFieldToDegrees(c.value), c.degrees) << c.value;
  // Beyond 32 bits or not a number: far out of the recorder's range.
  for (double v : {1e300, -1e300, 3e11, double(INFINITY), double(NAN)}) {
    EXPECT_FALSE(std::fabs(GgaFieldToDegrees(v)) < 180.0) << v;
  }
}

struct LineCase {
  std::string text;
  GgaLine kind;
  double lat = 0.0;
  double lon = 0.0;
  bool anyTalker = false;
  bool strict = false;
};

void ExpectLines(const std::vector<LineCase>& cases) {
  for (const LineCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << '"' << c.text << '"');
    double lat = -999.0;
    double lon = -999.0;
    EXPECT_EQ(ReadGgaLine(c.text.data(), c.text.size(), c.anyTalker, c.strict, &lat, &lon), c.kind);
    if (c.kind == GgaLine::kFix) {
      EXPECT_EQ(lat, c.lat);
      EXPECT_EQ(lon, c.lon);
    }
  }
}

const double kLat = 48.117299999999986;
const double kLon = 11.516666666666667;

std::vector<LineCase> LineCases() {
  const GgaLine fix = GgaLine::kFix;
  const GgaLine other = GgaLine::kOther;
  const GgaLine bad = GgaLine::kUnreadable;
  return {
      {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", fix, kLat, kLon},
      {"$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,*47\n", fix, -kLat, -kLon},
      {"$GPGGA,123519,4807.038,N,01131.000,W,1\n", fix, kLat, -kLon},
      {"$GPGGA,,3540.000,N,13945.000,E", fix, 35.666666666666664, 139.74999999999997},
      {"$GPGGA,1,4875.0,North,01131.000,East\n", fix, 49.25, kLon},
      {"$GPGGA,1,,N,abc,E\n", fix, 0.0, 0.0},  // no number reads as 0
      {"$GPGGA,1, 4807.038x,N,01131.000E,E\n", fix, kLat, kLon},
      {"$GPGGA,1,4807.038,N,01131.000,E"s + '\0' + "garbage", fix, kLat, kLon},
      // Fields beyond the first 64 characters, and a NUL among them.
      {"$GPGGA," + std::string(50, '1') + ",4807.038,N,01131.000,W,1,08,0.9\n", fix, kLat, -kLon},
      {"$GPGGA,1,4807.038,N"s + '\0' + ",01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", bad},
      // A receiver without a fix, and other unreadable GGA lines.
      {"$GPGGA,123519,,,,,0,00,,,M,,M,,*66\r\n", bad},
      {"$GPGGA,1,4807.038,n,01131.000,E\n", bad},
      {"$GPGGA,1,4807.038,N,01131.000,e\n", bad},
      {"$GPGGA,1,4807.038,N,01131.000,\n", bad},
      {"$GPGGA,1,4807.038,N,01131.000,", bad},
      {"$GPGGA,1,4807.038,N,01131.000", bad},
      {"$GPGGA,1,4807.038,N", bad},
      {"$GPGGA,1,4807.038,", bad},
      {"$GPGGA,123519\r\n", bad},
      {"$GPGGA,", bad},
      {"$GPGGA,1,4807.038,N"s + '\0' + ",01131.000,E\n", bad},
      // Only "$GPGGA," at the very start makes a GGA line.
      {" $GPGGA,1,4807.038,N,01131.000,E\n", other},
      {"$gpgga,1,4807.038,N,01131.000,E\n", other},
      {"$GNGGA,1,4807.038,N,01131.000,E\n", other},
      {"$GPRMC,1,A,4807.038,N,01131.000,E\n", other},
      {"$GPGGA\n", other},
      {"$GPGG"s + '\0' + ",1,4807.038,N,01131.000,E\n", other},
      {"", other},
      // Any talker, when asked for.
      {"$GNGGA,1,4807.038,N,01131.000,E\n", fix, kLat, kLon, true},
      {"$GPGGA,1,4807.038,N,01131.000,E\n", fix, kLat, kLon, true},
      {"$GnGGA,1,4807.038,N,01131.000,E\n", other, 0, 0, true},
      {"$G1GGA,1,4807.038,N,01131.000,E\n", other, 0, 0, true},
      {"$GNRMC,1,4807.038,N,01131.000,E\n", other, 0, 0, true},
      // Without strict reading the checksum and the fix quality are not read.
      {"$GPGGA,1,4807.038,S,01131.000,W,0*00\n", fix, -kLat, -kLon},
      // Strict: a right checksum (either case, then only the line end) and
      // a fix quality other than 0.
      {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", fix, kLat, kLon,
       false, true},
      {"$GPGGA,1,4807.038,S,01131.000,W,2,1*7e\n", fix, -kLat, -kLon, false, true},
      {"$GPGGA,1,4807.038,S,01131.000,W,2*63", fix, -kLat, -kLon, false, true},
      {"$GPGGA,1,4807.038,S,01131.000,W,2*63"s + '\0' + "x", fix, -kLat, -kLon, false, true},
      {"$GNGGA,1,4807.038,N,01131.000,E,1*71\n", fix, kLat, kLon, true, true},
      {"$GNGGA,1,4807.038,N,01131.000,E,1*71\n", other, 0, 0, false, true},
      {"$GPGGA,1,4807.038,S,01131.000,W,2*64\n", bad, 0, 0, false, true},   // wrong
      {"$GPGGA,1,4807.038,S,01131.000,W,2*6\n", bad, 0, 0, false, true},    // one digit
      {"$GPGGA,1,4807.038,S,01131.000,W,2*6G\n", bad, 0, 0, false, true},   // not hex
      {"$GPGGA,1,4807.038,S,01131.000,W,2*63 \n", bad, 0, 0, false, true},  // text after it
      {"$GPGGA,1,4807.038,S,01131.000,W,2\n", bad, 0, 0, false, true},      // none
      {"$GPGGA,1,4807.038,S,01131.000,W,2*6"s + '\0' + "3\n", bad, 0, 0, false, true},
      {"$GPGGA,1,4807.038,S,01131.000,W,0*61\n", bad, 0, 0, false, true},  // no fix
      {"$GPGGA,1,4807.038,S,01131.000,W,00*51\n", bad, 0, 0, false, true},
      {"$GPGGA,1,4807.038,S,01131.000,W,,*51\n", bad, 0, 0, false, true},  // no quality
      {"$GPGGA,1,4807.038,S,01131.000,W*7D\n", bad, 0, 0, false, true},
      {"$GPGGA,1,4807.038,S,01131.000,W,x*29\n", bad, 0, 0, false, true},
      {"$GPGGA,123519,,,,,0,00,,,M,,M,,*6B\r\n", bad, 0, 0, false, true},
      {"$GPGGA,1,4807.038,n,01131.000,W,2*5E\n", bad, 0, 0, false, true},  // checksum right
  };
}

TEST(ReadGgaLineTest, JudgesLinesAsTheLogReaderDoes) { ExpectLines(LineCases()); }

// Numbers are read the same under a locale that writes a decimal comma.
TEST(ReadGgaLineTest, IgnoresADecimalCommaLocale) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE.utf8")) {
    GTEST_SKIP() << "no decimal-comma locale installed";
  }
  ExpectLines(LineCases());
  std::setlocale(LC_ALL, "C");
}

class NmeaReaderTest : public testing::TempDirTest {
 protected:
  // Cells visited in the tile file at `path`, as (row, column).
  static std::vector<std::pair<int, int>> Visited(const std::string& path) {
    std::vector<std::pair<int, int>> visited;
    TrackTile tile;
    std::snprintf(tile.path, sizeof tile.path, "%s", path.c_str());
    if (LoadTile(tile) != kLoaded) return visited;
    for (int i = 0; i < kCellCount; ++i)
      if (tile.cells[i]) visited.push_back({i / kCellsPerSide, i % kCellsPerSide});
    return visited;
  }
};

TEST_F(NmeaReaderTest, UnreadableGgaLineIsSkippedAndTheLogReadToItsEnd) {
  // A receiver writes GGA lines without a position until it has a fix; the
  // fixes after such a line are recorded and the tile is released.
  WriteText("track.log",
            "$GPGGA,100000,3540.000,N,13945.000,E,1,08,0.9,5.0,M,39.0,M,,*4A\r\n"
            "$GPGGA,100001,,,,,0,00,,,M,,M,,*66\r\n"
            "$GPRMC,100001,V,,,,,,,070126,,,N*4C\r\n"
            "$GPGGA,100002,3540.003,N,13945.003,E,1,08,0.9,5.0,M,39.0,M,,*4A\r\n"
            "$GPGGA,100003,3540.006,n,13945.006,E,1,08,0.9,5.0,M,39.0,M,,*4A\r\n"
            "$GPGGA,100004,3540.009,N,13945.009,E,1,08,0.9,5.0,M,39.0,M,,*4A\r\n");
  TrackRecorder recorder;
  ImportReport report;
  ASSERT_TRUE(ImportNmeaLog(recorder, "track.log", &report));
  EXPECT_TRUE(report.opened);
  EXPECT_EQ(report.fixes, 3);
  EXPECT_EQ(report.skipped, 2);
  EXPECT_EQ(report.bytesRead, (long long)ReadBytes("track.log").size());
  EXPECT_EQ(recorder.tile, nullptr);  // released at the end of the log
  EXPECT_EQ(recorder.tileLatKey, 3565);
  EXPECT_EQ(recorder.tileLonKey, 13975);
  // 13945.000 E is 139.74999999999997, in the last column of the tile
  // west of 139.75; the other two fixes lie east of it.
  EXPECT_EQ(Visited("RGD/E139N035/E13970-N03565.map"),
            (std::vector<std::pair<int, int>>{{298, 895}}));
  EXPECT_EQ(Visited("RGD/E139N035/E13975-N03565.map"),
            (std::vector<std::pair<int, int>>{{299, 0}, {301, 2}}));
}

TEST_F(NmeaReaderTest, MissingFileOrFolderReturnsFalseAndLeavesTheRecorderAlone) {
  TrackRecorder recorder;
  ASSERT_TRUE(AddPoint(recorder, 35.0123, 139.7456));
  ImportReport report;
  report.fixes = 7;
  EXPECT_FALSE(ImportNmeaLog(recorder, "no-such.log", &report));
  EXPECT_FALSE(report.opened);
  EXPECT_EQ(report.fixes, 0);
  std::filesystem::create_directory("folder.log");
  EXPECT_FALSE(ImportNmeaLog(recorder, "folder.log", &report));
  EXPECT_FALSE(report.opened);
  ASSERT_NE(recorder.tile, nullptr);
  EXPECT_EQ(recorder.tile->dirty, 1);
  EXPECT_FALSE(std::filesystem::exists("RGD"));
}

TEST_F(NmeaReaderTest, ReadErrorEndsTheLogLikeItsEndAndIsReported) {
  TrackRecorder recorder;
  ASSERT_TRUE(AddPoint(recorder, 35.0123, 139.7456));
  ImportReport report;
  // Reading a process's memory from address 0 fails with an I/O error.
  EXPECT_TRUE(ImportNmeaLog(recorder, "/proc/self/mem", &report));
  EXPECT_TRUE(report.opened);
  EXPECT_TRUE(report.readError);
  EXPECT_EQ(recorder.tile, nullptr);  // released as at the end of a log
  EXPECT_TRUE(std::filesystem::exists("RGD/E139N035/E13970-N03500.map"));
  WriteText("ok.log", "$GPGGA,1,3500.740,N,13944.736,E,1\r\n");
  EXPECT_TRUE(ImportNmeaLog(recorder, "ok.log", &report));
  EXPECT_FALSE(report.readError);
}

TEST_F(NmeaReaderTest, LongLinesAreJudgedInPiecesOf1023) {
  const std::string gga = "$GPGGA,1,3540.000,N,13945.000,E,1,08,0.9,5.0,M,39.0,M,,*4A";
  struct Case {
    std::string log;
    long long fixes, skipped;
  };
  const Case cases[] = {
      // A GGA sentence at the start of the second piece counts as a line.
      {std::string(1023, 'x') + gga + "\r\n", 1, 0},
      {std::string(1022, 'x') + gga + "\r\n", 0, 0},
      // A GGA line cut inside its longitude field: the first piece is unreadable.
      {"$GPGGA," + std::string(1000, '1') + ",4807.038,N,01131.000,E\n", 0, 1},
      {gga + std::string(1023 - gga.size(), ',') + "tail\n", 1, 0},
      // A line of exactly 1023 characters leaves its line feed as a piece.
      {gga + std::string(1023 - gga.size(), ' ') + "\n" + gga, 2, 0},
      // The last line without a line feed is read.
      {gga + "\n" + gga, 2, 0},
  };
  for (const Case& c : cases) {
    WriteText("long.log", c.log);
    TrackRecorder recorder;
    ImportReport report;
    ASSERT_TRUE(ImportNmeaLog(recorder, "long.log", &report));
    EXPECT_EQ(report.fixes, c.fixes) << c.log.size();
    EXPECT_EQ(report.skipped, c.skipped) << c.log.size();
  }
}

TEST_F(NmeaReaderTest, ProgressIsReportedUpToTheEnd) {
  std::string log;
  while (log.size() < (9 << 20)) log += "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n";
  WriteText("big.log", log);
  struct Recording : ImportProgress {
    std::vector<long long> seen;
    void Advance(long long bytes) override { seen.push_back(bytes); }
  } recording;
  const std::vector<long long>& seen = recording.seen;
  ImportOptions options;
  options.progress = &recording;
  TrackRecorder recorder;
  ASSERT_TRUE(ImportNmeaLog(recorder, "big.log", nullptr, options));
  ASSERT_GE(seen.size(), 2u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), (long long)log.size());
}

// ---- The block reader against the line-by-line reference ----

// A log of GGA lines along a wandering track over a few tiles, mixed with
// everything a reader must step over: other sentences, fix-less and broken
// GGA lines, odd numbers, NUL bytes, long lines and pieces that begin with
// a GGA sentence, CR LF and LF.
std::string MakeMixedLog(unsigned seed, size_t approxBytes) {
  std::mt19937 random(seed);
  const auto chance = [&random](int percent) { return int(random() % 100) < percent; };
  // Rarely south and west: a change of tile costs a save and a load.
  const auto hemisphere = [&random]() { return random() % 500 == 0 ? 'S' : 'N'; };
  double latMinutes = 4.0;   // 35 degrees and this many minutes
  double lonMinutes = 45.0;  // 139 degrees and this many minutes
  std::string log;
  char field[64];
  while (log.size() < approxBytes) {
    latMinutes += (int(random() % 2001) - 1000) * 2e-6;
    lonMinutes += (int(random() % 2001) - 1000) * 2e-6;
    if (random() % 400 == 0) latMinutes = double(random() % 900) / 100.0;
    if (random() % 400 == 0) lonMinutes = 42.0 + double(random() % 600) / 100.0;
    const int decimals = int(random() % 7);
    std::snprintf(field, sizeof field, "%.*f,%c,139%0*.*f,%c", decimals, 3500 + latMinutes,
                  hemisphere(), decimals + 3, decimals, lonMinutes,
                  hemisphere() == 'N' ? 'E' : 'W');
    std::string gga = "$GPGGA,1234" + std::to_string(random() % 100) + "," + field +
                      ",1,08,0.9,545.4,M,46.9,M,,*47";
    const std::string end = chance(50) ? "\r\n" : "\n";
    switch (random() % 24) {
      case 0:
        log += "$GPGGA,123519,,,,,0,00,,,M,,M,,*66" + end;
        break;
      case 1:  // cut short at a random point
        log += gga.substr(0, random() % gga.size()) + end;
        break;
      case 2: {  // a NUL byte somewhere
        gga[random() % gga.size()] = '\0';
        log += gga + end;
        break;
      }
      case 3: {  // a long line; a GGA sentence may start its second or third piece
        const size_t filler = chance(50) ? 1023 * (1 + random() % 2) : random() % 3000;
        log += std::string(filler, char('a' + random() % 26)) + (chance(50) ? gga : "") + end;
        break;
      }
      case 4: {  // numbers strtod reads in unusual ways
        static const char* const kOdd[] = {
            "1e3", "0x1A", "inf", "nan",  " +3504.5", "-3504.5", "3504.123456789012345678",
            ".5",  "",     "--1", "1e999"};
        log += "$GPGGA,1," + std::string(kOdd[random() % 11]) + ",N," +
               std::string(kOdd[random() % 11]) + ",E,1" + end;
        break;
      }
      case 5:
        log += (chance(50) ? "$GNGGA" : " $GPGGA") + gga.substr(6) + end;
        break;
      case 6:
        log += "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74" + end;
        break;
      case 7:
        log += "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A" + end;
        break;
      default:
        log += gga + end;
    }
  }
  // Some logs end without a line feed.
  if (chance(50) && !log.empty() && log.back() == '\n') log.pop_back();
  return log;
}

using TileTree = std::map<std::string, std::vector<uint8_t>>;

TileTree ReadTileTree() {
  TileTree tree;
  if (!std::filesystem::exists("RGD")) return tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator("RGD")) {
    if (entry.is_regular_file()) tree[entry.path().string()] = ReadBytes(entry.path().string());
  }
  return tree;
}

class ReaderAgreementTest : public testing::TempDirTest {
 protected:
  // Imports `logs` (in this order, one recorder) with both readers, each in
  // a store of its own, and expects the same counts and the same files.
  void ExpectSameTiles(const std::vector<std::string>& logs) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < logs.size(); ++i) {
      paths.push_back((dir() / ("log" + std::to_string(i) + ".log")).string());
      WriteText(paths.back(), logs[i]);
    }
    std::filesystem::create_directory(dir() / "reference");
    std::filesystem::create_directory(dir() / "fast");

    std::filesystem::current_path(dir() / "reference");
    testing::ReferenceCounts expected;
    {
      TrackRecorder recorder;
      for (const std::string& path : paths)
        ASSERT_TRUE(testing::ReferenceImportNmeaLog(recorder, path.c_str(), &expected));
    }
    const TileTree expectedTiles = ReadTileTree();

    std::filesystem::current_path(dir() / "fast");
    ImportReport total;
    {
      TrackRecorder recorder;
      for (const std::string& path : paths) {
        ImportReport report;
        ASSERT_TRUE(ImportNmeaLog(recorder, path, &report));
        total.fixes += report.fixes;
        total.skipped += report.skipped;
      }
    }
    const TileTree tiles = ReadTileTree();
    std::filesystem::current_path(dir());

    EXPECT_GT(expected.fixes, 0);
    EXPECT_EQ(total.fixes, expected.fixes);
    EXPECT_EQ(total.skipped, expected.skipped);
    EXPECT_FALSE(expectedTiles.empty());
    EXPECT_TRUE(tiles == expectedTiles)
        << tiles.size() << " tiles, expected " << expectedTiles.size();
  }
};

TEST_F(ReaderAgreementTest, GeneratedLogsGiveIdenticalTiles) {
  std::vector<std::string> logs;
  for (unsigned seed = 1; seed <= 4; ++seed) logs.push_back(MakeMixedLog(seed, 300000));
  logs.push_back(MakeMixedLog(5, kBlockSize * 5 / 2));  // crosses block ends
  logs.push_back("");
  ExpectSameTiles(logs);
}

TEST_F(ReaderAgreementTest, PiecesAcrossBlockEndsGiveIdenticalTiles) {
  // A GGA line, or a long line with a GGA piece, placed so that the end of
  // the first block falls at each interesting offset of it.
  const std::string gga = "$GPGGA,1,3504.5678,N,13945.1234,E,1,08,0.9,5.0,M,39.0,M,,*4A\r\n";
  std::vector<std::string> logs;
  for (size_t before : {0, 1, 6, 7, 20, 40, 62, 63, 64, 1022, 1023, 1024, 1030}) {
    for (bool longLine : {false, true}) {
      const std::string line = longLine ? std::string(1023, 'z') + gga : gga;
      std::string log;
      // Filler lines of 100 bytes, then one of the length that puts the
      // block end `before` bytes into `line`.
      const size_t start = kBlockSize - before;
      while (log.size() + 200 < start) log += std::string(99, 'f') + "\n";
      log += std::string(start - log.size() - 1, 'g') + "\n";
      log += line + gga;
      logs.push_back(log);
    }
  }
  ExpectSameTiles(logs);
}

TEST_F(NmeaReaderTest, StrictReadingSkipsGgaLinesWithoutRightChecksumOrFix) {
  // Right; wrong checksum; another talker; fix quality 0; a long line whose
  // first piece holds no checksum.
  WriteText("noisy.log",
            "$GPGGA,1,4807.038,S,01131.000,W,2*63\r\n"
            "$GPGGA,1,4807.038,S,01131.000,W,2*64\r\n"
            "$GNGGA,1,4807.038,N,01131.000,E,1*71\n"
            "$GPGGA,1,4807.038,S,01131.000,W,0*61\n"
            "$GPGGA,1,4807.038,S,01131.000,W,2," +
                std::string(1000, '0') + "*63\n");
  struct Case {
    bool anyTalker, strict;
    long long fixes, skipped;
  };
  for (const Case& c : {Case{false, false, 4, 0}, Case{false, true, 1, 3}, Case{true, false, 5, 0},
                        Case{true, true, 2, 3}}) {
    ImportOptions options;
    options.anyTalker = c.anyTalker;
    options.strict = c.strict;
    TrackRecorder recorder;
    ImportReport report;
    ASSERT_TRUE(ImportNmeaLog(recorder, "noisy.log", &report, options));
    EXPECT_EQ(report.fixes, c.fixes) << c.anyTalker << c.strict;
    EXPECT_EQ(report.skipped, c.skipped) << c.anyTalker << c.strict;
    EXPECT_EQ(report.otherTalkerGga, c.anyTalker ? 0 : 1);
  }
}

// A receiver without a fix writes fix quality 0 with placeholder
// positions: recorded as designed and counted, or skipped when asked.
TEST_F(NmeaReaderTest, FixesOfQualityZeroAreCountedOrSkipped) {
  WriteText("nofix.log",
            "$GPGGA,1,4807.038,N,01131.000,E,1,08\n"
            "$GPGGA,2,0000.0000,N,00000.0000,E,0,00*43\r\n"
            "$GPGGA,3,8960.0000,N,00000.0000,E,00,00\n"
            "$GPGGA,4,4807.038,N,01131.000,E,,08\n"  // no quality: not said to be invalid
            "$GPGGA,5,4807.038,N,01131.000,E\n"
            "$GPGGA,6,4807.038,N,01131.000,E,0x,08\n");
  struct Case {
    bool skipInvalid;
    long long fixes, invalid, skipped;
  };
  for (const Case& c : {Case{false, 6, 2, 0}, Case{true, 4, 0, 2}}) {
    ImportOptions options;
    options.skipInvalid = c.skipInvalid;
    TrackRecorder recorder;
    ImportReport report;
    ASSERT_TRUE(ImportNmeaLog(recorder, "nofix.log", &report, options));
    EXPECT_EQ(report.fixes, c.fixes) << c.skipInvalid;
    EXPECT_EQ(report.invalidFixes, c.invalid) << c.skipInvalid;
    EXPECT_EQ(report.skipped, c.skipped) << c.skipInvalid;
  }
}

TEST_F(NmeaReaderTest, CountsGgaOfOtherTalkersThatItDoesNotRead) {
  WriteText("gn.log",
            "$GNGGA,1,3539.000,N,13945.000,E\n$GPGGA,1,3539.000,N,13945.000,E\n"
            "$GLGGA,2,x\n$GNRMC,1,2\n$gngga,1,3539.000,N,13945.000,E\n");
  for (const bool anyTalker : {false, true}) {
    ImportOptions options;
    options.anyTalker = anyTalker;
    TrackRecorder recorder;
    ImportReport report;
    ASSERT_TRUE(ImportNmeaLog(recorder, "gn.log", &report, options));
    EXPECT_EQ(report.otherTalkerGga, anyTalker ? 0 : 2);
    EXPECT_EQ(report.fixes, anyTalker ? 2 : 1);
  }
}

}  // namespace
}  // namespace roamgrid
