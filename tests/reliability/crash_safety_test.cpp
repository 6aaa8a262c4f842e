// Crash safety: a child process does real work on the store, the home file
// or an image and is killed with SIGKILL at many different moments. After
// every kill each file must be whole and hold everything that was written
// before its last completed replacement: a tile file loads with result 0
// and its marks are exactly those of some save of that tile, all tiles
// together matching one moment of the import; the home file and the image
// are the old or a new version, never a mix.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "export/bmp_file.h"
#include "home/home_config.h"
#include "reliability/crash_scenarios.h"
#include "support/temp_dir.h"
#include "tiles/reference_tile_codec.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::ReadBytes;
using testing::WriteBytes;
using testing::WriteText;

constexpr char kDriver[] = ROAMGRID_CRASH_DRIVER_PATH;

// ---------------------------------------------------------------------------
// The child process.

class Child {
 public:
  // Starts the driver with `args` in the working directory; returns once it
  // has signalled that its work begins.
  explicit Child(const std::vector<std::string>& args) {
    std::vector<std::string> all = {kDriver};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      execv(kDriver, argv.data());
      _exit(127);
    }
    close(fds[1]);
    fd_ = fds[0];
    started_ = pid_ > 0 && ReadSignal() == 'R';
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (fd_ >= 0) close(fd_);
  }

  bool started() const { return started_; }
  // Next signal byte of the driver, or 0 when it ended without one.
  char ReadSignal() {
    char c = 0;
    while (read(fd_, &c, 1) < 0 && errno == EINTR) {
    }
    return c;
  }
  void Kill() { kill(pid_, SIGKILL); }
  // Waits for the end; the wait status.
  int Wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  bool started_ = false;
  bool reaped_ = false;
};

void SleepMicroseconds(long long us) {
  timespec ts{time_t(us / 1000000), long(us % 1000000) * 1000};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
  }
}

struct KillSeries {
  int kills = 0;     // children killed in the middle of their work
  int finished = 0;  // children that were done before the kill
  long long workMicroseconds = 0;
};

// Runs the driver to its end (to learn how long the work takes), then
// again and again, each time from `reset()`, killing it after a delay that
// moves through the whole work, until `wantedKills` children died by the
// kill. `check()` runs after every run; it returns false after a failure,
// which ends the series.
template <class Reset, class Check>
KillSeries RunKillSeries(const std::vector<std::string>& args, int wantedKills, Reset reset,
                         Check check) {
  KillSeries series;
  // Two runs to the end: the second, with warm caches, gives the duration.
  for (int run = 0; run < 2; ++run) {
    reset();
    Child child(args);
    EXPECT_TRUE(child.started());
    if (!child.started()) return series;
    const auto start = Clock::now();
    EXPECT_EQ(child.ReadSignal(), 'D');
    const int status = child.Wait();
    series.workMicroseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    if (!check()) return series;
  }
  // A child that finished before its kill shows the work went faster than
  // measured (the machine was busy then): the delays shrink a little.
  double span = double(series.workMicroseconds) * 1.05;
  for (int attempt = 0; series.kills < wantedKills && attempt < 6 * wantedKills; ++attempt) {
    reset();
    Child child(args);
    EXPECT_TRUE(child.started());
    if (!child.started()) break;
    const double fraction = std::fmod(0.5 + attempt * 0.6180339887498949, 1.0);
    SleepMicroseconds((long long)(fraction * span));
    child.Kill();
    const int status = child.Wait();
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
      ++series.kills;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
      ++series.finished;
      span *= 0.9;
    }
    if (!check()) break;
  }
  return series;
}

// Files in `dir` (recursively) whose name contains no ".map", ".cfg" or
// ".bmp" ending: what killed writers left behind.
int LeftoverCount(const fs::path& dir) {
  int count = 0;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
    if (!entry.is_regular_file()) continue;
    const std::string ext = entry.path().extension().string();
    if (ext != ".map" && ext != ".cfg" && ext != ".bmp" && ext != ".log") ++count;
  }
  return count;
}

// ---------------------------------------------------------------------------
// Import: a planned track over ten tiles.

// The track visits its tiles in a planned order; every visit marks cells
// not marked before, so the file of a tile changes at every save, and a
// save happens at the end of every visit (the track moves to another tile,
// or the log ends).
struct TilePlan {
  int32_t latKey;
  int32_t lonKey;
  bool seeded;  // holds older marks before the import
};

