// Hostile inputs: binary garbage and monstrous lines as logs, tile files cut
// at every length, folders and files where the other is expected, a store
// that may not be written. Each gets the behaviour the system promises, and
// nothing crashes (these tests also run under AddressSanitizer).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/safe_file.h"
#include "export/bmp_file.h"
#include "export/export_command.h"
#include "import/nmea_reader.h"
#include "support/scripted_platform.h"
#include "support/temp_dir.h"
#include "tiles/store_lock.h"
#include "tiles/tile_file.h"
#include "tiles/track_recorder.h"
#include "tiles/track_tile.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;
using testing::ReadBytes;
using testing::ScriptedPlatform;
using testing::WriteBytes;
using testing::WriteText;

// A fix at 48.1173 N, 11.5167 E and the tile it lands in.
constexpr char kMunichGga[] = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
constexpr char kMunichTile[] = "RGD/E011N048/E01150-N04810.map";
// A fix at 35.6583 N, 139.7456 E.
constexpr char kTokyoGga[] = "$GPGGA,000000,3539.500,N,13944.736,E,1,08,0.9,10.0,M,40.0,M,,*00";
constexpr char kTokyoTile[] = "RGD/E139N035/E13970-N03565.map";

long long MarkCount(const char* path) {
  TrackTile tile;
  std::strncpy(tile.path, path, kTilePathSize - 1);
  if (LoadTile(tile) != kLoaded) return -1;
  long long count = 0;
  for (int i = 0; i < kCellCount; ++i) count += tile.cells[i] != 0;
  return count;
}

// Every file below RGD/ but the store's lock file loads whole.
void ExpectWholeStore() {
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator("RGD", ec)) {
    if (!entry.is_regular_file() || entry.path() == kStoreLockPath) continue;
    EXPECT_GE(MarkCount(entry.path().c_str()), 1) << entry.path();
  }
}

class HostileInputTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }
  ImportReport Import(const std::string& path) {
    TrackRecorder recorder;
    ImportReport report;
    EXPECT_TRUE(ImportNmeaLog(recorder, path, &report));
    EXPECT_FALSE(recorder.tile);
    return report;
  }
};

// --- logs -------------------------------------------------------------------

TEST_F(HostileInputTest, BinaryLogIsReadToItsEndAndItsSentencesStillCount) {
  std::mt19937 random(20240601);
  std::string log;
  for (int part = 0; part < 4; ++part) {
    for (int i = 0; i < 300000; ++i) log += char(random() & 0xFF);
    log += "\n"s + kMunichGga + "\r\n";  // a sentence that begins a line
  }
  WriteText("noise.log", log);
  const ImportReport report = Import("noise.log");
  EXPECT_EQ(report.bytesRead, (long long)log.size());
  EXPECT_EQ(report.fixes, 4);
  EXPECT_EQ(MarkCount(kMunichTile), 1);
  ExpectWholeStore();
}

TEST_F(HostileInputTest, MegabyteLineIsJudgedInPiecesOf1023) {
  // A sentence begins the line, another begins the piece at 500 x 1023
  // inside it, and one more follows on the next line.
  std::string line = kTokyoGga + ","s;
  line.resize(500 * 1023, 'x');
  line += kMunichGga + ","s;
  line.resize(1 << 20, 'y');
  const std::string log = line + "\n" + kTokyoGga + "\n";
  WriteText("long.log", log);
  const ImportReport report = Import("long.log");
  EXPECT_EQ(report.bytesRead, (long long)log.size());
  EXPECT_EQ(report.fixes, 3);
  EXPECT_EQ(report.skipped, 0);
  EXPECT_EQ(MarkCount(kTokyoTile), 1);
  EXPECT_EQ(MarkCount(kMunichTile), 1);
}

TEST_F(HostileInputTest, NulBytesEndTheTextOfTheirLineOnly) {
  const std::string log =
      kMunichGga + "\0trailing text\n"s +  // NUL after the fields: a fix
      "$GPGGA,123519,4807.0\0"
      "38,N,01131.000,E,1\n"s +                       // NUL in a field: unreadable
      "$GP\0GA,123519,3539.500,N,13944.736,E,1\n"s +  // NUL in the identifier: no GGA
      "\0"s +
      kTokyoGga + "\n" +                // NUL first: no GGA
      std::string(2000, '\0') + "\n" +  // a line of NULs
      kTokyoGga + "\n";                 // read after all of them
  WriteText("nul.log", log);
  const ImportReport report = Import("nul.log");
  EXPECT_EQ(report.bytesRead, (long long)log.size());
  EXPECT_EQ(report.fixes, 2);
  EXPECT_EQ(report.skipped, 1);
  EXPECT_EQ(MarkCount(kMunichTile), 1);
  EXPECT_EQ(MarkCount(kTokyoTile), 1);
}

