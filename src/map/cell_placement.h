// Where the cells of a tile file land on a Web Mercator drawing, for the
// marks renderer (marks_map) and the overview. Two rules, as marks_map.h
// states them: at wide zooms a cell's centre falls on a pixel of a whole
// zoom (placed exactly as the explorer tiles place it); at cell zooms a
// cell covers the screen pixels whose centres lie in its Mercator
// rectangle.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "geo/web_mercator.h"
#include "map/map_image.h"
#include "map/overview.h"
#include "tiles/grid_units.h"
#include "tiles/tile_file.h"

namespace roamgrid {

// The pixels of a drawing on the world: the column of world x is
// floor(x * scale - originX) + margin, and the row of world y the same. A
// view and a map tile z/x/y at the same whole zoom share their pixels where
// they overlap, since both place a world position this way with a whole
// originX. The margin shifts whole pixels only, so a widened drawing places
// everything exactly as the drawing itself.
struct ScreenGrid {
  double zoom = 0;     // 0..22
  double scale = 256;  // screen pixels per world unit: 256 x 2^zoom
  double originX = 0;  // world x times scale at the west edge of pixel column -margin
  double originY = 0;  // world y times scale at the north edge of pixel row -margin
  int margin = 0;      // columns west and rows north of the drawing proper
  int width = 0;       // margin included
  int height = 0;

  static ScreenGrid OfView(const MercatorView& view);
  static ScreenGrid OfTile(int z, int x, int y);
  // The same pixels with one more column west and one more row north.
  ScreenGrid Widened() const;
};

// The whole zoom on whose pixels cell centres are placed for a wide-zoom
// drawing at `zoom`: ceil(zoom), 0..22.
int PlacementZoom(double zoom);

// Screen columns and rows of the pixels of whole zoom `level` on `grid`: the
// pixel whose centre each one's centre falls in. Pixel numbers may lie
// outside the world (the copies east and west of it).
struct LevelOnScreen {
  int level = 0;
  double ratio = 1;  // screen pixels per pixel of `level` (0.5 .. 1)
  double originX = 0, originY = 0;
  int margin = 0;
  int64_t ScreenX(int64_t levelX) const;
  int64_t ScreenY(int64_t levelY) const;
  // The pixels of `level` whose centres may fall on the screen.
  PixelRect Covering(int width, int height) const;
};
LevelOnScreen PlaceLevel(const ScreenGrid& grid, int level);

// The code stream of a tile file, or null (size 0) when the file marks
// nothing: a damaged header, or both mask bytes 0.
const uint8_t* MarkingCodeStream(const std::vector<uint8_t>& file, size_t& size);

// Pixel rows of the centres of the 896 cell rows of tiles with latitude key
// `latKey` at pixel zoom `zoom` (0..30), -1 beyond the Web Mercator square;
// remembered for the last few keys and zooms, since tiles come in rows.
class RowPlacements {
 public:
  const std::array<int32_t, kCellsPerSide>& Rows(int zoom, int32_t latKey);

 private:
  struct Entry {
    int zoom = -1;
    int32_t latKey = 0;
    std::array<int32_t, kCellsPerSide> rows{};
  };
  std::array<Entry, 64> entries_;
};

// Pixel columns of the centres of the 896 cell columns of tiles with
// longitude key `lonKey` at pixel zoom `zoom`.
void PlaceColumns(int zoom, int32_t lonKey, std::array<int32_t, kCellsPerSide>& columns);

// The pixels of pixel zoom `zoom` that can hold a cell centre of tile
// (latKey, lonKey): its footprint, empty when it lies beyond the square.
PixelRect TileFootprint(int zoom, int32_t latKey, int32_t lonKey, RowPlacements& rows);

// Calls visit(x, y) once for each visited cell of the code stream `code` of
// tile (latKey, lonKey), with the pixel of pixel zoom `zoom` that holds the
// cell's centre; cells beyond the square are passed over. A damaged stream
// gives the cells it describes before the damage.
template <class Visit>
void ForEachCentrePixel(const uint8_t* code, size_t size, int zoom, int32_t latKey, int32_t lonKey,
                        RowPlacements& placements, Visit&& visit);

// Marks on `mask` (the size of `grid`) the screen pixels of the cells of
// the code stream `code` of tile (latKey, lonKey), the tile shifted `wrap`
// worlds east:
//   - at cell zooms (IsCellZoom), each cell's rectangle;
//   - else the screen pixel of each cell centre's pixel of `level.level`.
void DrawTileCells(const uint8_t* code, size_t size, int32_t latKey, int32_t lonKey, int wrap,
                   const ScreenGrid& grid, const LevelOnScreen& level, RowPlacements& placements,
                   MaskImage& mask);

// Marks on `mask` (the size of `grid`) the screen pixels of the marked
// pixels of `overview` at `level.level` (at most kOverviewZoom), in every
// copy of the world the grid shows.
void DrawOverview(const OverviewPyramid& overview, const ScreenGrid& grid,
                  const LevelOnScreen& level, MaskImage& mask);

// `wide` is the drawing of a grid widened by one pixel; `mask` gets the
// pixels of the grid itself with each pixel of `wide` drawn 2 x 2 (also
// east, south and south-east of it).
void DrawTwoByTwo(const MaskImage& wide, MaskImage& mask);

// ---- template implementation ----

template <class Visit>
void ForEachCentrePixel(const uint8_t* code, size_t size, int zoom, int32_t latKey, int32_t lonKey,
                        RowPlacements& placements, Visit&& visit) {
  const std::array<int32_t, kCellsPerSide>& rows = placements.Rows(zoom, latKey);
  std::array<int32_t, kCellsPerSide> columns;
  PlaceColumns(zoom, lonKey, columns);
  struct Sink {
    const std::array<int32_t, kCellsPerSide>& rows;
    const std::array<int32_t, kCellsPerSide>& columns;
    Visit& visit;
    void Run(int, int) {}
    void Literal(int g, uint8_t bits) {
      const int32_t y = rows[size_t(g / kGroupsPerRow)];
      if (y < 0 || bits == 0) return;
      const size_t first = size_t(g % kGroupsPerRow) * kCellsPerGroup;
      for (int k = 0; k < kCellsPerGroup; ++k) {
        if (!(bits & (0x40 >> k))) continue;
        const int32_t x = columns[first + size_t(k)];
        if (x >= 0) visit(int64_t{x}, int64_t{y});
      }
    }
  } sink{rows, columns, visit};
  WalkCodeStream(code, size, sink);
}

}  // namespace roamgrid
