#include "geo/tile_sampling.h"

#include <algorithm>
#include <cmath>

namespace roamgrid {
namespace {

// Appends the taps of one view position showing the point `at` (tile
// pixels) with a footprint `footprint` tile pixels wide; pixel indices are
// held within first..last before `wrap` maps them into the world.
template <typename Wrap>
void AddTaps(double at, double footprint, int64_t first, int64_t last, Wrap wrap,
             std::vector<SampleTap>& taps) {
  // A tent of half-width `radius` around `at`: one pixel for enlarged tiles
  // (bilinear), the footprint for shrunk ones.
  const double radius = std::max(1.0, footprint);
  const int64_t low = static_cast<int64_t>(std::ceil(at - 0.5 - radius));
  const int64_t high = static_cast<int64_t>(std::floor(at - 0.5 + radius));
  const size_t start = taps.size();
  double total = 0;
  for (int64_t pixel = low; pixel <= high; ++pixel) {
    const double weight = 1.0 - std::fabs(pixel + 0.5 - at) / radius;
    if (weight <= 0) continue;
    taps.push_back(
        {static_cast<int32_t>(wrap(std::clamp(pixel, first, last))), static_cast<float>(weight)});
    total += weight;
  }
  if (total <= 0) {  // `at` is not finite: take the nearest edge pixel
    taps.resize(start);
    taps.push_back({static_cast<int32_t>(wrap(first)), 1.0f});
    return;
  }
  for (size_t i = start; i < taps.size(); ++i) taps[i].weight /= static_cast<float>(total);
}

// Width of the footprint of view position i, from the distance between
// its neighbours' points (positions whose `valid` is false have none).
template <typename Valid>
double Footprint(const std::array<double, kRasterSide>& at, int i, Valid valid) {
  const int before = i > 0 && valid(i - 1) ? i - 1 : i;
  const int after = i + 1 < kRasterSide && valid(i + 1) ? i + 1 : i;
  if (before == after) return 1.0;
  return std::fabs(at[after] - at[before]) / (after - before);
}

// A tap's tile and its place within the tile, looked up once per tap.
struct LocalTap {
  int tile;    // index into the view's distinct tile rows or columns
  int inTile;  // 0..255
  float weight;
};

std::vector<LocalTap> Localise(const AxisTaps& axis, std::vector<int32_t>& tileIndices) {
  std::vector<LocalTap> local;
  local.reserve(axis.taps.size());
  for (const SampleTap& tap : axis.taps) {
    const int32_t tile = tap.pixel / kMapTilePixels;
    auto found = std::find(tileIndices.begin(), tileIndices.end(), tile);
    if (found == tileIndices.end()) found = tileIndices.insert(tileIndices.end(), tile);
    local.push_back(
        {static_cast<int>(found - tileIndices.begin()), tap.pixel % kMapTilePixels, tap.weight});
  }
  return local;
}

}  // namespace

AxisTaps RowTaps(const ViewTileMap& map) {
  AxisTaps axis;
  const auto valid = [&](int i) { return map.pixelRow[i] >= 0; };
  int32_t first = INT32_MAX, last = -1;
  for (int i = 0; i < kRasterSide; ++i) {
    if (valid(i)) first = std::min(first, map.pixelRow[i]), last = std::max(last, map.pixelRow[i]);
  }
  const auto same = [](int64_t pixel) { return pixel; };
  for (int i = 0; i < kRasterSide; ++i) {
    axis.first[i] = static_cast<uint32_t>(axis.taps.size());
    if (valid(i))
      AddTaps(map.rowAt[i], Footprint(map.rowAt, i, valid), first, last, same, axis.taps);
  }
  axis.first[kRasterSide] = static_cast<uint32_t>(axis.taps.size());
  return axis;
}

AxisTaps ColumnTaps(const ViewTileMap& map) {
  AxisTaps axis;
  const int64_t worldPixels = int64_t{kMapTilePixels} << map.zoom;
  const auto wrap = [&](int64_t pixel) { return WrapWorldPixel(pixel, worldPixels); };
  const auto all = [](int) { return true; };
  // Columns grow eastward without wrapping: the view's first and last
  // pixel centres bound the taps before they are wrapped.
  const auto first = static_cast<int64_t>(std::floor(map.colAt.front()));
  const auto last = static_cast<int64_t>(std::floor(map.colAt.back()));
  for (int i = 0; i < kRasterSide; ++i) {
    axis.first[i] = static_cast<uint32_t>(axis.taps.size());
    AddTaps(map.colAt[i], Footprint(map.colAt, i, all), first, std::max(first, last), wrap,
            axis.taps);
  }
  axis.first[kRasterSide] = static_cast<uint32_t>(axis.taps.size());
  return axis;
}

bool ComposeViewTiles(const ViewTileMap& map,
                      const std::function<const Argb*(const MapTileKey&)>& tileAt, Argb* out) {
  std::fill(out, out + kRasterSide * kRasterSide, Argb{0});
  const AxisTaps rowAxis = RowTaps(map), colAxis = ColumnTaps(map);
  std::vector<int32_t> tileRows, tileCols;
  const std::vector<LocalTap> rowTaps = Localise(rowAxis, tileRows);
  const std::vector<LocalTap> colTaps = Localise(colAxis, tileCols);
  // The tiles the taps reach, looked up once: [row][column].
  std::vector<const Argb*> tiles(tileRows.size() * tileCols.size());
  bool complete = !map.tiles.empty();
  for (size_t r = 0; r < tileRows.size(); ++r) {
    for (size_t c = 0; c < tileCols.size(); ++c) {
      tiles[r * tileCols.size() + c] = tileAt(MapTileKey{map.zoom, tileCols[c], tileRows[r]});
      complete = complete && tiles[r * tileCols.size() + c] != nullptr;
    }
  }
  for (int row = 0; row < kRasterSide; ++row) {
    const uint32_t rowBegin = rowAxis.first[row], rowEnd = rowAxis.first[row + 1];
    if (rowBegin == rowEnd) {
      complete = false;  // beyond the Mercator square
      continue;
    }
    Argb* line = out + size_t(kRasterSide - 1 - row) * kRasterSide;
    for (int col = 0; col < kRasterSide; ++col) {
      float sum[4] = {0, 0, 0, 0}, shares = 0;
      for (uint32_t rt = rowBegin; rt < rowEnd; ++rt) {
        const LocalTap& down = rowTaps[rt];
        for (uint32_t ct = colAxis.first[col]; ct < colAxis.first[col + 1]; ++ct) {
          const LocalTap& across = colTaps[ct];
          const Argb* tile = tiles[size_t(down.tile) * tileCols.size() + size_t(across.tile)];
          if (tile == nullptr) continue;
          const Argb pixel = tile[down.inTile * kMapTilePixels + across.inTile];
          const float share = down.weight * across.weight;
          for (int channel = 0; channel < 4; ++channel) {
            sum[channel] += share * float((pixel >> (8 * channel)) & 0xFF);
          }
          shares += share;
        }
      }
      if (shares <= 0) continue;
      Argb blended = 0;
      for (int channel = 0; channel < 4; ++channel) {
        const float value = std::clamp(sum[channel] / shares + 0.5f, 0.0f, 255.0f);
        blended |= Argb(value) << (8 * channel);
      }
      line[col] = blended;
    }
  }
  return complete;
}

}  // namespace roamgrid
