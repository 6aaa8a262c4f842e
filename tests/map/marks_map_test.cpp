#include "map/marks_map.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "map/map_store.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::AlignedView;
using testing::CellAt;
using testing::GlobalCell;
using testing::ReferenceMarks;
using testing::TempDirTest;
using testing::ViewAt;

using testing::MemoryOnly;

// Cells where the projections are hardest: a ride in Tokyo, both sides of
// 180 degrees, next to the Web Mercator square's edge and beyond it, both
// sides of the equator and prime meridian, and a scatter over the world.
std::vector<GlobalCell> HardCells() {
  std::vector<GlobalCell> cells = testing::Track(35.68, 139.76, 600, 1);
  for (const GlobalCell& c : testing::Track(-17.0, 179.999, 200, 2)) cells.push_back(c);
  for (double lon : {179.99995, -179.99995, 179.9, -179.9}) cells.push_back(CellAt(-17.0001, lon));
  for (double lat : {85.0510, 85.05112, 85.0512, 85.2, -85.0510, -85.0512})
    cells.push_back(CellAt(lat, 10.0));
  for (int64_t row : {-1, 0})
    for (int64_t column : {-1, 0}) cells.push_back({row, column});
  std::mt19937 random(7);
  std::uniform_real_distribution<double> lat(-84.0, 84.0), lon(-180.0, 180.0);
  for (int i = 0; i < 100; ++i) cells.push_back(CellAt(lat(random), lon(random)));
  return cells;
}

class MarksMapTest : public TempDirTest {};

TEST_F(MarksMapTest, MarksEqualThePlainReferenceAtEveryKindOfZoom) {
  const std::vector<GlobalCell> cells = HardCells();
  testing::WriteCells(cells);
  MarksMap map(MemoryOnly());
  ASSERT_TRUE(map.Refresh());
  const GlobalCell ride = cells[300];
  const double rideLat = (ride.row + 0.5) / 17920.0, rideLon = (ride.column + 0.5) / 17920.0;
  struct Case {
    const char* what;
    MercatorView view;
  };
  const Case cases[] = {
      {"world, one tile", MercatorView{0.5, 0.5, 0, 256, 256}},
      {"world, wider than the world", MercatorView{0.5, 0.5, 1.5, 1280, 800}},
      {"world, fractional", MercatorView{0.5, 0.5, 2.32, 1280, 800}},
      {"whole zoom, off the tile grid", ViewAt(30, 120, 5, 1280, 800)},
      {"ride, overview", ViewAt(rideLat, rideLon, 9.5, 900, 700)},
      {"ride, finest overview zoom", ViewAt(rideLat, rideLon, 11, 640, 480)},
      {"ride, tiles in view, wide", ViewAt(rideLat, rideLon, 11.2, 640, 480)},
      {"ride, tiles in view, wide, closer", ViewAt(rideLat, rideLon, 12.5, 640, 480)},
      {"ride, tiles in view, whole zoom", ViewAt(rideLat, rideLon, 14, 640, 480)},
      {"ride, just past a cell a pixel", ViewAt(rideLat, rideLon, 14.63, 640, 480)},
      {"ride, cells", ViewAt(rideLat, rideLon, 17.3, 640, 480)},
      {"ride, one cell", ViewAt(rideLat, rideLon, 22, 500, 400)},
      {"across 180, overview", ViewAt(-17, 180, 4, 800, 600)},
      {"across 180, tiles in view", ViewAt(-17, 180, 13.3, 800, 600)},
      {"across 180, cells", ViewAt(-17.0001, 180, 16, 800, 600)},
      {"across 180, cells, finest", ViewAt(-17.0001, 180, 21.5, 800, 600)},
      {"85 degrees, overview", ViewAt(85.05, 10, 6, 800, 600)},
      {"85 degrees, tiles in view", ViewAt(85.05, 10, 13, 800, 600)},
      {"85 degrees, cells", ViewAt(85.0511, 10, 15.5, 800, 600)},
      {"south edge, cells", ViewAt(-85.0511, 10, 15.5, 800, 600)},
      {"equator and meridian, cells", ViewAt(0, 0, 20, 300, 300)},
  };
  for (const Case& c : cases) {
    MaskImage mask;
    map.RenderMarks(c.view, mask);
    const MaskImage expected = ReferenceMarks(cells, c.view);
    EXPECT_TRUE(expected.Any()) << c.what << ": the case shows no mark";
    EXPECT_EQ(mask.width, c.view.width) << c.what;
    EXPECT_EQ(mask.height, c.view.height) << c.what;
    EXPECT_EQ(mask.Count(), expected.Count()) << c.what;
    EXPECT_TRUE(mask == expected) << c.what;
  }
}

