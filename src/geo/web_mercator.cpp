#include "geo/web_mercator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tiles/grid_units.h"

namespace roamgrid {
namespace {

// A run of view rows or columns that show one tile row or column.
struct TileRun {
  int32_t tile;
  double middle;  // middle view row or column of the run
};

// The runs of equal tile indices along `pixels` (-1 entries skipped).
std::vector<TileRun> TileRuns(const std::array<int32_t, kRasterSide>& pixels) {
  std::vector<TileRun> runs;
  int first = -1;
  for (int at = 0; at <= kRasterSide; ++at) {
    const int32_t tile = at < kRasterSide && pixels[at] >= 0 ? pixels[at] / kMapTilePixels : -1;
    if (first >= 0 && (at == kRasterSide || tile != pixels[first] / kMapTilePixels)) {
      runs.push_back({pixels[first] / kMapTilePixels, (first + at - 1) / 2.0});
      first = -1;
    }
    if (first < 0 && tile >= 0) first = at;
  }
  return runs;
}

}  // namespace

int64_t WrapWorldPixel(int64_t pixel, int64_t worldPixels) {
  const int64_t wrapped = pixel % worldPixels;
  return wrapped < 0 ? wrapped + worldPixels : wrapped;
}

double MercatorTileX(double lonDeg, int zoom) {
  double east = std::fmod(lonDeg + 180.0, 360.0);
  if (east < 0) east += 360.0;
  return east / 360.0 * std::ldexp(1.0, zoom);
}

// The explorer tiles of the store count on these to the bit: the
// operations stay in this order.
double MercatorTileY(double latDeg, int zoom) {
  const double lat = latDeg * std::numbers::pi / 180.0;
  return (1.0 - std::asinh(std::tan(lat)) / std::numbers::pi) / 2.0 * std::ldexp(1.0, zoom);
}

double MercatorLatitude(double tileY, int zoom) {
  const double n = std::numbers::pi * (1.0 - 2.0 * tileY / std::ldexp(1.0, zoom));
  return std::atan(std::sinh(n)) * 180.0 / std::numbers::pi;
}

double MercatorView::Scale() const { return kMapTilePixels * std::exp2(zoom); }
double MercatorView::ScreenX(double worldX) const {
  return (worldX - centerX) * Scale() + width / 2.0;
}
double MercatorView::ScreenY(double worldY) const {
  return (worldY - centerY) * Scale() + height / 2.0;
}
double MercatorView::WorldX(double screenX) const {
  return (screenX - width / 2.0) / Scale() + centerX;
}
double MercatorView::WorldY(double screenY) const {
  return (screenY - height / 2.0) / Scale() + centerY;
}

double MercatorWorldX(double lonDeg) { return MercatorTileX(lonDeg, 0); }

double MercatorWorldY(double latDeg) {
  return MercatorTileY(std::clamp(latDeg, -kMercatorMaxLat, kMercatorMaxLat), 0);
}

double LongitudeOfWorldX(double worldX) { return worldX * 360.0 - 180.0; }

double LatitudeOfWorldY(double worldY) { return MercatorLatitude(worldY, 0); }

int TileZoomForNativeZoom(double nativeZoom, int minZoom, int maxZoom) {
  // Tiles of zoom t show at 2^(nativeZoom - t); the largest t with that at
  // least kMinTileScale.
  const double finest = std::floor(nativeZoom - std::log2(kMinTileScale));
  const int low = std::clamp(minZoom, 0, kMaxMapTileZoom);
  const int high = std::clamp(maxZoom, low, kMaxMapTileZoom);
  if (!(finest >= low)) return low;  // NaN included
  return finest >= high ? high : static_cast<int>(finest);
}

int ChooseTileZoom(int32_t spanGrid, double centreLatDeg, int minZoom, int maxZoom) {
  // Across: 360 / (256 * 2^z) degrees per tile pixel against span / 400 /
  // 448 degrees per view pixel. Down the view a tile pixel spans cos(lat)
  // times fewer degrees of latitude.
  const double span = std::max<int32_t>(spanGrid, 1);
  const double across = std::log2(360.0 * kGridPerDegree * kRasterSide / (kMapTilePixels * span));
  const double lat = std::clamp(centreLatDeg, -kMercatorMaxLat, kMercatorMaxLat);
  return TileZoomForNativeZoom(across + std::log2(std::cos(lat * std::numbers::pi / 180.0)), minZoom, maxZoom);
}

ViewTileMap MapViewToTiles(int32_t originLat, int32_t originLon, int zoomIndex, int tileZoom) {
  ViewTileMap map;
  map.zoom = std::clamp(tileZoom, 0, kMaxMapTileZoom);
  const double span = kZoomSpans[std::clamp(zoomIndex, kMinZoomIndex, kMaxZoomIndex)];
  const int64_t worldPixels = int64_t{kMapTilePixels} << map.zoom;  // at most 2^30
  const auto toPixel = [&](double tiles) {
    return static_cast<int32_t>(std::clamp<int64_t>(
        static_cast<int64_t>(std::floor(tiles * kMapTilePixels)), 0, worldPixels - 1));
  };
  // Columns are linear in longitude: the first one wrapped into the world,
  // the others a fixed step further east.
  const double firstCol =
      MercatorTileX((originLon + 0.5 * span / kRasterSide) / kGridPerDegree, map.zoom) *
      kMapTilePixels;
  const double colStep = span / kRasterSide / kGridPerDegree / 360.0 * double(worldPixels);
  for (int at = 0; at < kRasterSide; ++at) {
    const double offset = (at + 0.5) * span / kRasterSide;
    const double lat = (originLat + offset) / kGridPerDegree;
    const bool beyond = std::fabs(lat) > kMercatorMaxLat;
    map.rowAt[at] = beyond ? -1.0 : MercatorTileY(lat, map.zoom) * kMapTilePixels;
    map.pixelRow[at] = beyond ? -1 : toPixel(map.rowAt[at] / kMapTilePixels);
    map.colAt[at] = firstCol + at * colStep;
    map.pixelCol[at] = static_cast<int32_t>(
        WrapWorldPixel(static_cast<int64_t>(std::floor(map.colAt[at])), worldPixels));
  }
  const std::vector<TileRun> rows = TileRuns(map.pixelRow);
  std::vector<TileRun> cols = TileRuns(map.pixelCol);
  // A view is far narrower than the globe, so a tile column shows at most
  // once; the sort keeps that true whatever the columns hold.
  std::sort(cols.begin(), cols.end(), [](auto& a, auto& b) { return a.tile < b.tile; });
  cols.erase(
      std::unique(cols.begin(), cols.end(), [](auto& a, auto& b) { return a.tile == b.tile; }),
      cols.end());
  std::vector<std::pair<double, MapTileKey>> byDistance;
  constexpr double kMiddle = (kRasterSide - 1) / 2.0;
  for (const TileRun& row : rows) {
    for (const TileRun& col : cols) {
      const double distance = std::hypot(row.middle - kMiddle, col.middle - kMiddle);
      byDistance.push_back({distance, MapTileKey{map.zoom, col.tile, row.tile}});
    }
  }
  std::stable_sort(byDistance.begin(), byDistance.end(),
                   [](auto& a, auto& b) { return a.first < b.first; });
  for (const auto& entry : byDistance) map.tiles.push_back(entry.second);
  return map;
}

}  // namespace roamgrid
