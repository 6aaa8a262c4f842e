#include "map/overview.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "store/store_merge.h"
#include "store/store_stats.h"
#include "map/map_store.h"
#include "map/marks_map.h"
#include "map/overview_cache.h"
#include "support/temp_dir.h"
#include "store/tile_merge.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

using testing::CellAt;
using testing::GlobalCell;
using testing::MemoryOnly;
using testing::TempDirTest;

namespace fs = std::filesystem;

// ---- the pyramid itself ----

TEST(OverviewPyramid, CoarserZoomsAreTheOrOfTheirFourPixels) {
  OverviewPyramid pyramid;
  std::mt19937 random(3);
  // Marks around one spot, so that blocks fill, then some cleared.
  std::uniform_int_distribution<int64_t> near(500000, 500700);
  for (int i = 0; i < 4000; ++i) pyramid.Mark(near(random), near(random));
  pyramid.Mark(0, 0);
  pyramid.Mark(OverviewPyramid::WorldPixels(kOverviewZoom) - 1, 5);
  pyramid.Mark(-1, 5);  // outside the world: nothing
  pyramid.Clear({500100, 500100, 500300, 500250});
  pyramid.UpdateCoarser();
  EXPECT_TRUE(pyramid.Get(0, 0, 0));
  EXPECT_TRUE(pyramid.Get(0, 255, 0));
  for (int zoom = kOverviewZoom - 1; zoom >= kOverviewZoom - 4; --zoom) {
    const int64_t scale = int64_t{1} << (kOverviewZoom - zoom);
    for (int64_t y = 500000 / scale - 2; y <= 500700 / scale + 2; ++y) {
      for (int64_t x = 500000 / scale - 2; x <= 500700 / scale + 2; ++x) {
        bool any = false;
        for (int64_t dy = 0; dy < scale && !any; ++dy)
          for (int64_t dx = 0; dx < scale && !any; ++dx)
            any = pyramid.Get(kOverviewZoom, x * scale + dx, y * scale + dy);
        ASSERT_EQ(pyramid.Get(zoom, x, y), any) << zoom << " " << x << " " << y;
      }
    }
  }
  EXPECT_FALSE(pyramid.Get(kOverviewZoom, 500200, 500200));
  // Clearing everything leaves no block at any zoom.
  pyramid.Clear({0, 0, INT64_MAX / 2, INT64_MAX / 2});
  pyramid.UpdateCoarser();
  for (int zoom = 0; zoom <= kOverviewZoom; ++zoom) EXPECT_EQ(pyramid.BlockCount(zoom), 0u);
}

TEST(OverviewPyramid, BlocksRoundTripAndRefuseWhatTheyDidNotWrite) {
  OverviewPyramid pyramid;
  for (int64_t i = 0; i < 300; ++i) pyramid.Mark(i * 977 % 1048576, i * 331 % 1048576);
  pyramid.UpdateCoarser();
  std::vector<uint8_t> bytes;
  pyramid.EncodeBlocks(bytes);
  OverviewPyramid read;
  size_t at = 0;
  ASSERT_TRUE(read.DecodeBlocks(bytes.data(), bytes.size(), at));
  EXPECT_EQ(at, bytes.size());
  EXPECT_TRUE(read == pyramid);

  const auto refused = [&](std::vector<uint8_t> changed) {
    OverviewPyramid other;
    size_t from = 0;
    return !other.DecodeBlocks(changed.data(), changed.size(), from) && other.Empty();
  };
  const size_t block = 8 + 8 * 64;
  std::vector<uint8_t> truncated(bytes.begin(), bytes.end() - 1);
  EXPECT_TRUE(refused(truncated));
  std::vector<uint8_t> outside = bytes;
  outside[8 + 3] = 0x7F;  // bx far outside the world
  EXPECT_TRUE(refused(outside));
  std::vector<uint8_t> swapped = bytes;  // keys out of order
  std::swap_ranges(swapped.begin() + 8, swapped.begin() + 8 + long(block),
                   swapped.begin() + 8 + long(block));
  EXPECT_TRUE(refused(swapped));
  std::vector<uint8_t> empty = bytes;  // a block without a mark
  std::fill(empty.begin() + 16, empty.begin() + 8 + long(block), 0);
  EXPECT_TRUE(refused(empty));
  std::vector<uint8_t> huge = bytes;  // a count the bytes cannot hold
  huge[7] = 0x10;
  EXPECT_TRUE(refused(huge));
}