TEST_F(MarksMapTest, MapTilesAreThePixelsOfTheViewAtTheirPlace) {
  const std::vector<GlobalCell> cells = HardCells();
  testing::WriteCells(cells);
  MarksMap map(MemoryOnly());
  map.Refresh();
  struct Case {
    int z, x, y;
  };
  // The ride's tiles, and tiles on both sides of 180 degrees (a mark in the
  // last column of the world spills into the first).
  const GlobalCell ride = cells[300];
  const auto tileOf = [&](int z) {
    const double tiles = std::ldexp(1.0, z);
    return Case{z, int(MercatorWorldX((ride.column + 0.5) / 17920.0) * tiles),
                int(MercatorWorldY((ride.row + 0.5) / 17920.0) * tiles)};
  };
  std::vector<Case> cases = {tileOf(3), tileOf(9), tileOf(11), tileOf(12), tileOf(15), tileOf(19)};
  for (int z : {2, 6, 13}) {
    const int last = (1 << z) - 1;
    const int y = int(MercatorWorldY(-17.0) * (1 << z));
    cases.push_back({z, last, y});
    cases.push_back({z, 0, y});
  }
  for (const Case& c : cases) {
    // Three by two tiles of the view, the tile in the middle of the top row.
    const int firstX = c.x - 1;
    const MercatorView view = AlignedView(c.z, firstX, c.y, 768, 512);
    MaskImage viewMask, tile;
    map.RenderMarks(view, viewMask);
    const bool any = map.RenderMarksTile(c.z, c.x, c.y, tile);
    ASSERT_EQ(tile.width, 256);
    ASSERT_EQ(tile.height, 256);
    bool same = true;
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) same &= tile.At(x, y) == viewMask.At(256 + x, y);
    EXPECT_TRUE(same) << c.z << "/" << c.x << "/" << c.y;
    EXPECT_EQ(any, tile.Any());
    EXPECT_TRUE(tile == ReferenceMarks(cells, AlignedView(c.z, c.x, c.y, 256, 256)))
        << c.z << "/" << c.x << "/" << c.y;
  }
  MaskImage outside;
  EXPECT_FALSE(map.RenderMarksTile(3, 8, 0, outside));
  EXPECT_FALSE(map.RenderMarksTile(23, 0, 0, outside));
  EXPECT_FALSE(map.RenderMarksTile(1, -1, 0, outside));
  EXPECT_EQ(outside.width, 256);
}

TEST_F(MarksMapTest, ListsExactlyTheMarkedTilesAndEveryMarkedTileBeyond) {
  const std::vector<GlobalCell> cells = HardCells();
  testing::WriteCells(cells);
  MarksMap map(MemoryOnly());
  map.Refresh();
  for (int z : {0, 3, 6}) {
    std::set<std::pair<int, int>> listed, marked;
    std::pair<int, int> previous{-1, -1};
    map.ForEachMarksTile(z, [&](MapTileKey key) {
      EXPECT_EQ(key.zoom, z);
      EXPECT_LT(previous, std::make_pair(key.x, key.y)) << "in order of x, then y";
      previous = {key.x, key.y};
      listed.insert({key.x, key.y});
    });
    MaskImage tile;
    for (int x = 0; x < (1 << z); ++x)
      for (int y = 0; y < (1 << z); ++y)
        if (map.RenderMarksTile(z, x, y, tile)) marked.insert({x, y});
    EXPECT_EQ(listed, marked) << "zoom " << z;
  }
  // Beyond the overview's zoom: every tile holding a cell is listed once.
  for (int z : {12, 17}) {
    std::set<std::pair<int, int>> listed;
    map.ForEachMarksTile(z, [&](MapTileKey key) {
      EXPECT_TRUE(listed.insert({key.x, key.y}).second) << "listed twice";
    });
    const double tiles = std::ldexp(1.0, z);
    for (const GlobalCell& cell : cells) {
      const double lat = (cell.row + 0.5) / 17920.0;
      if (std::fabs(lat) >= kMercatorMaxLat) continue;
      const int x = int(MercatorWorldX((cell.column + 0.5) / 17920.0) * tiles);
      const int y = int(MercatorWorldY(lat) * tiles);
      MaskImage tile;
      if (map.RenderMarksTile(z, x, y, tile)) {
        EXPECT_TRUE(listed.count({x, y})) << z;
      }
    }
    EXPECT_LT(listed.size(), cells.size() * 4);
  }
}

