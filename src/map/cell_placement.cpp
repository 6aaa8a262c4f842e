#include "map/cell_placement.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "map/marks_map.h"
#include "store/explorer_tiles.h"

namespace roamgrid {

namespace {

constexpr int kMaxZoom = kMaxMapTileZoom;
// Cell columns from 180 W to the prime meridian, and around the world.
constexpr int64_t kColumnsTo180 = 180 * kCellsPerDegree;
constexpr int64_t kColumnsAround = 360 * kCellsPerDegree;

int64_t FirstRow(int32_t latKey) { return int64_t{latKey} / kCentiPerTile * kCellsPerSide; }
int64_t FirstColumn(int32_t lonKey) { return int64_t{lonKey} / kCentiPerTile * kCellsPerSide; }

// ceil of a screen position plus the margin, held within [0, limit] so
// that far away positions neither overflow nor land inside.
int64_t CeilWithin(double value, int margin, int64_t limit) {
  const double bound = double(limit + 1);
  return std::clamp<int64_t>(int64_t(std::ceil(std::clamp(value, -bound, bound))) + margin, 0,
                             limit);
}

// Screen pixels of a tile's cells at cell zooms: the first screen column at
// or east of each cell column edge, the first screen row at or south of
// each cell row edge (row r's south edge is entry r); a cell covers the
// columns [x[c], x[c + 1]) and rows [y[r + 1], y[r]).
struct CellEdges {
  std::array<int32_t, kCellsPerSide + 1> x, y;
};

void PlaceCellEdges(int32_t latKey, int32_t lonKey, int wrap, const ScreenGrid& grid,
                    CellEdges& edges) {
  const int64_t firstColumn = FirstColumn(lonKey) + kColumnsTo180 + wrap * kColumnsAround;
  for (int c = 0; c <= kCellsPerSide; ++c) {
    const double worldX = double(firstColumn + c) / double(kColumnsAround);
    edges.x[size_t(c)] =
        int32_t(CeilWithin(worldX * grid.scale - grid.originX - 0.5, grid.margin, grid.width));
  }
  const int64_t firstRow = FirstRow(latKey);
  for (int r = 0; r <= kCellsPerSide; ++r) {
    const double worldY = MercatorWorldY(double(firstRow + r) / double(kCellsPerDegree));
    edges.y[size_t(r)] =
        int32_t(CeilWithin(worldY * grid.scale - grid.originY - 0.5, grid.margin, grid.height));
  }
}

}  // namespace

ScreenGrid ScreenGrid::OfView(const MercatorView& view) {
  ScreenGrid grid;
  grid.zoom = std::clamp(view.zoom, 0.0, double(kMaxZoom));
  if (!std::isfinite(grid.zoom)) grid.zoom = 0;
  grid.scale = kMapTilePixels * std::exp2(grid.zoom);
  grid.width = std::max(view.width, 0);
  grid.height = std::max(view.height, 0);
  // The world repeats east and west: a centre in another copy of it shows
  // the same. Far north or south nothing shows, so the centre is held where
  // the arithmetic stays exact.
  double centerX = std::isfinite(view.centerX) ? view.centerX : 0.5;
  if (centerX < 0 || centerX >= 1) centerX -= std::floor(centerX);
  const double centerY = std::isfinite(view.centerY) ? std::clamp(view.centerY, -1e6, 1e6) : 0.5;
  grid.originX = centerX * grid.scale - grid.width / 2.0;
  grid.originY = centerY * grid.scale - grid.height / 2.0;
  return grid;
}

ScreenGrid ScreenGrid::OfTile(int z, int x, int y) {
  ScreenGrid grid;
  grid.zoom = z;
  grid.scale = std::ldexp(double(kMapTilePixels), z);
  grid.originX = double(kMapTilePixels) * x;
  grid.originY = double(kMapTilePixels) * y;
  grid.width = grid.height = kMapTilePixels;
  return grid;
}

ScreenGrid ScreenGrid::Widened() const {
  ScreenGrid grid = *this;
  grid.margin += 1;
  grid.width += 1;
  grid.height += 1;
  return grid;
}

int PlacementZoom(double zoom) {
  return std::clamp(int(std::ceil(std::clamp(zoom, 0.0, double(kMaxZoom)))), 0, kMaxZoom);
}

int64_t LevelOnScreen::ScreenX(int64_t levelX) const {
  return int64_t(std::floor((double(levelX) + 0.5) * ratio - originX)) + margin;
}
int64_t LevelOnScreen::ScreenY(int64_t levelY) const {
  return int64_t(std::floor((double(levelY) + 0.5) * ratio - originY)) + margin;
}

PixelRect LevelOnScreen::Covering(int width, int height) const {
  PixelRect rect;
  rect.x0 = int64_t(std::floor((originX - margin) / ratio)) - 1;
  rect.x1 = int64_t(std::ceil((originX - margin + width) / ratio)) + 1;
  rect.y0 = int64_t(std::floor((originY - margin) / ratio)) - 1;
  rect.y1 = int64_t(std::ceil((originY - margin + height) / ratio)) + 1;
  return rect;
}

LevelOnScreen PlaceLevel(const ScreenGrid& grid, int level) {
  LevelOnScreen placed;
  placed.level = level;
  placed.ratio = grid.scale / std::ldexp(double(kMapTilePixels), level);
  placed.originX = grid.originX;
  placed.originY = grid.originY;
  placed.margin = grid.margin;
  return placed;
}

const uint8_t* MarkingCodeStream(const std::vector<uint8_t>& file, size_t& size) {
  size = 0;
  if (file.size() < kTileHeaderSize || file[0] != 0x00) return nullptr;
  // As in the main view: a tile whose masks are both 0 has no visited cell.
  if (file[1] == 0 && file[2] == 0) return nullptr;
  size = file.size() - kTileHeaderSize;
  return file.data() + kTileHeaderSize;
}

const std::array<int32_t, kCellsPerSide>& RowPlacements::Rows(int zoom, int32_t latKey) {
  Entry& entry = entries_[size_t(FloorMod(int64_t{latKey} / kCentiPerTile + zoom * 7, 64))];
  if (entry.zoom == zoom && entry.latKey == latKey) return entry.rows;
  entry.zoom = zoom;
  entry.latKey = latKey;
  const int64_t firstRow = FirstRow(latKey);
  for (int r = 0; r < kCellsPerSide; ++r)
    entry.rows[size_t(r)] = CellCentreTileY(zoom, firstRow + r);
  return entry.rows;
}

void PlaceColumns(int zoom, int32_t lonKey, std::array<int32_t, kCellsPerSide>& columns) {
  const int64_t firstColumn = FirstColumn(lonKey);
  for (int c = 0; c < kCellsPerSide; ++c)
    columns[size_t(c)] = CellCentreTileX(zoom, firstColumn + c);
}

PixelRect TileFootprint(int zoom, int32_t latKey, int32_t lonKey, RowPlacements& placements) {
  PixelRect rect;
  const std::array<int32_t, kCellsPerSide>& rows = placements.Rows(zoom, latKey);
  std::array<int32_t, kCellsPerSide> columns;
  PlaceColumns(zoom, lonKey, columns);
  rect.y0 = INT64_MAX, rect.y1 = -1;
  for (int32_t y : rows) {
    if (y < 0) continue;
    rect.y0 = std::min<int64_t>(rect.y0, y);
    rect.y1 = std::max<int64_t>(rect.y1, y);
  }
  rect.x0 = INT64_MAX, rect.x1 = -1;
  for (int32_t x : columns) {
    if (x < 0) continue;
    rect.x0 = std::min<int64_t>(rect.x0, x);
    rect.x1 = std::max<int64_t>(rect.x1, x);
  }
  if (rect.y1 < 0 || rect.x1 < 0) return PixelRect{};
  return rect;
}

void DrawTileCells(const uint8_t* code, size_t size, int32_t latKey, int32_t lonKey, int wrap,
                   const ScreenGrid& grid, const LevelOnScreen& level, RowPlacements& placements,
                   MaskImage& mask) {
  if (!code || grid.width <= 0 || grid.height <= 0) return;
  const size_t width = size_t(grid.width);
  if (IsCellZoom(grid.zoom)) {
    CellEdges edges;
    PlaceCellEdges(latKey, lonKey, wrap, grid, edges);
    if (edges.x[0] == edges.x[kCellsPerSide] || edges.y[0] == edges.y[kCellsPerSide]) return;
    struct Sink {
      const CellEdges& edges;
      MaskImage& mask;
      size_t width;
      void Run(int, int) {}
      void Literal(int g, uint8_t bits) {
        const int row = g / kGroupsPerRow;
        const int32_t top = edges.y[size_t(row) + 1], bottom = edges.y[size_t(row)];
        if (top >= bottom || bits == 0) return;
        const size_t first = size_t(g % kGroupsPerRow) * kCellsPerGroup;
        for (int k = 0; k < kCellsPerGroup; ++k) {
          if (!(bits & (0x40 >> k))) continue;
          const int32_t left = edges.x[first + size_t(k)], right = edges.x[first + size_t(k) + 1];
          if (left >= right) continue;
          for (int32_t y = top; y < bottom; ++y)
            std::memset(mask.bytes.data() + size_t(y) * width + size_t(left), 1,
                        size_t(right - left));
        }
      }
    } sink{edges, mask, width};
    WalkCodeStream(code, size, sink);
    return;
  }
  // Wide zooms: each cell centre's pixel of the placement zoom, on screen.
  const int pixelZoom = level.level + 8;
  const std::array<int32_t, kCellsPerSide>& rows = placements.Rows(pixelZoom, latKey);
  std::array<int32_t, kCellsPerSide> columns;
  PlaceColumns(pixelZoom, lonKey, columns);
  const int64_t shift = wrap * OverviewPyramid::WorldPixels(level.level);
  std::array<int32_t, kCellsPerSide> screenRows;
  bool anyRow = false, anyColumn = false;
  for (size_t i = 0; i < size_t(kCellsPerSide); ++i) {
    const int64_t y = rows[i] < 0 ? -1 : level.ScreenY(rows[i]);
    screenRows[i] = y >= 0 && y < grid.height ? int32_t(y) : -1;
    anyRow |= screenRows[i] >= 0;
    const int64_t x = columns[i] < 0 ? -1 : level.ScreenX(columns[i] + shift);
    columns[i] = x >= 0 && x < grid.width ? int32_t(x) : -1;
    anyColumn |= columns[i] >= 0;
  }
  if (!anyRow || !anyColumn) return;
  struct Sink {
    const std::array<int32_t, kCellsPerSide>& rows;
    const std::array<int32_t, kCellsPerSide>& columns;
    uint8_t* pixels;
    size_t width;
    void Run(int, int) {}
    void Literal(int g, uint8_t bits) {
      const int32_t y = rows[size_t(g / kGroupsPerRow)];
      if (y < 0 || bits == 0) return;
      const size_t first = size_t(g % kGroupsPerRow) * kCellsPerGroup;
      uint8_t* row = pixels + size_t(y) * width;
      for (int k = 0; k < kCellsPerGroup; ++k) {
        if (!(bits & (0x40 >> k))) continue;
        const int32_t x = columns[first + size_t(k)];
        if (x >= 0) row[x] = 1;
      }
    }
  } sink{screenRows, columns, mask.bytes.data(), width};
  WalkCodeStream(code, size, sink);
}

void DrawOverview(const OverviewPyramid& overview, const ScreenGrid& grid,
                  const LevelOnScreen& level, MaskImage& mask) {
  if (grid.width <= 0 || grid.height <= 0) return;
  const int64_t world = OverviewPyramid::WorldPixels(level.level);
  PixelRect rect = level.Covering(grid.width, grid.height);
  rect.y0 = std::max<int64_t>(rect.y0, 0);
  rect.y1 = std::min(rect.y1, world - 1);
  if (rect.Empty()) return;
  // Screen column of each pixel column in reach, and row of each row; -1
  // off the screen.
  std::vector<int32_t> screenX(size_t(rect.x1 - rect.x0 + 1)),
      screenY(size_t(rect.y1 - rect.y0 + 1));
  for (int64_t x = rect.x0; x <= rect.x1; ++x) {
    const int64_t at = level.ScreenX(x);
    screenX[size_t(x - rect.x0)] = at >= 0 && at < grid.width ? int32_t(at) : -1;
  }
  for (int64_t y = rect.y0; y <= rect.y1; ++y) {
    const int64_t at = level.ScreenY(y);
    screenY[size_t(y - rect.y0)] = at >= 0 && at < grid.height ? int32_t(at) : -1;
  }
  const size_t width = size_t(grid.width);
  for (int64_t wrap = FloorDiv(rect.x0, world); wrap <= FloorDiv(rect.x1, world); ++wrap) {
    const int64_t shift = wrap * world;
    const PixelRect part{std::max(rect.x0 - shift, int64_t{0}), rect.y0,
                         std::min(rect.x1 - shift, world - 1), rect.y1};
    overview.ForEachMarked(level.level, part, [&](int64_t x, int64_t y) {
      const int32_t sx = screenX[size_t(x + shift - rect.x0)];
      const int32_t sy = screenY[size_t(y - rect.y0)];
      if (sx >= 0 && sy >= 0) mask.bytes[size_t(sy) * width + size_t(sx)] = 1;
    });
  }
}

void DrawTwoByTwo(const MaskImage& wide, MaskImage& mask) {
  const int width = std::max(wide.width - 1, 0), height = std::max(wide.height - 1, 0);
  mask.Reset(width, height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* north = wide.bytes.data() + size_t(y) * size_t(wide.width);
    const uint8_t* south = north + wide.width;
    uint8_t* out = mask.bytes.data() + size_t(y) * size_t(width);
    for (int x = 0; x < width; ++x)
      out[x] = (north[x] | north[x + 1] | south[x] | south[x + 1]) != 0;
  }
}

}  // namespace roamgrid