const std::array<TilePlan, 10> kTiles = {{
    {3560, 13970, true},
    {3560, 13975, false},
    {3565, 13970, false},
    {3565, 13975, true},
    {3570, 13980, false},
    {-5, -5, true},
    {-5, 0, false},
    {0, -5, false},
    {-3390, 15120, true},
    {4805, 1150, false},
}};
constexpr int kVisits = 40;
constexpr int kFixesPerVisit = 20;

int TileOfVisit(int visit) { return visit < 20 ? visit % 10 : (visit * 3) % 10; }

using CellSet = std::vector<int>;  // sorted cell indices

// Cells of the v-th visit (v = 0, 1, ...) of tile t: rows differ by visit.
CellSet CellsOfVisit(int t, int v) {
  CellSet cells;
  for (int i = 0; i < kFixesPerVisit; ++i) {
    const int row = 40 + v * 130 + i * 5;
    const int column = (t * 61 + i * 29 + v * 7) % kCellsPerSide;
    cells.push_back(row * kCellsPerSide + column);
  }
  std::sort(cells.begin(), cells.end());
  return cells;
}

CellSet SeedCells(int t) {
  CellSet cells;
  for (int j = 0; j < 40; ++j) cells.push_back((850 + j) * kCellsPerSide + (t * 13 + j * 20) % 896);
  std::sort(cells.begin(), cells.end());
  return cells;
}

