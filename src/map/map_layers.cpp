#include "map/map_layers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "map/cell_placement.h"
#include "tiles/grid_units.h"

namespace roamgrid {

namespace {

// Explored tiles' grid lines only where a tile is this many pixels wide.
constexpr double kGridFromPixels = 8.0;
constexpr int kOutlineWidth = 2;

// Makes `image` the view's size, cleared, unless it is already.
void Prepare(const ScreenGrid& grid, RgbaImage& image) {
  if (image.width != grid.width || image.height != grid.height)
    image.Reset(grid.width, grid.height);
}

// The first screen column whose centre lies at or east of world x, and row
// at or south of world y (clamped to the screen's edges).
int ScreenEdgeX(const ScreenGrid& grid, double worldX) {
  return int(
      std::ceil(std::clamp(worldX * grid.scale - grid.originX - 0.5, 0.0, double(grid.width))));
}
int ScreenEdgeY(const ScreenGrid& grid, double worldY) {
  return int(
      std::ceil(std::clamp(worldY * grid.scale - grid.originY - 0.5, 0.0, double(grid.height))));
}

void FillRect(RgbaImage& image, int x0, int y0, int x1, int y1, Rgba colour) {
  for (int y = std::max(y0, 0); y < std::min(y1, image.height); ++y)
    image.BlendSpan(x0, x1, y, colour);
}

// The world copies a grid shows: wraps from the first to the last.
std::pair<int64_t, int64_t> Wraps(const ScreenGrid& grid) {
  return {int64_t(std::floor(grid.originX / grid.scale)),
          int64_t(std::floor((grid.originX + grid.width) / grid.scale))};
}

// One explorer zoom on a view: where its tile edges fall on screen.
struct ExplorerGrid {
  const ScreenGrid& grid;
  int zoom;
  double tiles;  // tiles a side: 2^zoom
  int X(int64_t tileX, int64_t wrap) const {
    return ScreenEdgeX(grid, double(tileX) / tiles + double(wrap));
  }
  int Y(int64_t tileY) const { return ScreenEdgeY(grid, double(tileY) / tiles); }
  double TilePixels() const { return grid.scale / tiles; }
};

void DrawExplorerZoom(const ScreenGrid& grid, int zoom, MarksMap& map, RgbaImage& image, Rgba tint,
                      const ExplorerStyle& style) {
  const ExplorerGrid tiles{grid, zoom, std::ldexp(1.0, zoom)};
  const int64_t count = int64_t{1} << zoom;
  const int64_t yFirst =
      std::clamp<int64_t>(int64_t(std::floor(grid.originY / tiles.TilePixels())), 0, count - 1);
  const int64_t yLast = std::clamp<int64_t>(
      int64_t(std::floor((grid.originY + grid.height) / tiles.TilePixels())), 0, count - 1);
  const auto [wrapFirst, wrapLast] = Wraps(grid);
  // Explored tiles: each covered pixel tinted once, a tile smaller than a
  // pixel tinting the pixel of its centre.
  MaskImage covered(grid.width, grid.height);
  for (int64_t wrap = wrapFirst; wrap <= wrapLast; ++wrap) {
    const double west = std::max(grid.originX / grid.scale - double(wrap), 0.0);
    const double east = std::min((grid.originX + grid.width) / grid.scale - double(wrap), 1.0);
    if (!(west < east)) continue;
    const auto xFirst =
        int32_t(std::clamp<int64_t>(int64_t(std::floor(west * tiles.tiles)), 0, count - 1));
    const auto xLast =
        int32_t(std::clamp<int64_t>(int64_t(std::floor(east * tiles.tiles)), 0, count - 1));
    map.ForEachExploredTile(
        zoom, xFirst, xLast, int32_t(yFirst), int32_t(yLast), [&](ExplorerTile t) {
          int x0 = tiles.X(t.x, wrap), x1 = tiles.X(t.x + 1, wrap);
          int y0 = tiles.Y(t.y), y1 = tiles.Y(t.y + 1);
          if (x0 == x1 || y0 == y1) {
            const double cx = (double(t.x) + 0.5) / tiles.tiles + double(wrap);
            const double cy = (double(t.y) + 0.5) / tiles.tiles;
            x0 = int(std::floor(cx * grid.scale - grid.originX)), x1 = x0 + 1;
            y0 = int(std::floor(cy * grid.scale - grid.originY)), y1 = y0 + 1;
          }
          x0 = std::max(x0, 0), x1 = std::min(x1, grid.width);
          for (int y = std::max(y0, 0); y < std::min(y1, grid.height) && x0 < x1; ++y)
            std::memset(covered.bytes.data() + size_t(y) * size_t(grid.width) + size_t(x0), 1,
                        size_t(x1 - x0));
        });
  }
  PaintMask(covered, tint, image);

  // The grid, where its squares are large enough to see.
  if (tiles.TilePixels() >= kGridFromPixels) {
    const int top = tiles.Y(0), bottom = tiles.Y(count);
    for (int64_t wrap = wrapFirst; wrap <= wrapLast; ++wrap) {
      const int64_t xFrom = std::max<int64_t>(
          int64_t(std::floor((grid.originX / grid.scale - double(wrap)) * tiles.tiles)), 0);
      const int64_t xTo = std::min<int64_t>(
          int64_t(
              std::ceil(((grid.originX + grid.width) / grid.scale - double(wrap)) * tiles.tiles)),
          count);
      for (int64_t x = xFrom; x <= xTo; ++x) {
        const int at = tiles.X(x, wrap);
        if (at < grid.width) FillRect(image, at, top, at + 1, bottom, style.grid);
      }
      const int left = tiles.X(xFrom, wrap), right = tiles.X(xTo, wrap);
      for (int64_t y = yFirst; y <= yLast + 1; ++y) {
        const int at = tiles.Y(y);
        if (at < grid.height) FillRect(image, left, at, right, at + 1, style.grid);
      }
    }
  }

  // The largest square and the largest cluster, outlined.
  const ExplorerLayerData& data = map.Explorer(zoom);
  const auto edge = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t wrap, Rgba colour) {
    // A tile edge from corner (x0, y0) to (x1, y1), drawn inside the
    // tiles south and east of it.
    const int sx0 = tiles.X(x0, wrap), sy0 = tiles.Y(y0);
    if (x0 == x1) {
      FillRect(image, sx0 - kOutlineWidth / 2, sy0, sx0 + (kOutlineWidth + 1) / 2, tiles.Y(y1),
               colour);
    } else {
      FillRect(image, sx0, sy0 - kOutlineWidth / 2, tiles.X(x1, wrap),
               sy0 + (kOutlineWidth + 1) / 2, colour);
    }
  };
  for (int64_t wrap = wrapFirst; wrap <= wrapLast; ++wrap) {
    if (data.summary.maxSquare > 0) {
      const int64_t x0 = data.shapes.squareCorner.x, y0 = data.shapes.squareCorner.y;
      const int64_t side = data.summary.maxSquare;
      edge(x0, y0, x0 + side, y0, wrap, style.square);
      edge(x0, y0 + side, x0 + side, y0 + side, wrap, style.square);
      edge(x0, y0, x0, y0 + side, wrap, style.square);
      edge(x0 + side, y0, x0 + side, y0 + side, wrap, style.square);
    }
    const std::vector<ExplorerTile>& cluster = data.shapes.cluster;
    const auto inCluster = [&](int64_t x, int64_t y) {
      if (x < 0 || y < 0 || x >= count || y >= count) return false;
      const ExplorerTile t{int32_t(x), int32_t(y)};
      return std::binary_search(cluster.begin(), cluster.end(), t, [](auto& a, auto& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
      });
    };
    for (const ExplorerTile& t : cluster) {
      if (t.y < yFirst - 1 || t.y > yLast + 1) continue;
      if (!inCluster(t.x, t.y - 1)) edge(t.x, t.y, t.x + 1, t.y, wrap, style.cluster);
      if (!inCluster(t.x, t.y + 1)) edge(t.x, t.y + 1, t.x + 1, t.y + 1, wrap, style.cluster);
      if (!inCluster(t.x - 1, t.y)) edge(t.x, t.y, t.x, t.y + 1, wrap, style.cluster);
      if (!inCluster(t.x + 1, t.y)) edge(t.x + 1, t.y, t.x + 1, t.y + 1, wrap, style.cluster);
    }
  }
}

}  // namespace

