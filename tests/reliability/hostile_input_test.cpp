// Hostile inputs: binary garbage and monstrous lines as logs, tile files cut
// at every length, folders and files where the other is expected, a store
// that may not be written. Each gets the behaviour the system promises, and
// nothing crashes (these tests also run under AddressSanitizer).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/safe_file.h"
#include "export/bmp_file.h"
#include "export/export_command.h"
#include "home/home_config.h"
#include "import/log_import.h"
#include "import/nmea_reader.h"
#include "support/scripted_platform.h"
#include "support/temp_dir.h"
#include "tiles/store_lock.h"
#include "tiles/tile_file.h"
#include "tiles/track_recorder.h"
#include "tiles/track_tile.h"
#include "view/render_view.h"

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

// Every file below RGD/ loads whole.
void ExpectWholeStore() {
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator("RGD", ec)) {
    if (!entry.is_regular_file()) continue;
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
    // A damaged header is replaced, and said so.
    EXPECT_EQ(recorder.tileProblems.size(), length < kTileHeaderSize ? 1u : 0u);
    if (length < kTileHeaderSize) {
      EXPECT_TRUE(recorder.tileProblems[0] ==
                  (TileProblem{TileProblem::Kind::kReplacedDamaged, kTokyoTile, 0}));
    }
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

TEST_F(HostileInputTest, TileThatExistsButCannotBeReadIsNeverWrittenAndIsNamed) {
  // The Tokyo tile with marks of an earlier import, and a log through it.
  {
    TrackRecorder recorder;
    ASSERT_TRUE(AddPoint(recorder, 35.6583, 139.7456));
  }
  const Bytes stored = ReadBytes(kTokyoTile);
  WriteText("trip.log", kTokyoGga + "\n"s + "$GPGGA,000001,3539.600,N,13944.736,E,1\n");
  chmod("trip.log", 0644);
  // Imports the log as it stands; 0 when the tile was named with `error`
  // and left as it was.
  const auto importLeavesTile = [&](int error) -> int {
    TrackRecorder recorder;
    ImportReport report;
    if (!ImportNmeaLog(recorder, "trip.log", &report) || recorder.tile) return 1;
    if (!(report.tileProblems ==
          std::vector<TileProblem>{{TileProblem::Kind::kUnreadable, kTokyoTile, error}}))
      return 2;
    if (std::distance(fs::directory_iterator("RGD/E139N035"), {}) != 1) return 3;
    return 0;
  };

  // Write-only for its owner, who therefore cannot read it.
  ASSERT_EQ(chmod(kTokyoTile, 0200), 0);
  ASSERT_EQ(chmod("RGD", 0777), 0);
  ASSERT_EQ(chmod("RGD/E139N035", 0777), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(kTokyoTile, 65534, 65534), 0);  // the user who runs the import
  }
  RunUnprivileged([&] { return importLeavesTile(EACCES); });
  ASSERT_EQ(chmod(kTokyoTile, 0644), 0);
  EXPECT_EQ(ReadBytes(kTokyoTile), stored);

  // No descriptor left (EMFILE in a long run).
  struct rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  std::vector<int> filler;
  struct rlimit lowered = limit;
  lowered.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) filler.push_back(fd);
  TrackTile tile;
  std::strcpy(tile.path, kTokyoTile);
  int error = 0;
  EXPECT_EQ(LoadTile(tile, &error), kUnavailable);
  EXPECT_EQ(error, EMFILE);
  TrackRecorder recorder;
  ASSERT_TRUE(AddPoint(recorder, 35.6584, 139.7456));
  EXPECT_TRUE(ReleaseRecorderTile(recorder));  // nothing recorded, nothing written
  for (int fd : filler) close(fd);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  EXPECT_EQ(ReadBytes(kTokyoTile), stored);

  // A named pipe under the name: neither the import nor the view waits
  // for a writer; the view draws the tile empty.
  ASSERT_EQ(unlink(kTokyoTile), 0);
  ASSERT_EQ(mkfifo(kTokyoTile, 0644), 0);
  EXPECT_EQ(importLeavesTile(EINVAL), 0);
  ViewState view;
  view.originLat = 3565 * 4;
  view.originLon = 13970 * 4;
  view.zoomIndex = 1;
  std::vector<uint8_t> raster(kRasterSize, 1);
  RebuildView(view, raster.data());
  EXPECT_EQ(std::count(raster.begin(), raster.end(), 0), kRasterSize);
  struct stat info;
  ASSERT_EQ(lstat(kTokyoTile, &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));

  // A symbolic link under the name, to a file or to nowhere, is no tile
  // either: neither it nor what it points to is read, created or replaced.
  WriteText("victim.txt", "precious");
  for (const char* target : {"victim.txt", "nowhere.txt"}) {
    SCOPED_TRACE(target);
    ASSERT_EQ(unlink(kTokyoTile), 0);
    fs::create_symlink(fs::absolute(target), kTokyoTile);
    EXPECT_EQ(importLeavesTile(EINVAL), 0);
    EXPECT_TRUE(fs::is_symlink(kTokyoTile));
  }
  EXPECT_EQ(ReadBytes("victim.txt"), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_FALSE(fs::exists("nowhere.txt"));
}

