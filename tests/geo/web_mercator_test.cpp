#include "geo/web_mercator.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geo/tile_source.h"

namespace roamgrid {
namespace {

TEST(WebMercatorTest, ProjectsLatitudesExactlyAndBack) {
  EXPECT_DOUBLE_EQ(MercatorTileY(0.0, 4), 8.0);
  EXPECT_NEAR(MercatorTileY(kMercatorMaxLat, 3), 0.0, 1e-9);
  EXPECT_NEAR(MercatorTileY(-kMercatorMaxLat, 3), 8.0, 1e-9);
  // 60 N: asinh(tan 60) = 1.3169579, far from a linear stretch of latitude.
  EXPECT_NEAR(MercatorTileY(60.0, 0), (1 - 1.3169578969248166 / M_PI) / 2, 1e-12);
  for (const double lat : {-85.0, -33.9, 0.0, 35.675, 70.0, 85.0}) {
    EXPECT_NEAR(MercatorLatitude(MercatorTileY(lat, 15), 15), lat, 1e-9) << lat;
  }
  EXPECT_DOUBLE_EQ(MercatorTileX(-180.0, 2), 0.0);
  EXPECT_DOUBLE_EQ(MercatorTileX(180.0, 2), 0.0);   // wraps
  EXPECT_DOUBLE_EQ(MercatorTileX(-270.0, 2), 3.0);  // 90 E
  EXPECT_DOUBLE_EQ(MercatorTileX(139.75, 0), (139.75 + 180) / 360);
}

TEST(WebMercatorTest, MapViewPlacesWorldPositionsAroundItsCentre) {
  // Zoom 1 at 512 x 300: the world is 512 pixels wide, its centre mid-screen.
  const MercatorView view{0.5, 0.5, 1.0, 512, 300};
  EXPECT_DOUBLE_EQ(view.Scale(), 512.0);
  EXPECT_DOUBLE_EQ(view.ScreenX(0.0), 0.0);
  EXPECT_DOUBLE_EQ(view.ScreenY(0.5), 150.0);
  EXPECT_DOUBLE_EQ(view.WorldX(view.ScreenX(0.3125)), 0.3125);
  EXPECT_DOUBLE_EQ(view.WorldY(view.ScreenY(0.75)), 0.75);
  // Tokyo at zoom 12 lies in the tile a slippy map gives it (3638, 1612).
  EXPECT_EQ(int(MercatorWorldX(139.76) * 4096), 3638);
  EXPECT_EQ(int(MercatorWorldY(35.68) * 4096), 1612);
  EXPECT_NEAR(LongitudeOfWorldX(MercatorWorldX(-73.98)), -73.98, 1e-12);
  EXPECT_NEAR(LatitudeOfWorldY(MercatorWorldY(-33.86)), -33.86, 1e-12);
  // Beyond the Mercator square a latitude is held at its edge.
  EXPECT_NEAR(MercatorWorldY(90.0), 0.0, 1e-12);
  EXPECT_NEAR(MercatorWorldY(-89.0), 1.0, 1e-12);
}

TEST(WebMercatorTest, ChoosesTheFinestZoomNotShrunkBelowSevenTenths) {
  // The 448 view: tiles are shrunk most north-south, by cos(latitude).
  struct Case {
    int32_t span;
    double lat;
    int minZoom, maxZoom, expected;
  } cases[] = {
      {10, 0.0, 0, 22, 15},      // 0.025 degrees at the equator: 0.77 both ways
      {10, 35.675, 0, 22, 14},   // Tokyo: zoom 15 would be 0.62 down the view
      {20, 35.675, 0, 22, 13},   // the default home: 1.25 down, 1.54 across
      {20, -35.675, 0, 22, 13},  // the south alike
      {20, 20.0, 0, 22, 14},     // 0.72 down
      {20, 60.0, 0, 22, 13},     // 0.77 down, 1.54 across
      {1280, 35.675, 0, 22, 7},  // 3.2 degrees
      {1280, 89.0, 0, 22, 4},    // beyond the Mercator square: as at its edge
      {10, 0.0, 0, 12, 12},      // the source stops at 12: its tiles are enlarged
      {1280, 0.0, 10, 18, 10},   // the source starts at 10: shrunk
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseTileZoom(c.span, c.lat, c.minZoom, c.maxZoom), c.expected)
        << c.span << " at " << c.lat;
  }
  // A Web Mercator view: whole zooms show tiles at their size, a half step
  // above shows the finer tiles at 0.71, and the source's range holds.
  struct Native {
    double zoom;
    int minZoom, maxZoom, expected;
  } natives[] = {
      {12.0, 0, 22, 12}, {12.48, 0, 22, 12}, {12.5, 0, 22, 13}, {12.99, 0, 22, 13},
      {0.0, 0, 22, 0},   {-3.0, 0, 22, 0},   {30.0, 0, 22, 22}, {12.5, 14, 22, 14},
      {12.5, 0, 9, 9},   {12.5, 9, 3, 9},  // a range upside down keeps its minimum
  };
  for (const Native& n : natives) {
    EXPECT_EQ(TileZoomForNativeZoom(n.zoom, n.minZoom, n.maxZoom), n.expected) << n.zoom;
  }
  EXPECT_EQ(TileZoomForNativeZoom(std::nan(""), 3, 9), 3);
}

TEST(WebMercatorTest, MapsViewPixelsToTilePixels) {
  // Default home (35.65 N, 139.75 E, 0.05 degrees) at zoom 14.
  const ViewTileMap map = MapViewToTiles(14260, 55900, 1, 14);
  const double north = (14260 + 447.5 * 20 / 448.0) / 400;
  EXPECT_EQ(map.pixelRow[447], static_cast<int32_t>(std::floor(MercatorTileY(north, 14) * 256)));
  EXPECT_EQ(map.pixelCol[0],
            static_cast<int32_t>(std::floor(MercatorTileX(139.75 + 0.5 / 448 * 0.05, 14) * 256)));
  EXPECT_GT(map.pixelRow[0], map.pixelRow[447]);  // south is further down the tiles
  ASSERT_FALSE(map.tiles.empty());
  const MapTileKey centre{14, map.pixelCol[224] / 256, map.pixelRow[224] / 256};
  EXPECT_EQ(map.tiles.front(), centre);
  EXPECT_EQ(map.tiles.size(), 12u);  // 3 columns; 4 rows, Mercator is taller at 35 N
}

TEST(WebMercatorTest, RowsBeyondTheMercatorLimitShowNothing) {
  // 3.2 degree view from 84 N: rows above 85.0511 N have no tile.
  const ViewTileMap map = MapViewToTiles(84 * 400, 0, 7, 8);
  const int firstCut = static_cast<int>(std::ceil((kMercatorMaxLat - 84) / 3.2 * 448 - 0.5));
  EXPECT_GE(map.pixelRow[firstCut - 1], 0);  // near the top of the top tile row
  EXPECT_LT(map.pixelRow[firstCut - 1], 20);
  EXPECT_EQ(map.pixelRow[firstCut], -1);
  EXPECT_EQ(map.pixelRow[447], -1);
  for (const MapTileKey& tile : map.tiles) EXPECT_LE(tile.y, MercatorTileY(84.0, 8));
  // A view wholly beyond the poles needs no tile at all.
  EXPECT_TRUE(MapViewToTiles(40000, 0, 7, 8).tiles.empty());
}

TEST(TileSourceTest, ParsesSourcesAndBuildsUrls) {
  struct Case {
    const char* text;
    TileSource::Kind kind;
    const char* url;  // of tile 3/5/2, or the error
  } cases[] = {
      {"  ", TileSource::Kind::kNone, ""},
      {"maps/town.mbtiles", TileSource::Kind::kMbtiles, ""},
      {"http://127.0.0.1:8080/{z}/{x}/{y}.png", TileSource::Kind::kUrlTemplate,
       "http://127.0.0.1:8080/3/5/2.png"},
      {"HTTPS://t.example/{z}/{x}/{-y}.png?key=k", TileSource::Kind::kUrlTemplate,
       "HTTPS://t.example/3/5/5.png?key=k"},
      {"https://{s}.t.example/{z}/{x}/{y}.png", TileSource::Kind::kUrlTemplate,
       "https://b.t.example/3/5/2.png"},
      {"https://{s:p,q}.t.example/{z}/{x}/{y}", TileSource::Kind::kUrlTemplate,
       "https://q.t.example/3/5/2"},
      {"https://t.example/{z}/{x}.png", TileSource::Kind::kNone,
       "the tile URL needs {z}, {x} and {y}"},
      {"https://{s:a,}.t/{z}/{x}/{y}", TileSource::Kind::kNone,
       "empty name in the {s:...} list of the tile URL"},
  };
  for (const Case& c : cases) {
    TileSource source;
    std::string error;
    const bool ok = ParseTileSource(c.text, source, error);
    EXPECT_EQ(source.kind, c.kind) << c.text;
    if (!ok) {
      EXPECT_EQ(error, c.url) << c.text;
    } else if (source.kind == TileSource::Kind::kUrlTemplate) {
      EXPECT_EQ(TileUrl(source, {3, 5, 2}), c.url) << c.text;
    }
  }
}

}  // namespace
}  // namespace roamgrid
