#include "store/store_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "support/temp_dir.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

namespace roamgrid {
namespace {

using testing::TempDirTest;
using testing::WriteBytes;
using testing::WriteText;

TEST(TileKeyFromPath, AcceptsExactlyThePathsOfTheStore) {
  struct Case {
    const char* path;
    std::optional<TileKey> key;
  };
  const Case cases[] = {
      {"RGD/E139N035/E13975-N03500.map", TileKey{3500, 13975}},
      {"RGD/E000N000/E00000-N00000.map", TileKey{0, 0}},
      {"RGD/W070S033/W07005-S03350.map", TileKey{-3350, -7005}},
      {"RGD/W180N049/W18000-N04995.map", TileKey{4995, -18000}},
      // The southernmost tiles, and the tile of a fix at the North Pole.
      {"RGD/E179S090/E17995-S09000.map", TileKey{-9000, 17995}},
      {"RGD/E000N090/E00000-N09000.map", TileKey{9000, 0}},
      {"RGD/E179S999/E17995-S99995.map", {}},      // outside the grid
      {"RGD/E000S090/E00000-S09005.map", {}},      // outside the grid
      {"RGD/E139N035/E13975-N03501.map", {}},      // not a multiple of 5
      {"RGD/E180N000/E18000-N00000.map", {}},      // the store names it W18000
      {"RGD/W000N000/W00000-N00000.map", {}},      // key 0 is E
      {"RGD/E139N036/E13975-N03500.map", {}},      // folder of another tile
      {"RGD/E139N035/E13975-N03500.map.tmp", {}},  // a temporary file
      {"RGD/E139N035/e13975-n03500.map", {}},      // lower case
      {"RGD/E139N035/E1397A-N03500.map", {}},
      {"RGD/E139N035/E13975_N03500.map", {}},
      {"RGD/E13975-N03500.map", {}},
      {"X/E139N035/E13975-N03500.map", {}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(TileKeyFromPath(c.path), c.key) << c.path;

  const std::pair<const char*, bool> outside[] = {
      {"RGD/E000N999/E00000-N99995.map", true},   // north of the pole
      {"RGD/E000S090/E00000-S09005.map", true},   // south of the pole
      {"RGD/E180N000/E18000-N00000.map", true},   // east of 180
      {"RGD/E999N000/E99995-N00000.map", true},   // far east of it
      {"RGD/E000N090/E00000-N09000.map", false},  // in the grid
      {"RGD/W000N000/W00000-N00000.map", false},  // no tile's name
      {"RGD/E000N999/E00000-N99996.map", false},  // nor this
  };
  for (const auto& [path, expected] : outside)
    EXPECT_EQ(IsTileNameOutsideGrid(path), expected) << path;
}

TEST(CellAreaKm2, SumsToTheSphereAndShrinksTowardThePoles) {
  constexpr int64_t kRowsPerDegree = 17920;
  // One column of cells from pole to pole, times the columns around the
  // globe, is the whole sphere.
  double column = 0.0;
  for (int64_t row = -90 * kRowsPerDegree; row < 90 * kRowsPerDegree; ++row)
    column += CellAreaKm2(row);
  const double sphere = 4 * std::numbers::pi * kEarthRadiusKm * kEarthRadiusKm;
  EXPECT_NEAR(column * 360 * kRowsPerDegree / sphere, 1.0, 1e-9);

  const double side = 2 * std::numbers::pi * kEarthRadiusKm / 360 / kRowsPerDegree;
  EXPECT_NEAR(CellAreaKm2(0) / (side * side), 1.0, 1e-6);
  EXPECT_DOUBLE_EQ(CellAreaKm2(-1), CellAreaKm2(0));  // symmetric about the equator
  EXPECT_NEAR(CellAreaKm2(60 * kRowsPerDegree) / CellAreaKm2(0), 0.5, 1e-4);
  EXPECT_EQ(CellAreaKm2(90 * kRowsPerDegree), 0.0);  // beyond the pole
  EXPECT_EQ(CellAreaKm2(-95 * kRowsPerDegree), 0.0);
}

class StoreStatsTest : public TempDirTest {
 protected:
  // Saves a tile with the given (row, column) cells visited.
  static void SaveCells(int32_t latKey, int32_t lonKey,
                        const std::vector<std::pair<int, int>>& visited) {
    TrackTile tile;
    OpenTile(tile, latKey, lonKey);
    tile.cells = std::make_unique<uint8_t[]>(kCellCount);
    for (auto [row, column] : visited) tile.cells[size_t(row) * kCellsPerSide + column] = 1;
    tile.southMask = 1;
    ASSERT_TRUE(SaveTile(tile));
  }
};

TEST_F(StoreStatsTest, NoStoreIsEmpty) {
  const StoreStats stats = CollectStoreStats();
  EXPECT_EQ(stats.tileFiles, 0);
  EXPECT_EQ(stats.visitedCells, 0);
  EXPECT_FALSE(stats.visitedBox);
  EXPECT_TRUE(stats.notLoadedWhole.empty());
  EXPECT_TRUE(stats.unreadableFolders.empty());
}

TEST_F(StoreStatsTest, CountsCellsAreaAndBoxOverEveryTile) {
  SaveCells(3500, 13975, {{0, 0}, {0, 1}, {895, 895}});
  SaveCells(-5, -18000, {{10, 20}});
  SaveCells(4000, 0, {});  // a file without a visited cell: counted, not in the box
  SaveCells(99995, 0, {{5, 5}});  // north of the pole: outside the grid, not read
  // Not tiles: ignored.
  WriteText("RGD/E139N035/notes.txt", "x");
  WriteText("RGD/E139N035/E13975-N03500.map.bk", "x");
  WriteText("RGD/E13975-N03500.map", "x");
  // Damaged: a header that is not the store's, and a stream cut short
  // after one literal group of three visited cells.
  WriteBytes("RGD/E001N000/E00100-N00000.map", {0x01, 0x00, 0x01});
  WriteBytes("RGD/E001N000/E00105-N00000.map", {0x00, 0x00, 0x01, 0x70});

  const StoreStats stats = CollectStoreStats();
  EXPECT_EQ(stats.tileFiles, 5);
  ASSERT_EQ(stats.notLoadedWhole.size(), 2u);
  EXPECT_EQ(stats.notLoadedWhole[0].path, "RGD/E001N000/E00100-N00000.map");
  EXPECT_EQ(stats.notLoadedWhole[0].result, kDamaged);
  EXPECT_EQ(stats.notLoadedWhole[1].path, "RGD/E001N000/E00105-N00000.map");
  EXPECT_EQ(stats.visitedCells, 3 + 1 + 3);
  ASSERT_TRUE(stats.visitedBox);
  EXPECT_EQ(*stats.visitedBox, (StoreStats::Box{-5, -18000, 3505, 13980}));
  EXPECT_EQ(stats.outsideGrid, std::vector<std::string>{"RGD/E000N999/E00000-N99995.map"});

  const int64_t row3500 = 3500 / 5 * 896;
  const double expected = 2 * CellAreaKm2(row3500) + CellAreaKm2(row3500 + 895) +
                          CellAreaKm2(-896 + 10) + 3 * CellAreaKm2(0);
  EXPECT_DOUBLE_EQ(stats.visitedAreaKm2, expected);
}

TEST_F(StoreStatsTest, ReportsAFolderItCannotRead) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  SaveCells(0, 0, {{1, 1}});
  SaveCells(0, 100, {{1, 1}});
  std::filesystem::permissions("RGD/E001N000", std::filesystem::perms::none);
  const StoreStats stats = CollectStoreStats();
  std::filesystem::permissions("RGD/E001N000", std::filesystem::perms::owner_all);
  EXPECT_EQ(stats.unreadableFolders, std::vector<std::string>{"RGD/E001N000"});
  EXPECT_EQ(stats.tileFiles, 1);
  EXPECT_EQ(stats.visitedCells, 1);
}

TEST_F(StoreStatsTest, AStoreThatIsNoFolderIsReported) {
  WriteText("RGD", "not a folder");
  const StoreStats stats = CollectStoreStats();
  EXPECT_EQ(stats.unreadableFolders, std::vector<std::string>{"RGD"});
  EXPECT_EQ(stats.tileFiles, 0);
}

}  // namespace
}  // namespace roamgrid