// A store folder that cannot be made names the reason of the mkdir that
// failed, not that of the file create after it; one that cannot be locked
// is saved into, and said to be.
TEST_F(HostileInputTest, StoreFolderThatCannotBeMadeOrLockedIsNamed) {
  WriteText("trip.log", kTokyoGga + "\n"s);
  chmod("trip.log", 0644);
  ASSERT_EQ(chmod(".", 0555), 0);
  RunUnprivileged([] {
    TrackRecorder recorder;
    ImportReport report;
    ImportNmeaLog(recorder, "trip.log", &report);
    return report.tileProblems ==
                   std::vector<TileProblem>{{TileProblem::Kind::kNotSaved, kTokyoTile, EACCES}}
               ? 0
               : 1;
  });
  ASSERT_EQ(chmod(".", 0755), 0);

  // A store folder that can be searched and written but not read cannot
  // be locked: the tile is saved without the lock, and that is counted.
  ASSERT_EQ(mkdir("RGD", 0333), 0);
  ASSERT_EQ(chmod("RGD", 0333), 0);
  RunUnprivileged([] {
    TrackRecorder recorder;
    ImportReport report;
    ImportNmeaLog(recorder, "trip.log", &report);
    return report.tileProblems.empty() && report.unlockedSaves == 1 && report.lockError == EACCES
               ? 0
               : 1;
  });
  ASSERT_EQ(chmod("RGD", 0755), 0);
  EXPECT_TRUE(fs::exists(kTokyoTile));
}