// ---- the overview of a store ----

MarksMapOptions CacheIn(const std::string& folder, std::vector<std::string>* warnings = nullptr) {
  MarksMapOptions options;
  options.cacheFolder = folder;
  options.warn = [warnings](const std::string& line) {
    if (warnings) warnings->push_back(line);
  };
  return options;
}

// Sets every tile file's modification time to one moment long past, as
// files not touched for a while.
void AgeStore() {
  if (!fs::exists("RGD")) return;
  timespec times[2];
  times[0].tv_sec = 1600000000;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  for (const auto& entry : fs::recursive_directory_iterator("RGD"))
    if (entry.is_regular_file()) utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
}

// The overview a fresh map builds of the store as it is now.
OverviewPyramid FreshOverview() {
  MarksMap fresh(MemoryOnly());
  fresh.Refresh();
  return fresh.overview();
}

void Import(const std::vector<GlobalCell>& cells) {
  TrackRecorder recorder;
  for (const GlobalCell& cell : cells)
    AddPoint(recorder, (cell.row + 0.5) / 17920.0, (cell.column + 0.5) / 17920.0);
  ReleaseRecorderTile(recorder);
}

class OverviewStoreTest : public TempDirTest {};

TEST_F(OverviewStoreTest, StaysEqualToAFreshBuildThroughImportsMergesFoldsAndRemovals) {
  MarksMap map(CacheIn("cache"));
  EXPECT_FALSE(map.Refresh());  // no store yet
  Import(testing::Track(35.68, 139.76, 3000, 1));
  Import(testing::Track(-33.9, 18.4, 1000, 2));
  ASSERT_TRUE(map.Refresh());
  EXPECT_FALSE(map.overview().Empty());
  EXPECT_TRUE(map.overview() == FreshOverview()) << "after the first imports";

  // More rides over the same tiles and new ones.
  Import(testing::Track(35.69, 139.77, 2000, 3));
  Import(testing::Track(51.5, -0.12, 1000, 4));
  EXPECT_TRUE(map.Refresh());
  EXPECT_TRUE(map.overview() == FreshOverview()) << "after more imports";

  // A merge of another store.
  fs::create_directories("other");
  fs::current_path("other");
  testing::WriteCells(testing::Track(35.7, 139.8, 1500, 5));
  testing::WriteCells(testing::Track(-17.0, 179.99, 800, 6));
  fs::current_path("..");
  const StoreMergeReport merged = MergeStore("other");
  ASSERT_GT(merged.tilesChanged, 0);
  EXPECT_TRUE(map.Refresh());
  EXPECT_TRUE(map.overview() == FreshOverview()) << "after a merge";

  // A conflict copy folded into its tile.
  const std::string tile = testing::TilePath(3565, 13975);
  fs::create_directories("copy");
  fs::current_path("copy");
  testing::WriteCells(testing::Track(35.66, 139.76, 400, 7));
  fs::current_path("..");
  fs::copy_file("copy/" + tile, tile + "~");
  ASSERT_EQ(MergeTileFile(tile + "~", 3565, 13975).outcome, TileMerge::Outcome::kMerged);
  fs::remove(tile + "~");
  EXPECT_TRUE(map.Refresh());
  EXPECT_TRUE(map.overview() == FreshOverview()) << "after a fold";

  // A tile removed takes its marks with it, also where its neighbours draw.
  fs::remove(tile);
  EXPECT_TRUE(map.Refresh());
  EXPECT_TRUE(map.overview() == FreshOverview()) << "after a removal";
  fs::remove_all("RGD");
  EXPECT_TRUE(map.Refresh());
  EXPECT_TRUE(map.overview().Empty());
}

