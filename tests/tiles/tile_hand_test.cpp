// The recorder with tiles in hand: whatever its limits, the store it leaves
// is byte for byte the store the designed one-tile recorder leaves, while
// each tile is saved far less often.
#include "tiles/tile_hand.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/safe_file.h"
#include "support/temp_dir.h"
#include "tiles/reference_tile_codec.h"
#include "tiles/store_lock.h"
#include "tiles/tile_file.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ReferenceEncode;
using testing::WriteBytes;

using Store = std::map<std::string, std::vector<uint8_t>>;

// Every tile file below `folder`/RGD with its bytes.
Store TilesIn(const fs::path& folder) {
  Store tiles;
  if (!fs::exists(folder / "RGD")) return tiles;
  for (const auto& entry : fs::recursive_directory_iterator(folder / "RGD"))
    if (entry.is_regular_file())
      tiles[fs::relative(entry.path(), folder)] = ReadBytes(entry.path());
  return tiles;
}

// A wandering track over a 4 x 4 block of tiles around 35.6 N, 139.7 E
// that keeps coming back to the tiles it left.
std::vector<std::pair<double, double>> WanderingTrack(unsigned seed, int fixes) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> step(-0.004, 0.004);
  std::vector<std::pair<double, double>> track;
  double lat = 35.61, lon = 139.71;
  for (int i = 0; i < fixes; ++i) {
    lat = std::clamp(lat + step(random), 35.6, 35.8 - 1e-6);
    lon = std::clamp(lon + step(random), 139.7, 139.9 - 1e-6);
    track.push_back({lat, lon});
  }
  return track;
}

class TileHandTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }

  // Records `track` into the store of `folder` (made the working directory
  // meanwhile) with `limits`; with `between`, called halfway.
  static void Record(const fs::path& folder, const TileHand::Limits& limits,
                     const std::vector<std::pair<double, double>>& track,
                     const std::function<void(TrackRecorder&)>& between = {}) {
    const fs::path previous = fs::current_path();
    fs::create_directories(folder);
    fs::current_path(folder);
    {
      TrackRecorder recorder;
      recorder.hand.SetLimits(limits);
      for (size_t i = 0; i < track.size(); ++i) {
        AddPoint(recorder, track[i].first, track[i].second);
        if (between && i == track.size() / 2) between(recorder);
      }
      EXPECT_TRUE(ReleaseRecorderTile(recorder));
      EXPECT_TRUE(recorder.hand.empty());
      EXPECT_EQ(recorder.tile, nullptr);
    }
    fs::current_path(previous);
  }
};

// Whole tiles only, released in batches; few whole tiles and the rest
// packed; packed only, none of them with its file held open; and the
// import's own limits.
TEST_F(TileHandTest, EveryLimitLeavesTheStoreOfTheOneTileRecorder) {
  const struct {
    const char* name;
    TileHand::Limits limits;
  } cases[] = {
      {"whole", {3, 0, 0}},
      {"packed", {1, 40000, 4}},
      {"packed-unheld", {0, 1 << 20, 0}},
      {"import", kImportHand},
  };
  const auto track = WanderingTrack(7, 6000);
  // Older marks in some tiles, so that loads and the change checks matter.
  const auto seed = [](const fs::path& folder) {
    for (int t = 0; t < 4; ++t) {
      std::vector<uint8_t> cells(kCellCount, 0);
      for (int i = 0; i < 50; ++i) cells[size_t(t * 9000 + i * 131)] = 1;
      TrackTile tile;
      FormatTilePath(3560 + 5 * t, 13970 + 5 * t, tile.path);
      WriteBytes((folder / tile.path).string(), ReferenceEncode(0x10, 0x01, cells.data()));
    }
  };
  seed("designed");
  Record("designed", {}, track);
  const Store expected = TilesIn("designed");
  ASSERT_GE(expected.size(), 12u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    seed(c.name);
    Record(c.name, c.limits, track);
    EXPECT_TRUE(TilesIn(c.name) == expected);
  }
}

// Another program saves tiles while they are in hand (whole, packed with
// the file held open, packed without): the saves at the end keep its marks.
TEST_F(TileHandTest, TilesInHandKeepWhatAnotherProgramSavedMeanwhile) {
  const auto track = WanderingTrack(11, 4000);
  // The other program marks the last cell of every tile file there is.
  std::vector<std::string> touched;
  const auto otherProgram = [&](TrackRecorder&) {
    for (const auto& entry : fs::recursive_directory_iterator("RGD")) {
      if (!entry.is_regular_file()) continue;
      TrackTile tile;
      const std::string path = fs::relative(entry.path()).string();
      std::snprintf(tile.path, sizeof tile.path, "%s", path.c_str());
      ASSERT_EQ(LoadTile(tile), kLoaded);
      tile.cells[kCellCount - 1] = 1;
      WriteBytes(path, ReferenceEncode(tile.northMask | 0x80, tile.southMask, tile.cells.get()));
      touched.push_back(path);
    }
  };
  const std::vector<std::pair<double, double>> first(track.begin(), track.begin() + 1500);
  for (const TileHand::Limits limits : {TileHand::Limits{1, 20000, 2}, {0, 1 << 20, 0}}) {
    fs::remove_all("store");
    touched.clear();
    Record("store", {}, first);  // the files exist when the recorder reads them
    Record("store", limits, track, otherProgram);
    ASSERT_GE(touched.size(), 4u);
    const Store store = TilesIn("store");
    for (const std::string& path : touched) {
      SCOPED_TRACE(path);
      const std::vector<uint8_t>& bytes = store.at(path);
      ASSERT_GE(bytes.size(), 3u);
      EXPECT_TRUE(bytes[1] & 0x80);
      std::vector<uint8_t> cells(kCellCount);
      ASSERT_EQ(DecodeCells(bytes.data() + 3, bytes.size() - 3, cells.data()), kLoaded);
      EXPECT_EQ(cells[kCellCount - 1], 1) << "the other program's mark was lost";
    }
  }
}