// --- tile files -------------------------------------------------------------

TEST_F(HostileInputTest, TileFileCutAtEveryLengthLoadsAsFarAsItGoes) {
  // A tile with marks spread over it; its file, and the groups each code
  // byte describes.
  auto cells = std::make_unique<uint8_t[]>(kCellCount);
  for (int i = 0; i < 300; ++i) cells[(i * 3) % kCellsPerSide * kCellsPerSide + (i * 7) % 896] = 1;
  const Bytes file = EncodeTile(0x5A, 0xA5, cells.get());
  const auto zeros = std::make_unique<uint8_t[]>(kCellCount);
  TrackTile tile;
  FormatTilePath(3565, 13975, tile.path);
  CreateParentDirectories(tile.path);

  int groups = 0;  // described by the code bytes before the cut
  for (size_t length = 0; length <= file.size(); ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    if (length > kTileHeaderSize) {
      const uint8_t byte = file[length - 1];
      groups = std::min(kGroupCount, groups + (byte & 0x80 ? (byte & 0x7F) + 1 : 1));
    }
    WriteBytes(tile.path, Bytes(file.begin(), file.begin() + long(length)));
    tile.cells.reset();
    tile.northMask = tile.southMask = 0;
    const LoadResult result = LoadTile(tile);
    if (length < kTileHeaderSize) {
      ASSERT_EQ(result, kDamaged);
      ASSERT_FALSE(tile.cells);
      ASSERT_EQ(tile.northMask | tile.southMask, 0);
      continue;
    }
    ASSERT_EQ(result, length == file.size() ? kLoaded : kDamaged);
    ASSERT_EQ(tile.northMask, 0x5A);
    ASSERT_EQ(tile.southMask, 0xA5);
    ASSERT_TRUE(tile.cells);
    // The cells of the described groups as in the tile, all others unvisited.
    const size_t known = size_t(groups) * kCellsPerGroup;
    ASSERT_EQ(std::memcmp(tile.cells.get(), cells.get(), known), 0);
    ASSERT_EQ(std::memcmp(tile.cells.get() + known, zeros.get(), kCellCount - known), 0);
  }
  EXPECT_EQ(groups, kGroupCount);
}

TEST_F(HostileInputTest, RecordingIntoACutTileReplacesItWithAWholeOne) {
  auto cells = std::make_unique<uint8_t[]>(kCellCount);
  for (int i = 0; i < 200; ++i) cells[(100 + i) * kCellsPerSide + 2 * i] = 1;
  const Bytes file = EncodeTile(0x00, 0x10, cells.get());
  for (size_t length : {size_t(0), size_t(2), size_t(3), file.size() / 2, file.size() - 1}) {
    SCOPED_TRACE("length " + std::to_string(length));
    WriteBytes(kTokyoTile, Bytes(file.begin(), file.begin() + long(length)));
    TrackRecorder recorder;
    ASSERT_TRUE(AddPoint(recorder, 35.6583, 139.7456));
    ASSERT_TRUE(ReleaseRecorderTile(recorder));
    // Whole now: what the cut file still held, and the new mark.
    TrackTile tile;
    std::strcpy(tile.path, kTokyoTile);
    TrackTile cut;
    std::strcpy(cut.path, kTokyoTile);
    ASSERT_EQ(LoadTile(tile), kLoaded);
    WriteBytes("cut.map", Bytes(file.begin(), file.begin() + long(length)));
    std::strcpy(cut.path, "cut.map");
    LoadTile(cut);  // damaged: as far as it goes
    long long kept = 0;
    long long marks = 0;
    for (int i = 0; i < kCellCount; ++i) {
      marks += tile.cells[i] != 0;
      if (cut.cells && cut.cells[i]) {
        ++kept;
        ASSERT_NE(tile.cells[i], 0) << "cell " << i << " was lost";
      }
    }
    EXPECT_EQ(marks, kept + 1);
  }
}

TEST_F(HostileInputTest, FileWhereAFolderOfTheStoreBelongsBlocksOnlyItsTiles) {
  // "RGD/E011N048" is a file, so the Munich tile has nowhere to go; the
  // Tokyo tile is stored as usual.
  WriteText("RGD/E011N048", "not a folder");
  WriteText("both.log", kMunichGga + "\n"s + kTokyoGga + "\n" + kMunichGga + "\n");
  const ImportReport report = Import("both.log");
  EXPECT_EQ(report.fixes, 3);
  EXPECT_EQ(MarkCount(kTokyoTile), 1);
  EXPECT_EQ(ReadBytes("RGD/E011N048"),
            Bytes({'n', 'o', 't', ' ', 'a', ' ', 'f', 'o', 'l', 'd', 'e', 'r'}));

  // "RGD" itself a file: nothing can be stored, nothing is damaged.
  fs::remove_all("RGD");
  WriteText("RGD", "x");
  const ImportReport blocked = Import("both.log");
  EXPECT_EQ(blocked.fixes, 3);
  EXPECT_EQ(ReadBytes("RGD"), Bytes({'x'}));
}

