#include "geo/tile_sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

namespace roamgrid {
namespace {

constexpr int kSide = kMapTilePixels;

Argb Opaque(int r, int g, int b) { return 0xFF000000u | Argb(r) << 16 | Argb(g) << 8 | Argb(b); }
int Red(Argb p) { return int(p >> 16 & 0xFF); }
int Green(Argb p) { return int(p >> 8 & 0xFF); }

// Tiles of a view made by `paint`, which gives the colour of a global tile
// pixel (x wrapped into the world).
class TileSet {
 public:
  TileSet(const ViewTileMap& map, std::function<Argb(int64_t, int64_t)> paint) {
    for (const MapTileKey& key : map.tiles) {
      std::vector<Argb>& pixels = tiles_[key];
      pixels.resize(kSide * kSide);
      for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
          pixels[y * kSide + x] = paint(int64_t{key.x} * kSide + x, int64_t{key.y} * kSide + y);
        }
      }
    }
  }
  void Remove(const MapTileKey& key) { tiles_.erase(key); }
  std::function<const Argb*(const MapTileKey&)> Lookup() const {
    return [this](const MapTileKey& key) -> const Argb* {
      const auto found = tiles_.find(key);
      return found == tiles_.end() ? nullptr : found->second.data();
    };
  }

 private:
  std::map<MapTileKey, std::vector<Argb>> tiles_;
};

std::vector<Argb> Compose(const ViewTileMap& map, const TileSet& tiles, bool* complete = nullptr) {
  std::vector<Argb> out(kRasterSize, 0xDEADBEEF);
  const bool whole = ComposeViewTiles(map, tiles.Lookup(), out.data());
  if (complete) *complete = whole;
  return out;
}

// The view pixel (view row 0 at the south) in the composed image.
Argb At(const std::vector<Argb>& out, int viewRow, int column) {
  return out[size_t(kRasterSide - 1 - viewRow) * kRasterSide + size_t(column)];
}

TEST(TileSamplingTest, LinearRampsComeThroughEnlargedOrShrunk) {
  // A ramp in both directions is what bilinear (and a symmetric tent)
  // reproduces exactly; nearest-neighbour would step by whole tile pixels.
  for (const int tileZoom : {13, 15}) {  // at the default home: enlarged 1.25-1.5, shrunk 0.3-0.4
    const ViewTileMap map = MapViewToTiles(14260, 55900, 1, tileZoom);
    const double x0 = std::floor(map.colAt.front()) - 2;
    const double y0 = std::floor(map.rowAt.back()) - 2;  // row 447 is the north edge
    const double across = (map.colAt.back() - x0 + 2) / 250,
                 down = (map.rowAt.front() - y0 + 2) / 250;
    const TileSet tiles(map, [&](int64_t x, int64_t y) {
      const auto ramp = [](double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); };
      return Opaque(ramp((x - x0) / across), ramp((y - y0) / down), 7);
    });
    bool complete = false;
    const std::vector<Argb> out = Compose(map, tiles, &complete);
    EXPECT_TRUE(complete);
    for (int row = 8; row < kRasterSide - 8; row += 13) {
      for (int column = 8; column < kRasterSide - 8; column += 11) {
        const Argb shown = At(out, row, column);
        EXPECT_NEAR(Red(shown), (map.colAt[column] - 0.5 - x0) / across, 1.5)
            << tileZoom << " column " << column;
        EXPECT_NEAR(Green(shown), (map.rowAt[row] - 0.5 - y0) / down, 1.5)
            << tileZoom << " row " << row;
        EXPECT_EQ(shown >> 24, 0xFFu);
      }
    }
  }
}

