// The raster of a region at a zoom: each pixel stands for 2^zoom x 2^zoom
// cells and is marked when any of them is visited, as in the map view.
// Rows are produced north to south, one at a time, from a band of one tile
// row's pixels kept as bits, so the memory is a few megabytes for the
// largest image allowed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/region_cells.h"

namespace roamgrid {

// Images wider or taller than this are refused.
constexpr int64_t kMaxImageSide = 20000;

// The pixels of `region` at `zoom` (0..7), after AlignToPixels.
struct RasterSize {
  int64_t width = 0, height = 0;
};
RasterSize RegionRasterSize(const CellRegion& region, int zoom);

// The closest zoom, `from` or above, at which the image of `region` fits
// kMaxImageSide; nothing when none up to kMaxZoomIndex does.
std::optional<int> FinestFittingZoom(const CellRegion& region, int from = 0);

// Empty when the image of `region` at `zoom` fits kMaxImageSide; otherwise
// the message that refuses it, naming its size and the closest zoom that
// fits ("... --zoom 3 fits"), or saying that none does.
std::string CheckRasterSize(const CellRegion& region, int zoom);

// Produces the pixel rows of a region (grown to whole pixels of `zoom`),
// north to south: each row holds width() bytes, west to east, 1 for a
// marked pixel and 0 for others.
class RegionRasterizer {
 public:
  RegionRasterizer(const CellRegion& region, int zoom);
  int64_t width() const { return width_; }
  int64_t height() const { return pixelNorth_ - pixelSouth_; }
  // The next row, valid until the next call; nullptr after the last.
  const uint8_t* NextRow();
  // Visited cells of the rows handed on so far (whole tile rows).
  long long visitedCells() const { return walker_.visitedCells(); }

 private:
  void FillBand(int64_t tileRow);

  RegionWalker walker_;
  int64_t b_, width_, pixelSouth_, pixelNorth_, pixelWest_, tilePixels_;
  size_t words_;
  std::vector<uint64_t>
      band_;  // the pixel rows of one tile row, bit x of row y at y * words_ + x / 64
  std::vector<uint8_t> row_;
  int64_t bandTileRow_;
  int64_t nextRow_;       // the pixel row above the next one handed on
  bool pending_ = false;  // the walker stands on a tile of a row further south
};

}  // namespace roamgrid
