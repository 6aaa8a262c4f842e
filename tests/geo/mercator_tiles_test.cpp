#include "geo/mercator_tiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace roamgrid {
namespace {

TEST(MercatorTilesTest, WholeZoomPlacesTilesAtTheirSizeNearestTheCentreFirst) {
  // Zoom 12, centred on the corner of tiles 3638/3639 and 1612/1613.
  const MercatorView view{3639.0 / 4096, 1613.0 / 4096, 12.0, 512, 512};
  const MercatorTilePlan plan = PlanMercatorTiles(view, 0, 19, 100);
  EXPECT_EQ(plan.zoom, 12);
  ASSERT_EQ(plan.placed.size(), 4u);
  const std::set<std::pair<int, int>> corners = {{0, 0}, {256, 0}, {0, 256}, {256, 256}};
  for (const PlacedTile& tile : plan.placed) {
    EXPECT_EQ(tile.right - tile.left, 256);
    EXPECT_EQ(tile.bottom - tile.top, 256);
    EXPECT_TRUE(corners.count({tile.left, tile.top}));
    EXPECT_EQ(tile.key.x, 3638 + tile.left / 256);
    EXPECT_EQ(tile.key.y, 1612 + tile.top / 256);
  }
  EXPECT_EQ(plan.keys.size(), 4u);

  // Off the corner, at 1280 x 800: the tile under the centre comes first,
  // and every tile that touches the screen is there.
  const MercatorView wide{(3638.3) / 4096, (1612.6) / 4096, 12.0, 1280, 800};
  const MercatorTilePlan widePlan = PlanMercatorTiles(wide, 0, 19, 100);
  ASSERT_FALSE(widePlan.placed.empty());
  EXPECT_EQ(widePlan.placed.front().key, (MapTileKey{12, 3638, 1612}));
  EXPECT_EQ(widePlan.placed.size(), 6u * 4u);  // columns 3635.8-3640.8, rows 1611.0-1614.2
  for (size_t i = 1; i < widePlan.placed.size(); ++i) {
    const auto distance = [&](const PlacedTile& t) {
      return std::hypot((t.left + t.right) / 2.0 - 640, (t.top + t.bottom) / 2.0 - 400);
    };
    EXPECT_LE(distance(widePlan.placed[i - 1]), distance(widePlan.placed[i]));
  }
}

TEST(MercatorTilesTest, BetweenZoomsScaledTilesAbutWithoutGaps) {
  const MercatorView view{0.81234, 0.39321, 12.5, 1000, 700};
  const MercatorTilePlan plan = PlanMercatorTiles(view, 0, 19, 200);
  EXPECT_EQ(plan.zoom, 13);  // shown at 0.71, not the zoom 12 tiles at 1.41
  ASSERT_FALSE(plan.placed.empty());
  // Every screen pixel lies in exactly one tile.
  std::vector<int> cover(size_t(view.width) * size_t(view.height), 0);
  for (const PlacedTile& tile : plan.placed) {
    EXPECT_NEAR(tile.right - tile.left, 256 / std::sqrt(2.0), 1.0);
    for (int y = std::max(tile.top, 0); y < std::min(tile.bottom, view.height); ++y) {
      for (int x = std::max(tile.left, 0); x < std::min(tile.right, view.width); ++x) {
        ++cover[size_t(y) * size_t(view.width) + size_t(x)];
      }
    }
  }
  EXPECT_TRUE(std::all_of(cover.begin(), cover.end(), [](int n) { return n == 1; }));
}

TEST(MercatorTilesTest, EdgesOfTheWorldAndLimits) {
  // A world narrower than the window repeats across it; rows stop at the
  // Mercator square.
  const MercatorTilePlan world = PlanMercatorTiles({0.5, 0.5, 0.0, 1280, 800}, 0, 19, 100);
  EXPECT_EQ(world.zoom, 0);
  EXPECT_EQ(world.keys, (std::vector<MapTileKey>{{0, 0, 0}}));
  EXPECT_EQ(world.placed.size(), 5u);  // 1280 pixels: five worlds of 256
  for (const PlacedTile& tile : world.placed) {
    EXPECT_EQ(tile.top, 272);
    EXPECT_EQ(tile.bottom, 528);
  }
  // Across 180 degrees the columns wrap.
  const MercatorTilePlan across = PlanMercatorTiles({0.0, 0.5, 3.0, 1024, 256}, 0, 19, 100);
  std::set<int> columns;
  for (const MapTileKey& key : across.keys) columns.insert(key.x);
  EXPECT_EQ(columns, (std::set<int>{6, 7, 0, 1}));
  // At the north edge of the square no row lies above it.
  const MercatorTilePlan north = PlanMercatorTiles({0.3, 0.0, 5.0, 512, 512}, 0, 19, 100);
  ASSERT_FALSE(north.placed.empty());
  for (const PlacedTile& tile : north.placed) {
    EXPECT_EQ(tile.key.y, (tile.top - 256) / 256);  // the square's edge mid-screen
    EXPECT_GE(tile.top, 256);
  }
  // The source's range, and what it cannot show.
  EXPECT_EQ(PlanMercatorTiles({0.5, 0.5, 17.2, 800, 600}, 0, 15, 100).zoom, 15);
  const MercatorTilePlan tooFine = PlanMercatorTiles({0.5, 0.5, 2.0, 800, 600}, 14, 18, 600);
  EXPECT_EQ(tooFine.zoom, 14);
  EXPECT_TRUE(tooFine.placed.empty());
  EXPECT_TRUE(tooFine.keys.empty());
  EXPECT_TRUE(PlanMercatorTiles({0.5, 0.5, 3.0, 0, 600}, 0, 18, 600).placed.empty());
  EXPECT_TRUE(PlanMercatorTiles({0.5, 0.5, 3.0, 800, -1}, 0, 18, 600).placed.empty());
}

TEST(MercatorTilesTest, CoarserTilesCoverFinerOnes) {
  struct Case {
    MapTileKey tile;
    int levels;
    MapTileKey key;
    double x, y, side;
  } cases[] = {
      {{5, 13, 7}, 0, {5, 13, 7}, 0, 0, 256},
      {{5, 13, 7}, 1, {4, 6, 3}, 128, 128, 128},
      {{5, 13, 7}, 2, {3, 3, 1}, 64, 192, 64},
      {{2, 3, 0}, 9, {0, 0, 0}, 192, 0, 64},  // no further up than zoom 0
  };
  for (const Case& c : cases) {
    const CoveringPart part = CoveringTile(c.tile, c.levels);
    EXPECT_EQ(part.key, c.key) << c.levels;
    EXPECT_EQ(part.x, c.x) << c.levels;
    EXPECT_EQ(part.y, c.y) << c.levels;
    EXPECT_EQ(part.side, c.side) << c.levels;
  }
}

}  // namespace
}  // namespace roamgrid