TEST(TileSamplingTest, ShrunkTilesKeepLinesThinnerThanAViewPixel) {
  // Black lines every third tile pixel, shrunk to 0.39 across: every view
  // pixel's footprint holds line and paper, so every pixel is grey, never
  // the pure black or white a nearest-neighbour sample would pick.
  const ViewTileMap map = MapViewToTiles(14260, 55900, 1, 15);
  const TileSet tiles(
      map, [](int64_t x, int64_t) { return x % 3 == 0 ? Opaque(0, 0, 0) : Opaque(255, 255, 255); });
  const std::vector<Argb> out = Compose(map, tiles);
  int lightest = 0, darkest = 255;
  for (int row = 0; row < kRasterSide; row += 7) {
    for (int column = 0; column < kRasterSide; ++column) {
      lightest = std::max(lightest, Red(At(out, row, column)));
      darkest = std::min(darkest, Red(At(out, row, column)));
    }
  }
  EXPECT_GT(darkest, 30);
  EXPECT_LT(lightest, 225);
}

TEST(TileSamplingTest, MissingTilesLeaveHolesWithoutFadingTheirNeighbours) {
  const ViewTileMap map = MapViewToTiles(14260, 55900, 1, 13);
  TileSet tiles(map, [](int64_t, int64_t) { return Opaque(255, 255, 255); });
  const MapTileKey hole = map.tiles.front();  // under the centre
  tiles.Remove(hole);
  bool complete = true;
  const std::vector<Argb> out = Compose(map, tiles, &complete);
  EXPECT_FALSE(complete);
  int holes = 0;
  for (int row = 0; row < kRasterSide; ++row) {
    for (int column = 0; column < kRasterSide; ++column) {
      const Argb shown = At(out, row, column);
      const bool inHole =
          map.pixelRow[row] / kSide == hole.y && map.pixelCol[column] / kSide == hole.x;
      const double fromEdge = std::min(
          {std::fmod(map.rowAt[row], kSide), kSide - std::fmod(map.rowAt[row], kSide),
           std::fmod(map.colAt[column], kSide), kSide - std::fmod(map.colAt[column], kSide)});
      if (inHole && fromEdge > 1.0) {
        EXPECT_EQ(shown, 0u) << row << "," << column;
        ++holes;
      } else if (!inHole) {
        ASSERT_EQ(shown, Opaque(255, 255, 255)) << row << "," << column;
      }
    }
  }
  EXPECT_GT(holes, 1000);

  // Rows beyond 85.05 N show nothing, and the view is not complete.
  const ViewTileMap polar = MapViewToTiles(84 * 400, 0, 7, 4);
  const TileSet polarTiles(polar, [](int64_t, int64_t) { return Opaque(1, 2, 3); });
  const std::vector<Argb> top = Compose(polar, polarTiles, &complete);
  EXPECT_FALSE(complete);
  EXPECT_EQ(At(top, 447, 100), 0u);
  EXPECT_EQ(At(top, 0, 100), Opaque(1, 2, 3));
}

TEST(TileSamplingTest, ColumnsWrapAcross180Degrees) {
  // 179.975 E to 179.975 W at zoom 13: tile column 8191, then column 0.
  const ViewTileMap map = MapViewToTiles(14260, 71990, 1, 13);
  const TileSet tiles(map, [](int64_t x, int64_t) {
    return x / kSide == 0 ? Opaque(0, 0, 255) : Opaque(255, 0, 0);
  });
  const AxisTaps columns = ColumnTaps(map);
  for (const SampleTap& tap : columns.taps) {
    EXPECT_TRUE(tap.pixel / kSide == 8191 || tap.pixel / kSide == 0) << tap.pixel;
  }
  bool complete = false;
  const std::vector<Argb> out = Compose(map, tiles, &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(At(out, 200, 10), Opaque(255, 0, 0));
  EXPECT_EQ(At(out, 200, 437), Opaque(0, 0, 255));
  // Each row's and column's shares add up to one.
  for (int i = 0; i < kRasterSide; ++i) {
    float sum = 0;
    for (uint32_t t = columns.first[i]; t < columns.first[i + 1]; ++t)
      sum += columns.taps[t].weight;
    EXPECT_NEAR(sum, 1.0f, 1e-5f) << i;
  }
}

}  // namespace
}  // namespace roamgrid