TEST_F(OverviewStoreTest, RefreshReadsOnlyTheTilesThatChanged) {
  Import(testing::Track(35.68, 139.76, 4000, 1));
  AgeStore();
  MarksMap map(MemoryOnly());
  ASSERT_TRUE(map.Refresh());
  const long long tiles = map.tilesReadLastRefresh();
  ASSERT_GT(tiles, 1);
  EXPECT_FALSE(map.Refresh());
  EXPECT_EQ(map.tilesReadLastRefresh(), 0);
  const uint64_t generation = map.generation();

  Import({CellAt(10.0, 10.0)});  // a new tile
  AgeStore();
  EXPECT_TRUE(map.Refresh());
  EXPECT_EQ(map.tilesReadLastRefresh(), 1);
  EXPECT_EQ(map.generation(), generation + 1);

  // A file changed within the last seconds is looked at again, so that new
  // bytes under the same name, size and time (a change within one tick of
  // the file system's clock) are not missed.
  const std::string path = testing::TilePath(3565, 13975);
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0);  // touched just now
  EXPECT_FALSE(map.Refresh());                                  // read, the same bytes
  EXPECT_EQ(map.tilesReadLastRefresh(), 1);
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  std::vector<uint8_t> bytes = testing::ReadBytes(path);
  std::vector<uint8_t> changed = bytes;
  for (size_t i = 3; i < changed.size(); ++i)
    if (changed[i] < 0x7F && changed[i] != 0) {
      changed[i] = 0x7F;  // same size, more cells
      break;
    }
  ASSERT_NE(changed, bytes);
  {
    FILE* file = std::fopen(path.c_str(), "r+b");  // written in place, as some tools do
    ASSERT_TRUE(file);
    std::fwrite(changed.data(), 1, changed.size(), file);
    std::fclose(file);
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
  EXPECT_TRUE(map.Refresh());
  EXPECT_TRUE(map.overview() == FreshOverview());

  // The same bytes written again: read, but nothing changed.
  AgeStore();
  map.Refresh();
  testing::WriteBytes(path, changed);
  EXPECT_FALSE(map.Refresh());
  EXPECT_EQ(map.tilesReadLastRefresh(), 1);
}

TEST_F(OverviewStoreTest, CacheFileSparesTheReadsOfTheNextStart) {
  Import(testing::Track(35.68, 139.76, 3000, 1));
  AgeStore();
  {
    MarksMap map(CacheIn("cache"));
    EXPECT_EQ(map.cacheFile(), MarksMap::CacheFile::kAbsent);
    map.Refresh();
    EXPECT_TRUE(map.SaveCache());
    EXPECT_TRUE(fs::is_regular_file(map.cachePath()));
    EXPECT_EQ(fs::path(map.cachePath()).parent_path(), fs::path("cache"));
  }
  MarksMap again(CacheIn("cache"));
  EXPECT_EQ(again.cacheFile(), MarksMap::CacheFile::kLoaded);
  EXPECT_TRUE(again.overview() == FreshOverview());
  EXPECT_FALSE(again.Refresh());
  EXPECT_EQ(again.tilesReadLastRefresh(), 0);

  // Another store has a cache file of its own.
  fs::create_directories("elsewhere");
  fs::current_path("elsewhere");
  {
    MarksMap elsewhere(CacheIn("../cache"));
    EXPECT_EQ(elsewhere.cacheFile(), MarksMap::CacheFile::kAbsent);
    EXPECT_NE(elsewhere.cachePath(), "../" + again.cachePath());
  }
  fs::current_path("..");
}