void DrawExplorerLayer(const MercatorView& view, MarksMap& map, RgbaImage& image,
                       const ExplorerStyle& style) {
  const ScreenGrid grid = ScreenGrid::OfView(view);
  Prepare(grid, image);
  DrawExplorerZoom(grid, 14, map, image, style.explored14, style);
  if (grid.zoom >= kExplorer17FromZoom)
    DrawExplorerZoom(grid, 17, map, image, style.explored17, style);
}

void DrawStoreTileGrid(const MercatorView& view, const MarksMap& map, RgbaImage& image,
                       const StoreGridStyle& style) {
  const ScreenGrid grid = ScreenGrid::OfView(view);
  Prepare(grid, image);
  if (grid.zoom < kStoreGridFromZoom || grid.width <= 0 || grid.height <= 0) return;
  const double north = std::max(grid.originY / grid.scale, 0.0);
  const double south = std::min((grid.originY + grid.height) / grid.scale, 1.0);
  if (!(north < south)) return;
  const int64_t latFirst = int64_t(std::floor(LatitudeOfWorldY(south) * 20));
  const int64_t latLast = int64_t(std::floor(LatitudeOfWorldY(north) * 20));
  // Edges of the 0.05-degree squares: a square's west edge is a cell
  // column edge, its south edge a cell row edge.
  const auto rowY = [&](int64_t row) {
    return ScreenEdgeY(grid, MercatorWorldY(double(row) / 20));
  };
  const int top = ScreenEdgeY(grid, north), bottom = ScreenEdgeY(grid, south);
  const auto [wrapFirst, wrapLast] = Wraps(grid);
  for (int64_t wrap = wrapFirst; wrap <= wrapLast; ++wrap) {
    const double west = std::max(grid.originX / grid.scale - double(wrap), 0.0);
    const double east = std::min((grid.originX + grid.width) / grid.scale - double(wrap), 1.0);
    if (!(west < east)) continue;
    const int64_t colFirst = int64_t(std::floor(west * 7200)),
                  colLast = int64_t(std::ceil(east * 7200));
    const auto columnX = [&](int64_t column) {
      return ScreenEdgeX(grid, double(column) / 7200 + double(wrap));
    };
    for (int64_t row = latFirst; row <= latLast; ++row) {
      for (int64_t column = colFirst; column < std::min<int64_t>(colLast, 7200); ++column) {
        const int32_t lonKey = int32_t(kCentiPerTile * (column - 3600));
        if (map.HasTileFile(int32_t(kCentiPerTile * row), lonKey))
          FillRect(image, columnX(column), rowY(row + 1), columnX(column + 1), rowY(row),
                   style.withFile);
      }
    }
    for (int64_t column = colFirst; column <= colLast; ++column) {
      const int at = columnX(column);
      if (at < grid.width) FillRect(image, at, top, at + 1, bottom, style.line);
    }
    const int left = columnX(colFirst), right = columnX(colLast);
    for (int64_t row = latFirst; row <= latLast + 1; ++row) {
      const int at = rowY(row);
      if (at > top && at < bottom) FillRect(image, left, at, right, at + 1, style.line);
    }
  }
}

}  // namespace roamgrid