CellSet Union(const CellSet& a, const CellSet& b) {
  CellSet out;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

// The visited cells of a tile. Rows without a mark, most of them, are
// passed over a whole row at a time.
CellSet MarkedCells(const uint8_t* cells) {
  static const std::vector<uint8_t> emptyRow(kCellsPerSide, 0);
  CellSet marked;
  for (int row = 0; row < kCellsPerSide; ++row) {
    const uint8_t* p = cells + row * kCellsPerSide;
    if (std::memcmp(p, emptyRow.data(), kCellsPerSide) == 0) continue;
    for (int column = 0; column < kCellsPerSide; ++column)
      if (p[column]) marked.push_back(row * kCellsPerSide + column);
  }
  return marked;
}

// "ddmm.mmmmmm,N" of a latitude (degreeDigits 2) or longitude (3).
std::string NmeaCoordinate(double degrees, int degreeDigits, char positive, char negative) {
  const double magnitude = std::fabs(degrees);
  const double whole = std::floor(magnitude);
  const double value = whole * 100.0 + (magnitude - whole) * 60.0;
  return FormatFixed(value, degreeDigits + 9, 6, true) + "," + (degrees < 0 ? negative : positive);
}

// Degrees of the centre of a cell along one side of the tile with `key`.
double CellCentre(int32_t key, int index) {
  return (key + (index + 0.5) * kCentiPerTile / double(kCellsPerSide)) / 100.0;
}

class ImportPlan {
 public:
  ImportPlan() {
    // versions_[t][0] is the tile before the import; versions_[t][v] after
    // its v-th visit was saved, which is save number visitOfVersion_+1.
    for (int t = 0; t < int(kTiles.size()); ++t)
      versions_[t].push_back(kTiles[t].seeded ? SeedCells(t) : CellSet{});
    std::array<int, kTiles.size()> visitsSoFar{};
    for (int visit = 0; visit < kVisits; ++visit) {
      const int t = TileOfVisit(visit);
      const CellSet cells = CellsOfVisit(t, visitsSoFar[t]++);
      versions_[t].push_back(Union(versions_[t].back(), cells));
      saveOfVersion_[t].push_back(visit + 1);
      for (int cell : cells) {
        const int row = cell / kCellsPerSide;
        const int column = cell % kCellsPerSide;
        log_ += "$GPGGA,120000.00," +
                NmeaCoordinate(CellCentre(kTiles[t].latKey, row), 2, 'N', 'S') + "," +
                NmeaCoordinate(CellCentre(kTiles[t].lonKey, column), 3, 'E', 'W') +
                ",1,08,0.9,10.0,M,40.0,M,,*5B\r\n";
        log_ += "$GPRMC,120000.00,A,,,,,0.0,0.0,010120,,,A*00\r\n";
      }
    }
  }

  const std::string& log() const { return log_; }
  static std::string PathOf(int t) {
    TrackTile tile;
    FormatTilePath(kTiles[t].latKey, kTiles[t].lonKey, tile.path);
    return tile.path;
  }

  // Puts the store as it was before the import: the seeded tiles only.
  void ResetStore() const {
    std::error_code ignored;
    fs::remove_all("RGD", ignored);
    for (int t = 0; t < int(kTiles.size()); ++t) {
      if (!kTiles[t].seeded) continue;
      std::vector<uint8_t> cells(kCellCount, 0);
      for (int cell : SeedCells(t)) cells[cell] = 1;
      WriteBytes(PathOf(t), testing::ReferenceEncode(0x11, 0x00, cells.data()));
    }
  }

  // Checks the store against the plan. Returns the number of completed
  // saves the store shows (the moment of the kill), or -1 after a failure.
  // Without `oneMoment` (a recorder with tiles in hand saves them in
  // another order) each tile need only hold the marks of one of its
  // visits and all before them; the result is then the number of tiles
  // at their last version.
  int CheckStore(bool oneMoment = true) const {
    int lastVersions = 0;
    int lowest = 0;
    int highest = kVisits;  // the moment lies in [lowest, highest]
    for (int t = 0; t < int(kTiles.size()); ++t) {
      const std::string path = PathOf(t);
      int version = 0;
      if (fs::exists(path)) {
        TrackTile tile;
        FormatTilePath(kTiles[t].latKey, kTiles[t].lonKey, tile.path);
        const LoadResult result = LoadTile(tile);
        EXPECT_EQ(result, kLoaded) << path;
        if (result != kLoaded) return -1;
        const CellSet marked = MarkedCells(tile.cells.get());
        const auto found = std::find(versions_[t].begin(), versions_[t].end(), marked);
        EXPECT_NE(found, versions_[t].end())
            << path << " holds " << marked.size() << " marks, which no save of it wrote";
        if (found == versions_[t].end()) return -1;
        version = int(found - versions_[t].begin());
        if (kTiles[t].seeded) {
          EXPECT_EQ(tile.northMask & 0x11, 0x11) << path << ": the older mask bits were lost";
        }
      } else {
        EXPECT_FALSE(kTiles[t].seeded) << path << " was lost";
        if (kTiles[t].seeded) return -1;
      }
      lastVersions += version == int(versions_[t].size()) - 1;
      // Version v was written by save s_v and replaced by save s_(v+1).
      if (version > 0) lowest = std::max(lowest, saveOfVersion_[t][version - 1]);
      if (version < int(saveOfVersion_[t].size()))
        highest = std::min(highest, saveOfVersion_[t][version] - 1);
    }
    if (!oneMoment) return lastVersions;
    EXPECT_LE(lowest, highest) << "the tiles show no single moment of the import";
    return lowest <= highest ? lowest : -1;
  }
  static int TileCount() { return int(kTiles.size()); }

 private:
  std::string log_;
  std::array<std::vector<CellSet>, kTiles.size()> versions_;
  std::array<std::vector<int>, kTiles.size()> saveOfVersion_;
};

class CrashSafetyTest : public testing::TempDirTest {};

TEST_F(CrashSafetyTest, KilledImportLeavesEveryTileWholeWithAllSavedMarks) {
  const ImportPlan plan;
  WriteText("track.log", plan.log());
  std::set<int> moments;
  int leftovers = 0;
  const KillSeries series = RunKillSeries(
      {"import", "track.log"}, 100,
      [&] {
        leftovers += LeftoverCount("RGD");
        plan.ResetStore();
      },
      [&] {
        const int moment = plan.CheckStore();
        if (moment >= 0) moments.insert(moment);
        return moment >= 0;
      });
  EXPECT_GE(series.kills, 100);
  EXPECT_TRUE(moments.count(kVisits)) << "the run to the end saved every visit";
  RecordProperty("kills", series.kills);
  RecordProperty("distinct_moments", int(moments.size()));
  std::printf(
      "import of %d saves in %lld us: %d kills, %d runs done before the kill, %d distinct "
      "moments seen, %d temporary files left by killed writers\n",
      kVisits, series.workMicroseconds, series.kills, series.finished, int(moments.size()),
      leftovers);
}

// With tiles in hand the saves come in another order, each tile once per
// stay in the hand: every tile is still whole, and holds its older marks
// and those of its visits up to one of them.
TEST_F(CrashSafetyTest, KilledImportWithTilesInHandLeavesEveryTileWholeWithItsMarks) {
  const ImportPlan plan;
  WriteText("track.log", plan.log());
  std::set<int> moments;
  const KillSeries series = RunKillSeries(
      {"import-hand", "track.log"}, 60, [&] { plan.ResetStore(); },
      [&] {
        const int moment = plan.CheckStore(false);
        if (moment >= 0) moments.insert(moment);
        return moment >= 0;
      });
  EXPECT_GE(series.kills, 60);
  EXPECT_TRUE(moments.count(ImportPlan::TileCount())) << "the run to the end saved every tile";
  std::printf("import with tiles in hand: %d kills, %d distinct counts of finished tiles\n",
              series.kills, int(moments.size()));
}

// ---------------------------------------------------------------------------
// Home file: rewritten again and again.

std::string HomeText(const HomePosition& home) {
  return "LAT: " + std::to_string(home.lat) + "\r\nLON: " + std::to_string(home.lon) +
         "\r\nSKP: " + std::to_string(home.zoom) + "\r\n";
}

TEST_F(CrashSafetyTest, KilledHomeRewriteLeavesTheOldOrANewFileWhole) {
  constexpr int kRewrites = 200;
  std::set<int> moments;
  const KillSeries series = RunKillSeries(
      {"home", std::to_string(kRewrites)}, 50,
      [] {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(".", ignored))
          if (entry.path().filename().string().starts_with("Roamgrid.cfg"))
            fs::remove(entry.path(), ignored);
        WriteText(kHomeConfigPath, HomeText(testing::HomeOfRewrite(0)));
      },
      [&] {
        const std::vector<uint8_t> bytes = ReadBytes(kHomeConfigPath);
        const std::string text(bytes.begin(), bytes.end());
        const std::optional<HomePosition> home = ReadHomeConfig();
        EXPECT_TRUE(home.has_value()) << "unreadable home file: " << text;
        if (!home) return false;
        const int i = home->lat / 20;
        EXPECT_TRUE(i >= 0 && i <= kRewrites && *home == testing::HomeOfRewrite(i));
        EXPECT_EQ(text, HomeText(testing::HomeOfRewrite(i)));
        moments.insert(i);
        return text == HomeText(testing::HomeOfRewrite(i));
      });
  EXPECT_GE(series.kills, 50);
  RecordProperty("kills", series.kills);
  std::printf("%d home rewrites in %lld us: %d kills, %d distinct versions seen\n", kRewrites,
              series.workMicroseconds, series.kills, int(moments.size()));
}