TEST_F(OverviewStoreTest, DamagedForeignOrOutdatedCacheIsBuiltAgainWithOneLine) {
  Import(testing::Track(35.68, 139.76, 2000, 1));
  std::string path;
  std::vector<uint8_t> sound;
  {
    MarksMap map(CacheIn("cache"));
    map.Refresh();
    ASSERT_TRUE(map.SaveCache());
    path = map.cachePath();
    sound = testing::ReadBytes(path);
  }
  // The cache file of another store, under this store's name.
  std::vector<uint8_t> foreign;
  fs::create_directories("other");
  fs::current_path("other");
  {
    testing::WriteCells({CellAt(1, 1)});
    MarksMap other(CacheIn("../other-cache"));
    other.Refresh();
    ASSERT_TRUE(other.SaveCache());
    foreign = testing::ReadBytes(other.cachePath());
  }
  fs::current_path("..");
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* told;
  };
  std::vector<uint8_t> flipped = sound;
  flipped[flipped.size() / 2] ^= 0x20;
  std::vector<uint8_t> version = sound;
  version[8] = 99;
  std::vector<uint8_t> lying = sound;  // a payload size far beyond what the file can hold
  lying[23] = 0x01;
  const Case cases[] = {
      {"empty", {}, "is damaged"},
      {"truncated", std::vector<uint8_t>(sound.begin(), sound.end() - 7), "is damaged"},
      {"header only", std::vector<uint8_t>(sound.begin(), sound.begin() + 32), "is damaged"},
      {"flipped byte", flipped, "is damaged"},
      {"lying size", lying, "is damaged"},
      {"another version", version, "is of another version"},
      {"another store", foreign, "belongs to another store"},
      {"not a cache", std::vector<uint8_t>(5000, 'x'), "is damaged"},
  };
  for (const Case& c : cases) {
    testing::WriteBytes(path, c.bytes);
    std::vector<std::string> warnings;
    {
      MarksMap map(CacheIn("cache", &warnings));
      EXPECT_EQ(map.cacheFile(), MarksMap::CacheFile::kSetAside) << c.what;
      EXPECT_TRUE(map.overview().Empty()) << c.what;
      EXPECT_TRUE(map.Refresh()) << c.what;
      EXPECT_TRUE(map.overview() == FreshOverview()) << c.what;
    }  // written again, sound, when the map goes
    ASSERT_EQ(warnings.size(), 1u) << c.what;
    EXPECT_NE(warnings[0].find(path), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find(c.told), std::string::npos) << warnings[0];
    EXPECT_EQ(warnings[0].find('\n'), std::string::npos);
    MarksMap next(CacheIn("cache", &warnings));
    EXPECT_EQ(next.cacheFile(), MarksMap::CacheFile::kLoaded) << c.what;
    EXPECT_EQ(warnings.size(), 1u) << c.what;
  }
}

TEST_F(OverviewStoreTest, EveryCutOrChangeOfACacheFileIsRefusedWithoutHarm) {
  Import(testing::Track(35.68, 139.76, 500, 1));
  Import({CellAt(35.0, 139.0)});
  std::vector<TileRecord> records;
  OverviewPyramid pyramid;
  const std::string store = "/some/store/RGD";
  MarksMap fresh(MemoryOnly());
  fresh.Refresh();
  TileRecord record;
  record.latKey = 3565;
  record.lonKey = 13975;
  record.explorerExtras = {1, 2, 3};
  const std::vector<uint8_t> bytes = EncodeOverviewCache(store, {record}, fresh.overview());
  ASSERT_EQ(DecodeOverviewCache(bytes.data(), bytes.size(), store, records, pyramid),
            CacheRead::kLoaded);
  EXPECT_EQ(records, std::vector<TileRecord>{record});
  EXPECT_TRUE(pyramid == fresh.overview());
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    ASSERT_NE(DecodeOverviewCache(bytes.data(), cut, store, records, pyramid), CacheRead::kLoaded);
  std::mt19937 random(11);
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> changed = bytes;
    changed[random() % changed.size()] ^= uint8_t(1 + random() % 255);
    const CacheRead read =
        DecodeOverviewCache(changed.data(), changed.size(), store, records, pyramid);
    if (read != CacheRead::kLoaded) {
      EXPECT_TRUE(records.empty() && pyramid.Empty());
    }
  }
}