TEST_F(MarksMapTest, BoundsHoldAllMarksAndCross180WhenTheGapIsThere) {
  MarksMap empty(MemoryOnly());
  empty.Refresh();
  EXPECT_FALSE(empty.MarksBounds());

  struct Case {
    const char* what;
    std::vector<GlobalCell> cells;
    bool crosses;
  };
  const Case cases[] = {
      {"Tokyo and London", {CellAt(35.68, 139.76), CellAt(51.5, -0.12)}, false},
      {"Fiji both sides", {CellAt(-17.0, 178.0), CellAt(-16.0, -179.5)}, true},
      {"four continents",
       {CellAt(35.68, 139.76), CellAt(51.5, -0.12), CellAt(-33.9, 18.4), CellAt(40.7, -74.0)},
       false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all("RGD");
    testing::WriteCells(c.cells);
    MarksMap map(MemoryOnly());
    map.Refresh();
    const std::optional<WorldBox> box = map.MarksBounds();
    ASSERT_TRUE(box) << c.what;
    EXPECT_EQ(box->east > 1.0, c.crosses) << c.what;
    const double pixel = 1.0 / std::ldexp(256.0, 11);
    for (const GlobalCell& cell : c.cells) {
      double x = MercatorWorldX((cell.column + 0.5) / 17920.0);
      if (x < box->west) x += 1.0;
      const double y = MercatorWorldY((cell.row + 0.5) / 17920.0);
      EXPECT_GE(x, box->west) << c.what;
      EXPECT_LE(x, box->east) << c.what;
      EXPECT_GE(y, box->north) << c.what;
      EXPECT_LE(y, box->south) << c.what;
      EXPECT_LT(box->east - box->west, 1.0) << c.what;
    }
    EXPECT_GT(box->east - box->west, pixel) << c.what;
  }
}

TEST_F(MarksMapTest, TileStampsFollowTheTilesThatDrawThere) {
  testing::WriteCells({CellAt(35.68, 139.76), CellAt(51.5, -0.12), CellAt(-17.0, 179.99)});
  MarksMap map(MemoryOnly());
  map.Refresh();
  const auto tile = [](int z, double lat, double lon) {
    const double tiles = std::ldexp(1.0, z);
    return std::array<int, 3>{z, int(MercatorWorldX(lon) * tiles),
                              int(MercatorWorldY(lat) * tiles)};
  };
  const auto stamp = [&](std::array<int, 3> t) { return map.TileStamp(t[0], t[1], t[2]); };
  const auto tokyo = tile(14, 35.68, 139.76), london = tile(14, 51.5, -0.12);
  const auto world = tile(0, 0, 0), fijiWest = tile(10, -17.0, -179.99);
  const uint64_t before[] = {stamp(tokyo), stamp(london), stamp(world), stamp(fijiWest)};
  EXPECT_NE(before[0], before[1]);

  testing::WriteCells({CellAt(35.68, 139.76), CellAt(35.6801, 139.7601), CellAt(-17.0, 179.999)});
  ASSERT_TRUE(map.Refresh());
  EXPECT_NE(stamp(tokyo), before[0]);
  EXPECT_EQ(stamp(london), before[1]);
  EXPECT_NE(stamp(world), before[2]);
  // A tile just across 180 degrees can be drawn into from the east side.
  EXPECT_NE(stamp(fijiWest), before[3]);

  // Equal stores give equal stamps.
  MarksMap again(MemoryOnly());
  again.Refresh();
  EXPECT_EQ(again.TileStamp(tokyo[0], tokyo[1], tokyo[2]), stamp(tokyo));
}

TEST_F(MarksMapTest, DamagedAndMaskLessTilesDrawAsTheMainViewDraws) {
  // A damaged code stream draws the cells before the damage; a damaged
  // header and a tile with both masks 0 draw nothing.
  testing::GeneratedTile tile;
  tile.Mark(10, 10);
  tile.Mark(800, 800);
  std::vector<uint8_t> file = tile.File();
  testing::WriteTileFile(3500, 13975, std::vector<uint8_t>(file.begin(), file.end() - 400));
  std::vector<uint8_t> headerless = file;
  headerless[0] = 0x42;
  testing::WriteTileFile(3505, 13975, headerless);
  std::vector<uint8_t> maskless = file;
  maskless[1] = maskless[2] = 0;
  testing::WriteTileFile(3510, 13975, maskless);
  MarksMap map(MemoryOnly());
  map.Refresh();
  const auto marked = [&](double lat, double lon) {
    MaskImage mask;
    map.RenderMarks(ViewAt(lat, lon, 17, 64, 64), mask);
    return mask.Any();
  };
  const double cell = 1.0 / 17920;
  EXPECT_TRUE(marked(35.0 + 10.5 * cell, 139.75 + 10.5 * cell));
  EXPECT_FALSE(marked(35.0 + 800.5 * cell, 139.75 + 800.5 * cell));
  EXPECT_FALSE(marked(35.05 + 10.5 * cell, 139.75 + 10.5 * cell));
  EXPECT_FALSE(marked(35.1 + 10.5 * cell, 139.75 + 10.5 * cell));
  MaskImage world;
  map.RenderMarks(MercatorView{0.5, 0.5, 3, 2048, 2048}, world);
  EXPECT_EQ(world.Count(), 4);  // the one cell that marks, drawn 2 x 2
}

}  // namespace
}  // namespace roamgrid