TEST_F(HostileInputTest, ReplacedTileKeepsOwnerAndGroupOrIsNotReplaced) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand files to other users";
  const auto addFix = [](double lat) {
    TrackRecorder recorder;
    return AddPoint(recorder, lat, 139.7456) && ReleaseRecorderTile(recorder);
  };
  ASSERT_TRUE(addFix(35.6583));
  // Another user's tile shared with a group: root's save keeps all three.
  ASSERT_EQ(chown(kTokyoTile, 1234, 5678), 0);
  ASSERT_EQ(chmod(kTokyoTile, 0640), 0);
  ASSERT_TRUE(addFix(35.6590));
  struct stat info;
  ASSERT_EQ(stat(kTokyoTile, &info), 0);
  EXPECT_EQ(info.st_uid, 1234u);
  EXPECT_EQ(info.st_gid, 5678u);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(MarkCount(kTokyoTile), 2);

  // A user who may write the file but not keep its owner or group refuses
  // the save where the owner or the group would lose access.
  ASSERT_EQ(chmod("RGD", 0777), 0);
  ASSERT_EQ(chmod("RGD/E139N035", 0777), 0);
  struct Case {
    uid_t owner;
    gid_t group;
    mode_t mode;
    int error;  // 0: saved
  };
  // The unprivileged user and its group are 65534.
  for (const Case c : {Case{1234, 65534, 0660, EPERM},  // written through the group: the
                                                        // owner would lose the file
                       Case{65534, 5678, 0640, EPERM},  // the group would lose reading
                       Case{1234, 65534, 0666, 0}}) {   // everyone keeps what they had
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(chown(kTokyoTile, c.owner, c.group), 0);
    ASSERT_EQ(chmod(kTokyoTile, c.mode), 0);
    const Bytes before = ReadBytes(kTokyoTile);
    RunUnprivileged([&]() -> int {
      TrackRecorder recorder;
      if (!AddPoint(recorder, 35.6600 + c.mode * 1e-6, 139.7456)) return 1;
      errno = 0;
      if (ReleaseRecorderTile(recorder) != (c.error == 0)) return 2;
      if (c.error != 0 &&
          !(recorder.tileProblems ==
            std::vector<TileProblem>{{TileProblem::Kind::kNotSaved, kTokyoTile, c.error}}))
        return 3;
      return 0;
    });
    EXPECT_EQ(ReadBytes(kTokyoTile) == before, c.error != 0);
    EXPECT_EQ(std::distance(fs::directory_iterator("RGD/E139N035"), {}), 1);
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
  EXPECT_EQ(LoadTile(tile), kUnavailable);
  EXPECT_FALSE(tile.cells);  // reads as an empty tile

  TrackRecorder recorder;
  ASSERT_TRUE(AddPoint(recorder, 35.6583, 139.7456));
  EXPECT_TRUE(ReleaseRecorderTile(recorder));  // nothing recorded, nothing to write
  EXPECT_EQ(recorder.tileProblems,
            std::vector<TileProblem>({{TileProblem::Kind::kUnreadable, kTokyoTile, EISDIR}}));
  EXPECT_TRUE(fs::is_directory(kTokyoTile));
  EXPECT_EQ(ReadBytes(kTokyoTile + "/inside"s), Bytes({'k', 'e', 'p', 't'}));
  EXPECT_EQ(std::distance(fs::directory_iterator("RGD/E139N035"), {}), 1);  // no temporary file
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

// --- home file --------------------------------------------------------------

TEST_F(HostileInputTest, HomeFileThatIsAPipeOrCannotBeReadIsNotWaitedFor) {
  // A pipe is an invalid home file, never waited for.
  ASSERT_EQ(mkfifo(kHomeConfigPath, 0644), 0);
  int error = -1;
  EXPECT_EQ(ReadHomeConfig(kHomeConfigPath, &error), std::nullopt);
  EXPECT_EQ(error, 0);
  // One that may not be read says why.
  ASSERT_EQ(unlink(kHomeConfigPath), 0);
  WriteText(kHomeConfigPath, "LAT: 20\r\nLON: 60\r\nSKP: 2\r\n");
  ASSERT_EQ(chmod(kHomeConfigPath, 0200), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(kHomeConfigPath, 65534, 65534), 0);
  }
  RunUnprivileged([] {
    int why = 0;
    return ReadHomeConfig(kHomeConfigPath, &why) == std::nullopt && why == EACCES ? 0 : 1;
  });
}

// --- images -----------------------------------------------------------------