TEST_F(OverviewStoreTest, ReadOnlyStoreAndUnwritableCacheStillMap) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  Import(testing::Track(35.68, 139.76, 1500, 1));
  // A tile that cannot be read marks nothing until it can be.
  testing::WriteCells({CellAt(10.0, 10.0)});
  const std::string hidden = testing::TilePath(1000, 1000);
  chmod(hidden.c_str(), 0);
  const auto readOnly = [](const fs::path& root, bool on) {
    const fs::perms write =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    for (const auto& entry : fs::recursive_directory_iterator(root))
      fs::permissions(entry.path(), write, on ? fs::perm_options::remove : fs::perm_options::add);
    fs::permissions(root, write, on ? fs::perm_options::remove : fs::perm_options::add);
  };
  readOnly("RGD", true);
  fs::create_directories("cache");
  fs::permissions("cache", fs::perms::owner_write, fs::perm_options::remove);
  {
    MarksMap map(CacheIn("cache"));
    EXPECT_TRUE(map.Refresh());
    EXPECT_FALSE(map.SaveCache());  // in memory only
    MaskImage mask;
    map.RenderMarks(testing::ViewAt(10.0, 10.0, 16, 64, 64), mask);
    EXPECT_FALSE(mask.Any());
    map.RenderMarks(MercatorView{0.5, 0.5, 3, 2048, 2048}, mask);
    EXPECT_TRUE(mask.Any());
    readOnly("RGD", false);
    chmod(hidden.c_str(), 0644);
    EXPECT_TRUE(map.Refresh());
    map.RenderMarks(testing::ViewAt(10.0, 10.0, 16, 64, 64), mask);
    EXPECT_TRUE(mask.Any());
  }
  fs::permissions("cache", fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(OverviewStoreTest, ExplorerTilesAreTheOnesStatsCounts) {
  // Rides that fill some zoom 17 tiles, and a tile the map does not draw
  // (both masks 0) whose cells `stats` counts all the same.
  Import(testing::Track(35.68, 139.76, 20000, 1));
  Import(testing::Track(35.70, 139.70, 20000, 2));
  testing::GeneratedTile maskless;
  for (int row = 0; row < 896; row += 40)
    for (int column = 0; column < 896; column += 3) maskless.Mark(row, column);
  std::vector<uint8_t> file = maskless.File();
  file[1] = file[2] = 0;
  testing::WriteTileFile(3600, 13900, file);

  std::vector<ExplorerTileSet> sets;
  sets.emplace_back(17);
  CollectStoreStats(&sets);
  ExplorerTileSet zoom14(14);
  zoom14.AddCoarsened(sets.front());

  MarksMap map(MemoryOnly());
  map.Refresh();
  for (const ExplorerTileSet* set : {&sets.front(), &zoom14}) {
    const int zoom = set->zoom();
    ExplorerShapes shapes;
    const ExplorerSummary summary = set->Summarize(&shapes);
    const ExplorerLayerData& data = map.Explorer(zoom);
    EXPECT_EQ(data.summary, summary) << zoom;
    EXPECT_EQ(data.shapes.squareCorner, shapes.squareCorner) << zoom;
    EXPECT_EQ(data.shapes.cluster, shapes.cluster) << zoom;
    std::vector<ExplorerTile> listed;
    map.ForEachExploredTile(zoom, 0, (1 << zoom) - 1, 0, (1 << zoom) - 1,
                            [&](ExplorerTile t) { listed.push_back(t); });
    std::sort(listed.begin(), listed.end(),
              [](auto& a, auto& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    EXPECT_EQ(listed, set->Sorted()) << zoom;
  }
  EXPECT_GT(map.Explorer(17).summary.maxSquare, 1);
}

}  // namespace
}  // namespace roamgrid
