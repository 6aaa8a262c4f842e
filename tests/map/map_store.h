// Stores of chosen cells for the map tests, and the plain reference of the
// marks: every visited cell projected on its own.
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "geo/web_mercator.h"
#include "map/map_image.h"
#include "map/marks_map.h"
#include "store/explorer_tiles.h"
#include "tiles/grid_units.h"
#include "view/generated_tiles.h"

namespace roamgrid::testing {

// A marks map without a cache file: the store alone.
inline MarksMapOptions MemoryOnly() {
  MarksMapOptions options;
  options.useCacheFile = false;
  return options;
}

// A cell of the whole grid: rows north of the equator, columns east of the
// prime meridian (negative: south, west).
struct GlobalCell {
  int64_t row = 0;
  int64_t column = 0;
};

// The same cell with its column within 180 W .. 180 E, as the store keeps it.
inline GlobalCell Normalized(GlobalCell cell) {
  cell.column =
      FloorMod(cell.column + 180 * kCellsPerDegree, 360 * kCellsPerDegree) - 180 * kCellsPerDegree;
  return cell;
}

inline GlobalCell CellAt(double lat, double lon) {
  return Normalized(
      {int64_t(std::floor(lat * kCellsPerDegree)), int64_t(std::floor(lon * kCellsPerDegree))});
}

// Writes the tile files that hold `cells` (masks set as the recorder sets
// them), replacing those tiles' files.
inline void WriteCells(const std::vector<GlobalCell>& cells) {
  std::map<std::pair<int64_t, int64_t>, GeneratedTile> tiles;
  for (const GlobalCell& cell : cells) {
    const int64_t tileRow = FloorDiv(cell.row, kCellsPerSide);
    const int64_t tileColumn = FloorDiv(cell.column, kCellsPerSide);
    tiles[{tileRow, tileColumn}].Mark(int(cell.row - tileRow * kCellsPerSide),
                                      int(cell.column - tileColumn * kCellsPerSide));
  }
  for (const auto& [key, tile] : tiles)
    WriteTileFile(key.first * kCentiPerTile, key.second * kCentiPerTile, tile.File());
}

// A wandering track of `steps` cells from (lat, lon), a cell or two a step.
inline std::vector<GlobalCell> Track(double lat, double lon, int steps, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> turn(-0.4, 0.4);
  std::vector<GlobalCell> cells;
  GlobalCell at = CellAt(lat, lon);
  double heading = 0.3, row = double(at.row), column = double(at.column);
  for (int i = 0; i < steps; ++i) {
    heading += turn(random);
    row += 1.5 * std::sin(heading);
    column += 1.5 * std::cos(heading);
    cells.push_back(Normalized({int64_t(std::floor(row)), int64_t(std::floor(column))}));
  }
  return cells;
}

// The marks of `view` drawn by the rules, one cell at a time: at cell zooms
// each cell covers the pixels whose centres lie in its Mercator rectangle;
// at wide zooms each cell's centre falls on its explorer tile of zoom
// ceil(zoom) + 8, whose centre marks a screen pixel drawn 2 x 2.
inline MaskImage ReferenceMarks(const std::vector<GlobalCell>& cells, const MercatorView& view) {
  MaskImage mask(view.width, view.height);
  const double scale = 256 * std::exp2(view.zoom);
  const double originX = view.centerX * scale - view.width / 2.0;
  const double originY = view.centerY * scale - view.height / 2.0;
  const auto set = [&](int64_t x, int64_t y) {
    if (x >= 0 && y >= 0 && x < view.width && y < view.height)
      mask.bytes[size_t(y) * size_t(view.width) + size_t(x)] = 1;
  };
  const bool cellZoom = scale >= 360.0 * 17920.0;
  const int level = int(std::ceil(view.zoom));
  const double levelPixels = std::ldexp(256.0, level);
  const int64_t wraps = int64_t(std::ceil(view.width / scale)) + 1;
  for (const GlobalCell& cell : cells) {
    if (cellZoom) {
      const double south = MercatorWorldY(double(cell.row) / kCellsPerDegree) * scale - originY;
      const double north = MercatorWorldY(double(cell.row + 1) / kCellsPerDegree) * scale - originY;
      for (int64_t wrap = -wraps; wrap <= wraps; ++wrap) {
        const auto worldX = [&](int64_t column) {
          return double(column + 180 * kCellsPerDegree + wrap * 360 * kCellsPerDegree) /
                 (360.0 * kCellsPerDegree);
        };
        const double west = worldX(cell.column) * scale - originX;
        const double east = worldX(cell.column + 1) * scale - originX;
        if (east < -1 || west > view.width + 1) continue;
        for (int64_t y = int64_t(std::floor(north)) - 1; y <= int64_t(std::ceil(south)) + 1; ++y) {
          if (!(y + 0.5 >= north && y + 0.5 < south)) continue;
          for (int64_t x = int64_t(std::floor(west)) - 1; x <= int64_t(std::ceil(east)) + 1; ++x)
            if (x + 0.5 >= west && x + 0.5 < east) set(x, y);
        }
      }
      continue;
    }
    const std::optional<ExplorerTile> pixel = ExplorerTileOfCell(level + 8, cell.row, cell.column);
    if (!pixel) continue;
    const double ratio = scale / levelPixels;
    const int64_t y = int64_t(std::floor((pixel->y + 0.5) * ratio - originY));
    for (int64_t wrap = -wraps; wrap <= wraps; ++wrap) {
      const double levelX = double(pixel->x) + double(wrap) * levelPixels;
      const int64_t x = int64_t(std::floor((levelX + 0.5) * ratio - originX));
      for (int dy = 0; dy <= 1; ++dy)
        for (int dx = 0; dx <= 1; ++dx) set(x + dx, y + dy);
    }
  }
  return mask;
}

// A view of width x height centred on (lat, lon) at `zoom`.
inline MercatorView ViewAt(double lat, double lon, double zoom, int width, int height) {
  return MercatorView{MercatorWorldX(lon), MercatorWorldY(lat), zoom, width, height};
}

// The view whose pixels are those of map tiles at whole zoom z, with map
// tile (x, y) at its top-left corner.
inline MercatorView AlignedView(int z, int x, int y, int width, int height) {
  const double scale = std::ldexp(256.0, z);
  return MercatorView{(256.0 * x + width / 2.0) / scale, (256.0 * y + height / 2.0) / scale,
                      double(z), width, height};
}

}  // namespace roamgrid::testing
