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

int ChooseTileZoom(int32_t spanGrid, int minZoom, int maxZoom) {
  // Equal widths: 360 / (256 * 2^z) degrees per tile pixel against
  // span / 400 / 448 degrees per view pixel; rounded in the log, so tile
  // pixels are 0.7 to 1.4 view pixels wide.
  const double span = std::max<int32_t>(spanGrid, 1);
  const double ideal = std::log2(360.0 * kGridPerDegree * kRasterSide / (kMapTilePixels * span));
  const int zoom = static_cast<int>(std::lround(ideal));
  return std::clamp(zoom, std::max(minZoom, 0), std::min(maxZoom, kMaxMapTileZoom));
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
  for (int at = 0; at < kRasterSide; ++at) {
    const double offset = (at + 0.5) * span / kRasterSide;
    const double lat = (originLat + offset) / kGridPerDegree;
    map.pixelRow[at] =
        std::fabs(lat) > kMercatorMaxLat ? -1 : toPixel(MercatorTileY(lat, map.zoom));
    map.pixelCol[at] = toPixel(MercatorTileX((originLon + offset) / kGridPerDegree, map.zoom));
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
