#include "export/region_raster.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace roamgrid {

RasterSize RegionRasterSize(const CellRegion& region, int zoom) {
  const CellRegion aligned = AlignToPixels(region, zoom);
  return RasterSize{aligned.Columns() >> zoom, aligned.Rows() >> zoom};
}

std::optional<int> FinestFittingZoom(const CellRegion& region, int from) {
  for (int z = std::max(from, int(kMinZoomIndex)); z <= kMaxZoomIndex; ++z) {
    const RasterSize size = RegionRasterSize(region, z);
    if (size.width <= kMaxImageSide && size.height <= kMaxImageSide) return z;
  }
  return std::nullopt;
}

std::string CheckRasterSize(const CellRegion& region, int zoom) {
  if (FinestFittingZoom(region, zoom) == zoom) return {};
  const RasterSize size = RegionRasterSize(region, zoom);
  std::string text = "the image would be " + std::to_string(size.width) + " x " +
                     std::to_string(size.height) + " pixels, more than " +
                     std::to_string(kMaxImageSide) + " x " + std::to_string(kMaxImageSide) + "; ";
  if (const std::optional<int> z = FinestFittingZoom(region, zoom + 1)) {
    const RasterSize smaller = RegionRasterSize(region, *z);
    return text + "--zoom " + std::to_string(*z) + " fits (" + std::to_string(smaller.width) +
           " x " + std::to_string(smaller.height) + ")";
  }
  return text + "no zoom up to " + std::to_string(kMaxZoomIndex) + " fits; choose a smaller region";
}

RegionRasterizer::RegionRasterizer(const CellRegion& region, int zoom)
    : walker_(AlignToPixels(region, zoom)), b_(CellsPerPixel(zoom)) {
  const CellRegion cells = AlignToPixels(region, zoom);
  width_ = cells.Columns() / b_;
  pixelSouth_ = cells.south / b_;
  pixelNorth_ = cells.north / b_;
  pixelWest_ = cells.west / b_;
  tilePixels_ = kCellsPerSide / b_;
  words_ = size_t((width_ + 63) / 64);
  band_.resize(words_ * size_t(tilePixels_));
  row_.resize(size_t(std::max<int64_t>(width_, 1)));
  bandTileRow_ = std::numeric_limits<int64_t>::max();
  nextRow_ = pixelNorth_;
}

void RegionRasterizer::FillBand(int64_t tileRow) {
  std::fill(band_.begin(), band_.end(), 0);
  bandTileRow_ = tileRow;
  while (pending_ || walker_.Next()) {
    const RegionTile& tile = walker_.tile();
    if (tile.tileRow != tileRow) {  // further south: for a later band
      pending_ = true;
      return;
    }
    pending_ = false;
    const int64_t columnBase = tile.FirstCellColumn() - pixelWest_ * b_;
    for (const CellRun& run : walker_.runs()) {
      uint64_t* bits = band_.data() + size_t(run.row / b_) * words_;
      const int64_t x0 = (columnBase + run.from) / b_, x1 = (columnBase + run.to - 1) / b_;
      for (int64_t x = x0; x <= x1; ++x) bits[x >> 6] |= uint64_t(1) << (x & 63);
    }
  }
}

const uint8_t* RegionRasterizer::NextRow() {
  if (nextRow_ <= pixelSouth_) return nullptr;
  const int64_t y = --nextRow_;
  const int64_t tileRow = FloorDiv(y, tilePixels_);
  if (tileRow != bandTileRow_) FillBand(tileRow);
  const uint64_t* bits = band_.data() + size_t(y - tileRow * tilePixels_) * words_;
  for (size_t w = 0; w < words_; ++w) {
    const int64_t from = int64_t(w) * 64, to = std::min<int64_t>(from + 64, width_);
    uint8_t* out = row_.data() + from;
    if (bits[w] == 0) {  // most of an image is unmarked
      std::memset(out, 0, size_t(to - from));
      continue;
    }
    for (int64_t x = from; x < to; ++x) *out++ = uint8_t((bits[w] >> (x - from)) & 1);
  }
  return row_.data();
}

}  // namespace roamgrid
