#include "geo/mercator_tiles.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace roamgrid {
namespace {

// A screen coordinate rounded to the nearest pixel edge, held well inside
// int even for tiles far off screen.
int ScreenEdge(double screen) {
  return static_cast<int>(std::clamp(std::floor(screen + 0.5), -1e9, 1e9));
}

}  // namespace

MercatorTilePlan PlanMercatorTiles(const MercatorView& view, int minZoom, int maxZoom,
                                   size_t maxTiles) {
  MercatorTilePlan plan;
  plan.zoom = TileZoomForNativeZoom(view.zoom, minZoom, maxZoom);
  if (view.width <= 0 || view.height <= 0 || !std::isfinite(view.Scale())) return plan;
  const double tiles = std::ldexp(1.0, plan.zoom);  // tiles across the world
  const double colFirst = std::floor(view.WorldX(0) * tiles);
  const double colEnd = std::ceil(view.WorldX(view.width) * tiles);
  const double rowFirst = std::max(0.0, std::floor(view.WorldY(0) * tiles));
  const double rowEnd = std::min(tiles, std::ceil(view.WorldY(view.height) * tiles));
  if (!(colEnd > colFirst) || !(rowEnd > rowFirst)) return plan;
  if ((colEnd - colFirst) * (rowEnd - rowFirst) > double(maxTiles)) return plan;

  std::vector<std::pair<double, PlacedTile>> byDistance;
  const double middleX = view.width / 2.0, middleY = view.height / 2.0;
  for (double row = rowFirst; row < rowEnd; ++row) {
    const int top = ScreenEdge(view.ScreenY(row / tiles));
    const int bottom = ScreenEdge(view.ScreenY((row + 1) / tiles));
    if (bottom <= std::max(top, 0) || top >= view.height) continue;
    for (double col = colFirst; col < colEnd; ++col) {
      const int left = ScreenEdge(view.ScreenX(col / tiles));
      const int right = ScreenEdge(view.ScreenX((col + 1) / tiles));
      if (right <= std::max(left, 0) || left >= view.width) continue;
      const int64_t x = WrapWorldPixel(static_cast<int64_t>(col), static_cast<int64_t>(tiles));
      const PlacedTile placed{
          {plan.zoom, static_cast<int>(x), static_cast<int>(row)}, left, top, right, bottom};
      const double distance =
          std::hypot((left + right) / 2.0 - middleX, (top + bottom) / 2.0 - middleY);
      byDistance.push_back({distance, placed});
    }
  }
  std::stable_sort(byDistance.begin(), byDistance.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [distance, placed] : byDistance) {
    plan.placed.push_back(placed);
    if (std::find(plan.keys.begin(), plan.keys.end(), placed.key) == plan.keys.end()) {
      plan.keys.push_back(placed.key);
    }
  }
  return plan;
}

CoveringPart CoveringTile(const MapTileKey& tile, int levels) {
  const int up = std::clamp(levels, 0, std::max(tile.zoom, 0));
  CoveringPart part;
  part.key = {tile.zoom - up, tile.x >> up, tile.y >> up};
  part.side = double(kMapTilePixels) / (1 << up);
  part.x = (tile.x - (part.key.x << up)) * part.side;
  part.y = (tile.y - (part.key.y << up)) * part.side;
  return part;
}

}  // namespace roamgrid