TEST_F(HostileInputTest, MergeNeverWritesThroughWhatHoldsTheBackupName) {
  const Bytes raster(kRasterSize, 1);
  ASSERT_EQ(WriteNewImage("img.bmp", Bytes(kRasterSize, 0).data()), ImageWriteResult::kWritten);
  const Bytes white = ReadBytes("img.bmp");
  ASSERT_EQ(WriteNewImage("red.bmp", raster.data()), ImageWriteResult::kWritten);
  const Bytes red = ReadBytes("red.bmp");
  const Bytes precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
  WriteBytes("p.txt", precious);
  struct Case {
    const char* what;
    int (*make)();
    bool merged;  // else refused: "Can not Marge"
  };
  const Case cases[] = {
      {"link", [] { return symlink((fs::current_path() / "p.txt").c_str(), "img.bmp.bk"); }, false},
      {"pipe", [] { return mkfifo("img.bmp.bk", 0644); }, false},
      // Removing a second name of a file leaves its content to the first.
      {"hard link", [] { return link("p.txt", "img.bmp.bk"); }, true},
      {"old backup", [] { return rename("red.bmp", "img.bmp.bk"); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes("img.bmp", white);
    ASSERT_EQ(c.make(), 0);
    ScriptedPlatform platform;
    platform.QueueExportPath("img.bmp");
    platform.QueueOverwrite(OverwriteAnswer::kMerge);
    ExportBitmap(ViewState{}, raster.data(), platform);
    EXPECT_EQ(platform.messages.size(), c.merged ? 0u : 1u);
    if (!c.merged) {
      EXPECT_EQ(platform.messages[0].text, kCannotMergeText);
    }
    EXPECT_EQ(ReadBytes("p.txt"), precious);
    EXPECT_FALSE(fs::is_symlink("img.bmp"));
    EXPECT_EQ(ReadBytes("img.bmp"), c.merged ? red : white);
    EXPECT_EQ(fs::exists(fs::symlink_status("img.bmp.bk")), !c.merged);
    fs::remove("img.bmp.bk");
  }
}

// Creates `levels` nested folders of 200-character names below the working
// directory, which together are longer than any path the system takes in
// one call, and gives their path.
std::string MakeDeepFolders(int levels) {
  const std::string name(200, 'd');
  const int start = open(".", O_RDONLY | O_DIRECTORY);
  std::string path = ".";
  for (int i = 0; i < levels; ++i) {
    if (mkdir(name.c_str(), 0755) != 0 || chdir(name.c_str()) != 0) break;
    path += "/" + name;
  }
  EXPECT_EQ(fchdir(start), 0);
  close(start);
  return path;
}

// Removes what MakeDeepFolders made, with the files in its deepest folder.
void RemoveDeepFolders(int levels) {
  const std::string name(200, 'd');
  const int start = open(".", O_RDONLY | O_DIRECTORY);
  int depth = 0;
  while (depth < levels && chdir(name.c_str()) == 0) ++depth;
  for (const auto& entry : fs::directory_iterator(".")) fs::remove(entry.path().filename());
  for (; depth > 0; --depth) {
    if (chdir("..") != 0) break;
    rmdir(name.c_str());
  }
  EXPECT_EQ(fchdir(start), 0);
  close(start);
}

TEST_F(HostileInputTest, ImagesAtNameAndPathLimitsAndBehindLinksToNowhereAreWritten) {
  const Bytes raster(kRasterSize, 1);
  // Names up to the longest a folder takes; "<name>.bk" would be longer
  // than that for some of them.
  for (size_t length : {size_t(252), size_t(253), size_t(255)}) {
    SCOPED_TRACE(length);
    const std::string name = std::string(length - 4, 'x') + ".bmp";
    EXPECT_EQ(WriteNewImage(name, raster.data()), ImageWriteResult::kWritten);
    EXPECT_EQ(MergeIntoImage(name, raster.data()), MergeResult::kMerged);
    EXPECT_EQ(ReadBytes(name).size(), kBmpFileSize);
    EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);
    fs::remove(name);
  }

  // A link to nowhere: its target is created, and the link stays.
  ASSERT_EQ(symlink("made.bmp", "link.bmp"), 0);
  EXPECT_EQ(WriteNewImage("link.bmp", raster.data()), ImageWriteResult::kWritten);
  EXPECT_TRUE(fs::is_symlink("link.bmp"));
  EXPECT_EQ(ReadBytes("made.bmp").size(), kBmpFileSize);

  // The same far below the working directory, deeper than a path may be.
  constexpr int kLevels = 24;
  const std::string deep = MakeDeepFolders(kLevels);
  ASSERT_GT(deep.size(), size_t(PATH_MAX));
  const std::string deepLink = deep + "/link.bmp";
  EXPECT_EQ(WriteNewImage(deep + "/new.bmp", raster.data()), ImageWriteResult::kWritten);
  EXPECT_EQ(MergeIntoImage(deep + "/new.bmp", raster.data()), MergeResult::kMerged);
  {
    const int start = open(".", O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kLevels; ++i) ASSERT_EQ(chdir(std::string(200, 'd').c_str()), 0);
    EXPECT_EQ(symlink("made.bmp", "link.bmp"), 0);
    EXPECT_EQ(fchdir(start), 0);
    close(start);
  }
  EXPECT_EQ(WriteNewImage(deepLink, raster.data()), ImageWriteResult::kWritten);
  for (const char* name : {"/new.bmp", "/made.bmp"}) {
    FILE* file = OpenRegularFile(deep + name);
    ASSERT_NE(file, nullptr) << name;
    EXPECT_EQ(std::fseek(file, 0, SEEK_END), 0);
    EXPECT_EQ(std::ftell(file), long(kBmpFileSize));
    std::fclose(file);
  }
  RemoveDeepFolders(kLevels);
}

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
