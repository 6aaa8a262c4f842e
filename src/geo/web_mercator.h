// Web Mercator map tiles (the XYZ scheme: zoom z has 2^z x 2^z tiles of
// 256 x 256 pixels, x from 180 W eastward, y from the north edge at
// 85.0511 N southward) seen from the plate carree view of the grid: which
// tile pixel each view pixel shows, which tile zoom suits a view and which
// tiles a view needs.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "view/view_state.h"

namespace roamgrid {

constexpr int kMapTilePixels = 256;  // side of a map tile in tile pixels
constexpr int kMaxMapTileZoom = 22;  // deepest zoom any source is asked for
// The largest tile any source may give (encoded bytes); a larger one is
// not read, not kept and not shown.
constexpr int kMaxMapTileBytes = 4 << 20;
// Latitude (degrees) of the north and south edges of the Web Mercator
// square: atan(sinh(pi)). A view row beyond it has no tile.
constexpr double kMercatorMaxLat = 85.05112877980659;

// One map tile in the XYZ scheme.
struct MapTileKey {
  int zoom = 0;
  int x = 0;  // 0 .. 2^zoom - 1, west to east
  int y = 0;  // 0 .. 2^zoom - 1, north to south
  bool operator==(const MapTileKey&) const = default;
  auto operator<=>(const MapTileKey&) const = default;
};

// Fractional tile coordinates of a position at `zoom`: x of longitude
// `lonDeg` (any value; wrapped into -180..180) and y of latitude `latDeg`
// (within +-kMercatorMaxLat), both in tiles from the west / north edge.
double MercatorTileX(double lonDeg, int zoom);
double MercatorTileY(double latDeg, int zoom);
// `pixel` (or a tile column) wrapped round a world `worldPixels` wide into
// 0 .. worldPixels - 1.
int64_t WrapWorldPixel(int64_t pixel, int64_t worldPixels);
// Inverse of MercatorTileY: the latitude (degrees) at tile row coordinate y.
double MercatorLatitude(double tileY, int zoom);

// A view of the Web Mercator plane as the map window shows it: a centre, a
// fractional zoom and a size in screen pixels. World coordinates run from 0
// to 1: x from 180 W eastward, y from the north edge of the Mercator square
// southward; at zoom z the world is 256 x 2^z screen pixels wide, so base
// tiles show at their native size at whole zooms. Screen pixel (0, 0) is
// the top-left corner; the centre lies at (width / 2, height / 2).
struct MercatorView {
  double centerX = 0.5;  // world x of the centre, 0..1
  double centerY = 0.5;  // world y of the centre, 0..1
  double zoom = 0;       // 0 .. kMaxMapTileZoom, fractions allowed
  int width = 0;         // screen pixels
  int height = 0;

  // Screen pixels per world unit: 256 x 2^zoom.
  double Scale() const;
  // Screen position of a world position, and back (no wrapping).
  double ScreenX(double worldX) const;
  double ScreenY(double worldY) const;
  double WorldX(double screenX) const;
  double WorldY(double screenY) const;
};

// World coordinates (0..1) of a longitude (any value; wrapped into
// -180..180) and of a latitude (clamped to +-kMercatorMaxLat), and back.
double MercatorWorldX(double lonDeg);
double MercatorWorldY(double latDeg);
double LongitudeOfWorldX(double worldX);
double LatitudeOfWorldY(double worldY);

// Tiles are never drawn shrunk below this scale (screen pixels per tile
// pixel): a view takes the finest tile zoom whose tiles show at least this
// large. Just under 1/sqrt(2), so a view half a zoom step above a whole zoom
// shows the finer tiles (at 0.71), and tiles show at 0.7 to 1.4 times their
// size where the source has the zoom.
constexpr double kMinTileScale = 0.7;

// The tile zoom for a view whose tiles would show at exactly their size at
// the fractional zoom `nativeZoom`: the largest whole zoom whose tiles are
// drawn at kMinTileScale or more, clamped to minZoom..maxZoom and to
// 0..kMaxMapTileZoom.
int TileZoomForNativeZoom(double nativeZoom, int minZoom, int maxZoom);

// The tile zoom for the 448-pixel view `spanGrid` grid units wide around
// latitude `centreLatDeg`. Mercator stretches tiles north-south by
// 1/cos(latitude) against the degree grid, so tiles are shrunk more
// vertically than across; the zoom is chosen by the vertical scale, so that
// neither way is below kMinTileScale.
int ChooseTileZoom(int32_t spanGrid, double centreLatDeg, int minZoom, int maxZoom);

// Which tile pixel each pixel of a view shows at one tile zoom. Rows and
// columns are global tile pixels at `zoom` (tile = pixel / 256); -1 marks a
// view row beyond +-kMercatorMaxLat, which shows nothing. Columns wrap round
// the globe.
struct ViewTileMap {
  int zoom = 0;
  std::array<int32_t, kRasterSide> pixelRow{};  // by view row, row 0 at the south edge
  std::array<int32_t, kRasterSide> pixelCol{};  // by view column, column 0 at the west edge
  // The same positions before rounding down to a pixel, in global tile
  // pixels (a pixel's centre lies at its index + 0.5). Columns are not
  // wrapped: they grow eastward even across 180 degrees, from a first one
  // within the world. Rows whose pixelRow is -1 hold no position.
  std::array<double, kRasterSide> rowAt{};
  std::array<double, kRasterSide> colAt{};
  std::vector<MapTileKey> tiles;  // every tile a pixel shows, nearest the centre first
};

// Maps the view whose south-west corner is (originLat, originLon) grid units
// at zoom index `zoomIndex` (clamped to 0..7) onto tiles at `tileZoom`
// (clamped to 0..kMaxMapTileZoom). Each view pixel takes the tile pixel
// under its centre, with the exact Mercator formula per row.
ViewTileMap MapViewToTiles(int32_t originLat, int32_t originLon, int zoomIndex, int tileZoom);

}  // namespace roamgrid