// Live saves: the tiles in hand reach the store at once and stay in hand;
// a later save (or the release) adds what came after, and keeps what
// another program saved in between.
TEST_F(TileHandTest, SavedTilesStayInHandAndLaterSavesMergeWhatTheyFind) {
  TrackRecorder recorder;
  recorder.hand.SetLimits({1, 1 << 20, 0});
  const char* paths[] = {"RGD/E139N035/E13970-N03560.map", "RGD/E139N035/E13975-N03560.map",
                         "RGD/E139N035/E13980-N03560.map"};
  for (double lon : {139.701, 139.751, 139.801}) ASSERT_TRUE(AddPoint(recorder, 35.601, lon));
  EXPECT_TRUE(HasUnsavedMarks(recorder));
  EXPECT_FALSE(fs::exists(paths[0]));  // packed, not saved
  ASSERT_TRUE(SaveRecorderTiles(recorder));
  EXPECT_FALSE(HasUnsavedMarks(recorder));
  EXPECT_EQ(recorder.hand.size(), 2u);
  for (const char* path : paths) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(SaveRecorderTiles(recorder));  // nothing changed: nothing written

  // Another program marks the last cell of every tile.
  for (const char* path : paths) {
    TrackTile tile;
    std::snprintf(tile.path, sizeof tile.path, "%s", path);
    ASSERT_EQ(LoadTile(tile), kLoaded);
    tile.cells[kCellCount - 1] = 1;
    WriteBytes(path, ReferenceEncode(tile.northMask, tile.southMask, tile.cells.get()));
  }
  for (double lon : {139.702, 139.752, 139.802}) ASSERT_TRUE(AddPoint(recorder, 35.602, lon));
  ASSERT_TRUE(SaveRecorderTiles(recorder));
  ASSERT_TRUE(ReleaseRecorderTile(recorder));
  for (const char* path : paths) {
    TrackTile tile;
    std::snprintf(tile.path, sizeof tile.path, "%s", path);
    ASSERT_EQ(LoadTile(tile), kLoaded) << path;
    int marks = 0;
    for (int i = 0; i < kCellCount; ++i) marks += tile.cells[i];
    EXPECT_EQ(marks, 3) << path;
    EXPECT_EQ(tile.cells[kCellCount - 1], 1) << path;
  }
}

// Problems of tiles in hand are named as the one-tile recorder names them,
// once per tile: a file that cannot be read is never written, a damaged
// header is replaced, a failed save loses that tile only.
TEST_F(TileHandTest, ProblemsOfTilesInHandAreNamedOnce) {
  const std::string unreadable = "RGD/E139N035/E13975-N03560.map";
  const std::string damaged = "RGD/E139N035/E13980-N03560.map";
  fs::create_directories(unreadable);  // a folder where the tile should be
  WriteBytes(damaged, {0x07, 0x00});
  TrackRecorder recorder;
  recorder.hand.SetLimits({0, 1 << 20, 0});
  for (int lap = 0; lap < 3; ++lap)
    for (double lon : {139.701, 139.751, 139.801}) AddPoint(recorder, 35.601 + 0.001 * lap, lon);
  ASSERT_TRUE(ReleaseRecorderTile(recorder));
  const std::vector<TileProblem> expected = {
      {TileProblem::Kind::kUnreadable, unreadable, EISDIR},
      {TileProblem::Kind::kReplacedDamaged, damaged, 0},
  };
  EXPECT_EQ(recorder.tileProblems, expected);
  EXPECT_TRUE(fs::is_directory(unreadable));
  TrackTile tile;
  std::snprintf(tile.path, sizeof tile.path, "%s", damaged.c_str());
  EXPECT_EQ(LoadTile(tile), kLoaded);

  recorder.tileProblems.clear();
  for (double lon : {139.702, 139.802}) AddPoint(recorder, 35.61, lon);
  SetWriteFault({.failAfterBytes = 0});
  EXPECT_FALSE(ReleaseRecorderTile(recorder));
  EXPECT_EQ(recorder.unsavedTiles, 2);
  ASSERT_EQ(recorder.tileProblems.size(), 2u);
  EXPECT_EQ(recorder.tileProblems[0].kind, TileProblem::Kind::kNotSaved);
  EXPECT_TRUE(recorder.hand.empty());
}

// Saves that share a hold of the store lock: the lock is held throughout
// (another program cannot take it), and a save inside does not wait for
// its own process.
TEST_F(TileHandTest, ALockInsideAnotherSharesItsHold) {
  fs::create_directory("RGD");
  const int other = open("RGD", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  {
    const StoreLock outer;
    ASSERT_TRUE(outer.locked());
    {
      const StoreLock inner;
      EXPECT_TRUE(inner.locked());
      EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    }
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);  // the inner one did not release it
  }
  EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  close(other);
}

}  // namespace
}  // namespace roamgrid