// ---------------------------------------------------------------------------
// Export merge: one raster row after the other merged into an image.

constexpr char kImage[] = "view.bmp";
constexpr int kMerges = 5;

// The image after k merges: the first image had the diagonal marked; merge
// i turned raster row i red.
std::vector<uint8_t> ImageAfterMerges(int k) {
  const auto header = BmpHeader();
  std::vector<uint8_t> image(header.begin(), header.end());
  for (int row = 0; row < kRasterSide; ++row) {
    for (int column = 0; column < kRasterSide; ++column) {
      const bool red = row < k || row == column;
      image.insert(image.end(), {uint8_t(red ? 0x00 : 0xFF), uint8_t(red ? 0x00 : 0xFF), 0xFF});
    }
  }
  return image;
}

TEST_F(CrashSafetyTest, KilledMergeLeavesTheOldOrTheNewImageWhole) {
  std::vector<std::vector<uint8_t>> versions;
  for (int k = 0; k <= kMerges; ++k) versions.push_back(ImageAfterMerges(k));
  std::set<int> moments;
  const KillSeries series = RunKillSeries(
      {"merge", kImage, std::to_string(kMerges)}, 50,
      [&] {
        std::error_code ignored;
        fs::remove(std::string(kImage) + ".bk", ignored);
        WriteBytes(kImage, versions[0]);
      },
      [&] {
        const std::vector<uint8_t> image = ReadBytes(kImage);
        const auto found = std::find(versions.begin(), versions.end(), image);
        EXPECT_NE(found, versions.end())
            << "an image of " << image.size() << " bytes that no merge wrote";
        if (found == versions.end()) return false;
        moments.insert(int(found - versions.begin()));
        return true;
      });
  EXPECT_GE(series.kills, 50);
  RecordProperty("kills", series.kills);
  std::printf("%d merges in %lld us: %d kills, %d distinct images seen\n", kMerges,
              series.workMicroseconds, series.kills, int(moments.size()));
}

}  // namespace
}  // namespace roamgrid
