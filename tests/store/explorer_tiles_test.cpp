#include "store/explorer_tiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <queue>
#include <random>
#include <set>

namespace roamgrid {
namespace {

// Rows and columns of cells north of the equator and east of Greenwich;
// expected tiles from a 50-digit computation of the same projection.
TEST(ExplorerTileOfCell, PlacesCellsNearTileEdges) {
  struct Case {
    int zoom;
    int64_t row, column;
    std::optional<ExplorerTile> tile;
  };
  const Case cases[] = {
      // Column 787's centre lies exactly on the west edge of x 8194 (zoom 14)
      // and of x 65552 (zoom 17): it belongs to that tile.
      {14, 639617, 787, ExplorerTile{8194, 6451}},
      {14, 639617, 786, ExplorerTile{8193, 6451}},
      {17, 639418, 787, ExplorerTile{65552, 51613}},
      {17, 639418, 786, ExplorerTile{65551, 51613}},
      // Rows whose centres lie 0.04 to 0.3 cells on either side of an edge.
      {14, 639618, 787, ExplorerTile{8194, 6450}},
      {17, 639419, 787, ExplorerTile{65552, 51612}},
      {14, -313179, 0, ExplorerTile{8192, 9000}},
      {14, -313178, -1, ExplorerTile{8191, 8999}},
      {17, -660884, 0, ExplorerTile{65536, 80000}},
      {17, -660883, -1, ExplorerTile{65535, 79999}},
      {14, 1482757, 0, ExplorerTile{8192, 1000}},
      {14, 1482758, 0, ExplorerTile{8192, 999}},
      // The equator, 180 W and the last column before 180 E.
      {14, 0, -180 * 17920, ExplorerTile{0, 8191}},
      {14, -1, 180 * 17920 - 1, ExplorerTile{16383, 8192}},
      {17, 0, 0, ExplorerTile{65536, 65535}},
      // The edge of the square, 85.0511288 N and S.
      {17, 1524115, 0, ExplorerTile{65536, 0}},
      {17, 1524116, 0, {}},
      {14, -1524116, 0, ExplorerTile{8192, 16383}},
      {14, -1524117, 0, {}},
      {14, 0, 180 * 17920, {}},
      {14, 95 * 17920, 0, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExplorerTileOfCell(c.zoom, c.row, c.column), c.tile)
        << "zoom " << c.zoom << " row " << c.row << " column " << c.column;
}

TEST(ExplorerTileOfCell, ItsHalvesPlaceRowsAndColumnsAtEveryZoom) {
  std::mt19937 random(5);
  std::uniform_int_distribution<int64_t> row(-1524200, 1524200), column(-3225600, 3225599);
  for (int i = 0; i < 2000; ++i) {
    const int zoom = i % 25;
    const int64_t r = row(random), c = column(random);
    const std::optional<ExplorerTile> tile = ExplorerTileOfCell(zoom, r, c);
    const int32_t x = CellCentreTileX(zoom, c), y = CellCentreTileY(zoom, r);
    EXPECT_EQ(tile, x < 0 || y < 0 ? std::nullopt : std::optional<ExplorerTile>({x, y}));
  }
  // Past the explorer's zooms, down to zoom 30: nested in the tiles above.
  for (int64_t c : {-3225600, -1, 0, 1234567, 3225599}) {
    EXPECT_EQ(CellCentreTileX(30, c) >> 6, CellCentreTileX(24, c));
    EXPECT_EQ(CellCentreTileY(30, 1234) >> 6, CellCentreTileY(24, 1234));
  }
  EXPECT_EQ(CellCentreTileX(31, 0), -1);
  EXPECT_EQ(CellCentreTileY(-1, 0), -1);
  EXPECT_EQ(CellCentreTileX(30, 3225600), -1);  // past 180 E
}

ExplorerTileSet SetOf(const std::vector<ExplorerTile>& tiles, int zoom = 14) {
  ExplorerTileSet set(zoom);
  for (ExplorerTile tile : tiles) set.Add(tile);
  return set;
}

TEST(ExplorerTileSet, FindsAKnownSquareAndCluster) {
  std::vector<ExplorerTile> tiles;
  // A 5 x 4 block: square 4, cluster its 3 x 2 inside.
  for (int32_t y = 10; y < 14; ++y)
    for (int32_t x = 20; x < 25; ++x) tiles.push_back({x, y});
  // A plus shape far away: square 1, cluster 1 (its centre).
  for (ExplorerTile t : {ExplorerTile{100, 50}, {99, 51}, {100, 51}, {101, 51}, {100, 52}})
    tiles.push_back(t);
  // A 3 x 3 block at the grid's corner: its centre's neighbours are all
  // there, the corner tile's are not (the grid does not wrap).
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) tiles.push_back({x, y});
  const ExplorerTileSet set = SetOf(tiles);
  EXPECT_EQ(set.Summarize(), (ExplorerSummary{34, 4, 6}));
  // Where they lie: of the two squares of side 4 in the block, the one
  // whose south-east tile comes first; the cluster's six tiles in order.
  ExplorerShapes shapes;
  set.Summarize(&shapes);
  EXPECT_EQ(shapes.squareCorner, (ExplorerTile{20, 10}));
  EXPECT_EQ(shapes.cluster, (std::vector<ExplorerTile>{
                                {21, 11}, {22, 11}, {23, 11}, {21, 12}, {22, 12}, {23, 12}}));
  EXPECT_EQ(SetOf({}).Summarize(), (ExplorerSummary{0, 0, 0}));
  EXPECT_EQ(SetOf({{7, 7}}).Summarize(), (ExplorerSummary{1, 1, 0}));
}

// The largest square and cluster by brute force over a small window.
ExplorerSummary Straightforward(const std::set<std::pair<int, int>>& tiles, int side) {
  const auto has = [&](int x, int y) { return tiles.count({x, y}) != 0; };
  ExplorerSummary summary;
  summary.explored = (long long)tiles.size();
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      for (int k = 1; x + k <= side && y + k <= side; ++k) {
        bool full = true;
        for (int dy = 0; dy < k && full; ++dy)
          for (int dx = 0; dx < k && full; ++dx) full = has(x + dx, y + dy);
        if (full) summary.maxSquare = std::max(summary.maxSquare, k);
      }
  const auto inner = [&](int x, int y) {
    return has(x, y) && has(x - 1, y) && has(x + 1, y) && has(x, y - 1) && has(x, y + 1);
  };
  std::set<std::pair<int, int>> seen;
  for (const auto& [x0, y0] : tiles) {
    if (!inner(x0, y0) || seen.count({x0, y0})) continue;
    long long size = 0;
    std::queue<std::pair<int, int>> todo;
    todo.push({x0, y0});
    seen.insert({x0, y0});
    while (!todo.empty()) {
      const auto [x, y] = todo.front();
      todo.pop();
      ++size;
      for (auto [nx, ny] : {std::pair{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}})
        if (inner(nx, ny) && seen.insert({nx, ny}).second) todo.push({nx, ny});
    }
    summary.maxCluster = std::max(summary.maxCluster, size);
  }
  return summary;
}

TEST(ExplorerTileSet, AgreesWithAStraightforwardCountOnRandomStores) {
  std::mt19937 random(23);
  for (int round = 0; round < 40; ++round) {
    // Random cells of two neighbouring store tiles near Tokyo, dense
    // enough at zoom 17 for squares and clusters to form.
    const int zoom = round % 2 ? 17 : 14;
    ExplorerTileSet set(zoom);
    std::set<std::pair<int, int>> expected, expected14;
    const double density = std::uniform_real_distribution<double>(0.00002, 0.0004)(random);
    for (int32_t lonKey : {13975, 13980}) {
      TrackTile tile;
      tile.latKey = 3565;
      tile.lonKey = lonKey;
      tile.cells = std::make_unique<uint8_t[]>(kCellCount);
      std::bernoulli_distribution visited(density);
      for (int i = 0; i < kCellCount; ++i) {
        if (!visited(random)) continue;
        tile.cells[size_t(i)] = 1;
        tile.groups.Mark(i / kCellsPerGroup);
        const int64_t row = int64_t{tile.latKey} / 5 * 896 + i / 896;
        const int64_t column = int64_t{lonKey} / 5 * 896 + i % 896;
        const auto explorer = ExplorerTileOfCell(zoom, row, column);
        ASSERT_TRUE(explorer);
        expected.insert({explorer->x, explorer->y});
        const auto zoom14 = ExplorerTileOfCell(14, row, column);
        expected14.insert({zoom14->x, zoom14->y});
      }
      // Both ways of finding the visited cells: the groups LoadTile keeps,
      // and every cell.
      if (round % 4 < 2) tile.groupsOf = tile.cells.get();
      set.AddTile(tile);
    }
    ASSERT_EQ(set.size(), expected.size()) << "round " << round;
    // Zoom 14 from the finer tiles is zoom 14 from the cells.
    ExplorerTileSet coarse(14);
    coarse.AddCoarsened(set);
    EXPECT_EQ(coarse.size(), expected14.size());
    for (const auto& [x, y] : expected14) EXPECT_TRUE(coarse.Contains({x, y}));
    // Shift the window to 0..side for the brute force.
    int xLow = INT32_MAX, yLow = INT32_MAX, side = 0;
    for (const auto& [x, y] : expected) xLow = std::min(xLow, x), yLow = std::min(yLow, y);
    std::set<std::pair<int, int>> shifted;
    for (const auto& [x, y] : expected) {
      EXPECT_TRUE(set.Contains({x, y}));
      shifted.insert({x - xLow, y - yLow});
      side = std::max({side, x - xLow + 1, y - yLow + 1});
    }
    EXPECT_EQ(set.Summarize(), Straightforward(shifted, side)) << "round " << round;
  }
}

// Many tiles, added in any order and again and again, with questions in
// between: the set holds each once, in order, as an ordered set does.
TEST(ExplorerTileSet, HoldsManyTilesAddedInAnyOrderOnce) {
  std::mt19937 random(29);
  ExplorerTileSet set(24);
  std::set<std::pair<int32_t, int32_t>> expected;  // y, x: the set's order
  std::uniform_int_distribution<int32_t> coordinate(0, 1200);
  for (int i = 0; i < 400000; ++i) {
    const ExplorerTile tile{coordinate(random), coordinate(random)};
    set.Add(tile);
    expected.insert({tile.y, tile.x});
    if (i % 50000 == 0) {
      EXPECT_TRUE(set.Contains(tile));
      EXPECT_EQ(set.size(), expected.size());
    }
  }
  ASSERT_EQ(set.size(), expected.size());
  const std::vector<ExplorerTile> sorted = set.Sorted();
  ASSERT_EQ(sorted.size(), expected.size());
  auto at = expected.begin();
  for (const ExplorerTile& tile : sorted) ASSERT_EQ((std::pair{tile.y, tile.x}), *at++);
  EXPECT_FALSE(set.Contains({1201, 0}));
}

TEST(ExplorerTilesInBox, CoversTheBoxAndStopsAtTheSquare) {
  // 35.6..35.7 N, 139.7..139.8 E at zoom 14.
  const auto range = ExplorerTilesInBox(14, 35.6, 139.7, 35.7, 139.8);
  ASSERT_TRUE(range);
  EXPECT_EQ(range->xFirst, 14549);
  EXPECT_EQ(range->xLast, 14554);
  EXPECT_EQ(range->yFirst, 6450);
  EXPECT_EQ(range->yLast, 6456);
  const ExplorerTileBounds edges = ExplorerTileEdges(14, {range->xFirst, range->yFirst});
  EXPECT_LE(edges.west, 139.7);
  EXPECT_GT(edges.east, 139.7);
  EXPECT_GE(edges.north, 35.7);
  EXPECT_LT(edges.south, 35.7);
  const auto world = ExplorerTilesInBox(2, -90, -180, 90, 180);
  ASSERT_TRUE(world);
  EXPECT_EQ(world->xFirst, 0);
  EXPECT_EQ(world->xLast, 3);
  EXPECT_EQ(world->yFirst, 0);
  EXPECT_EQ(world->yLast, 3);
  EXPECT_FALSE(ExplorerTilesInBox(14, 86, 0, 89, 1));
}

}  // namespace
}  // namespace roamgrid