TEST_F(HostileInputTest, FolderWhereATileFileBelongsReadsEmptyAndStays) {
  fs::create_directories(kTokyoTile);
  WriteText(kTokyoTile + "/inside"s, "kept");
  TrackTile tile;
  std::strcpy(tile.path, kTokyoTile);
  EXPECT_NE(LoadTile(tile), kLoaded);
  EXPECT_FALSE(tile.cells);  // reads as an empty tile

  TrackRecorder recorder;
  ASSERT_TRUE(AddPoint(recorder, 35.6583, 139.7456));
  EXPECT_FALSE(ReleaseRecorderTile(recorder));  // the save fails; its change is lost
  EXPECT_TRUE(fs::is_directory(kTokyoTile));
  EXPECT_EQ(ReadBytes(kTokyoTile + "/inside"s), Bytes({'k', 'e', 'p', 't'}));
  EXPECT_EQ(std::distance(fs::directory_iterator("RGD/E139N035"), {}), 1);  // no temporary file
}

// Runs `scenario` as a user whom permission bits bind: this process when it
// is not root, else a child that has given up root for "nobody". The
// scenario returns 0 when every check held, else the number of the first
// that failed. Skips when root cannot become another user here.
template <class Scenario>
void RunUnprivileged(Scenario scenario) {
  if (geteuid() != 0) {
    EXPECT_EQ(scenario(), 0);
    return;
  }
  // The test folder must be reachable for the other user.
  ASSERT_EQ(chmod(".", 0755), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    _exit(scenario());
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 100) GTEST_SKIP() << "cannot run as another user here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "check " << WEXITSTATUS(status) << " failed";
}

TEST_F(HostileInputTest, ReadOnlyStoreIsReadButNeverDamaged) {
  // A stored Tokyo tile with one mark, then the whole store made read-only.
  {
    TrackRecorder recorder;
    ASSERT_TRUE(AddPoint(recorder, 35.6583, 139.7456));
  }
  const Bytes stored = ReadBytes(kTokyoTile);
  ASSERT_FALSE(stored.empty());
  WriteText("trip.log",
            kTokyoGga + "\n"s + "$GPGGA,000001,3539.600,N,13944.736,E,1\n" + kMunichGga + "\n");
  chmod("trip.log", 0644);
  for (const char* dir : {"RGD/E139N035", "RGD"}) ASSERT_EQ(chmod(dir, 0555), 0);
  ASSERT_EQ(chmod(kTokyoTile, 0444), 0);

  RunUnprivileged([&]() -> int {
    TrackTile tile;
    std::strcpy(tile.path, kTokyoTile);
    if (LoadTile(tile) != kLoaded) return 1;  // the view still reads the store
    TrackRecorder recorder;
    ImportReport report;
    if (!ImportNmeaLog(recorder, "trip.log", &report)) return 2;
    if (report.fixes != 3) return 3;
    if (ReadBytes(kTokyoTile) != stored) return 4;  // the new mark is lost, the old kept
    if (fs::exists("RGD/E011N048")) return 5;
    if (std::distance(fs::directory_iterator("RGD/E139N035"), {}) != 1) return 6;
    return 0;
  });
  chmod("RGD", 0755);
  chmod("RGD/E139N035", 0755);
}

// --- images -----------------------------------------------------------------

TEST_F(HostileInputTest, ImagePathThatIsAFolderCannotBeOpened) {
  fs::create_directories("views.bmp");
  WriteText("views.bmp/inside", "kept");
  const Bytes raster(kRasterSize, 1);
  EXPECT_EQ(WriteNewImage("views.bmp", raster.data()), ImageWriteResult::kCannotOpen);
  EXPECT_NE(MergeIntoImage("views.bmp", raster.data()), MergeResult::kMerged);

  // The Export command treats the folder like a file it cannot open: no
  // overwrite prompt, "Can not Open".
  ScriptedPlatform platform;
  platform.QueueExportPath("views.bmp");
  ExportBitmap(ViewState{}, raster.data(), platform);
  EXPECT_TRUE(platform.overwriteQuestions.empty());
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, kCannotOpenText);

  EXPECT_TRUE(fs::is_directory("views.bmp"));
  EXPECT_EQ(ReadBytes("views.bmp/inside"), Bytes({'k', 'e', 'p', 't'}));
  EXPECT_FALSE(fs::exists("views.bmp.bk"));
  EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);
}

}  // namespace
}  // namespace roamgrid
