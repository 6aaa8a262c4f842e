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

// Shares in whole 256ths: a view pixel's shares along one axis add up to
// exactly kWhole, so a pixel of full coverage needs no division.
constexpr uint32_t kWhole = 256;

// A tap's tile and its place within the tile, looked up once per tap.
struct LocalTap {
  int tile;        // index into the view's distinct tile rows or columns
  int inTile;      // 0..255
  uint32_t share;  // 1..kWhole
};

// The taps of `axis` by view position, with their tiles numbered in the
// order they are met (`tileIndices`) and their shares in 256ths.
struct LocalAxis {
  std::array<uint32_t, kRasterSide + 1> first{};
  std::vector<LocalTap> taps;
};

LocalAxis Localise(const AxisTaps& axis, std::vector<int32_t>& tileIndices) {
  LocalAxis local;
  local.taps.reserve(axis.taps.size());
  for (int i = 0; i < kRasterSide; ++i) {
    local.first[i] = static_cast<uint32_t>(local.taps.size());
    const size_t start = local.taps.size();
    uint32_t total = 0;
    for (uint32_t t = axis.first[i]; t < axis.first[i + 1]; ++t) {
      const SampleTap& tap = axis.taps[t];
      const auto share = static_cast<uint32_t>(std::lround(tap.weight * float(kWhole)));
      if (share == 0) continue;
      const int32_t tile = tap.pixel / kMapTilePixels;
      auto found = std::find(tileIndices.begin(), tileIndices.end(), tile);
      if (found == tileIndices.end()) found = tileIndices.insert(tileIndices.end(), tile);
      local.taps.push_back(
          {static_cast<int>(found - tileIndices.begin()), tap.pixel % kMapTilePixels, share});
      total += share;
    }
    if (local.taps.size() == start) continue;
    // Rounding leaves the sum a little off a whole: the largest share
    // takes up the difference.
    auto largest = std::max_element(local.taps.begin() + std::ptrdiff_t(start), local.taps.end(),
                                    [](auto& a, auto& b) { return a.share < b.share; });
    largest->share = largest->share + kWhole - total;
  }
  local.first[kRasterSide] = static_cast<uint32_t>(local.taps.size());
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
  std::vector<int32_t> tileRows, tileCols;
  const LocalAxis rows = Localise(RowTaps(map), tileRows);
  const LocalAxis cols = Localise(ColumnTaps(map), tileCols);
  // The tiles the taps reach, looked up once: [row][column].
  std::vector<const Argb*> tiles(tileRows.size() * tileCols.size());
  bool complete = !map.tiles.empty();
  for (size_t r = 0; r < tileRows.size(); ++r) {
    for (size_t c = 0; c < tileCols.size(); ++c) {
      tiles[r * tileCols.size() + c] = tileAt(MapTileKey{map.zoom, tileCols[c], tileRows[r]});
      complete = complete && tiles[r * tileCols.size() + c] != nullptr;
    }
  }

  // The filter is separable: a tile pixel row is filtered across into
  // view columns once, and the view rows that take it blend that line.
  // Channels go two to a word (red and blue, alpha and green), each in a
  // 16-bit lane: 255 x 256 fits.
  struct Across {
    uint32_t redBlue, alphaGreen;
    uint32_t coverage;  // shares of the taps whose tile is at hand
  };
  // Rows run south to north and their taps over a few neighbouring tile
  // pixel rows, so a small ring of lines, indexed by the global tile pixel
  // row modulo its size, holds every line a view row needs.
  const auto lineId = [&](const LocalTap& down) {
    return int64_t{tileRows[size_t(down.tile)]} * kMapTilePixels + down.inTile;
  };
  int64_t span = 1;
  uint32_t mostTaps = 0;
  for (int row = 0; row < kRasterSide; ++row) {
    mostTaps = std::max(mostTaps, rows.first[row + 1] - rows.first[row]);
    int64_t low = INT64_MAX, high = INT64_MIN;
    for (uint32_t rt = rows.first[row]; rt < rows.first[row + 1]; ++rt) {
      low = std::min(low, lineId(rows.taps[rt]));
      high = std::max(high, lineId(rows.taps[rt]));
    }
    if (low <= high) span = std::max(span, high - low + 1);
  }
  const auto ringSize = static_cast<size_t>(span + 1);
  std::vector<Across> ring(ringSize * kRasterSide);
  std::vector<int64_t> ringHolds(ringSize, -1);
  const auto line = [&](const LocalTap& down) -> const Across* {
    const int64_t id = lineId(down);
    const size_t slot = static_cast<size_t>(id % int64_t(ringSize));
    Across* across = ring.data() + slot * kRasterSide;
    if (ringHolds[slot] == id) return across;
    ringHolds[slot] = id;
    const Argb* const* tileRow = tiles.data() + size_t(down.tile) * tileCols.size();
    const size_t inTileRow = size_t(down.inTile) * kMapTilePixels;
    for (int col = 0; col < kRasterSide; ++col) {
      Across sum{0, 0, 0};
      for (uint32_t ct = cols.first[col]; ct < cols.first[col + 1]; ++ct) {
        const LocalTap& tap = cols.taps[ct];
        const Argb* tile = tileRow[tap.tile];
        if (tile == nullptr) continue;
        const Argb pixel = tile[inTileRow + size_t(tap.inTile)];
        sum.redBlue += (pixel & 0x00FF00FF) * tap.share;
        sum.alphaGreen += (pixel >> 8 & 0x00FF00FF) * tap.share;
        sum.coverage += tap.share;
      }
      across[col] = sum;
    }
    return across;
  };

  constexpr uint32_t kFull = kWhole * kWhole;
  std::vector<const Across*> taken(mostTaps);  // the lines of one view row
  for (int row = 0; row < kRasterSide; ++row) {
    const uint32_t first = rows.first[row], count = rows.first[row + 1] - first;
    if (count == 0) {
      complete = false;  // beyond the Mercator square
      continue;
    }
    for (uint32_t t = 0; t < count; ++t) taken[t] = line(rows.taps[first + t]);
    Argb* outLine = out + size_t(kRasterSide - 1 - row) * kRasterSide;
    for (int col = 0; col < kRasterSide; ++col) {
      // Down the view each lane needs up to 32 bits: four lanes in two words.
      uint64_t redBlue = 0, alphaGreen = 0;
      uint32_t coverage = 0;
      for (uint32_t t = 0; t < count; ++t) {
        const Across& sum = taken[t][col];
        const uint32_t share = rows.taps[first + t].share;
        redBlue += (uint64_t(sum.redBlue & 0xFFFF) | uint64_t(sum.redBlue >> 16) << 32) * share;
        alphaGreen +=
            (uint64_t(sum.alphaGreen & 0xFFFF) | uint64_t(sum.alphaGreen >> 16) << 32) * share;
        coverage += sum.coverage * share;
      }
      if (coverage == 0) continue;
      const auto channel = [&](uint64_t lanes, int lane) {
        const uint64_t value = lanes >> (32 * lane) & 0xFFFFFFFF;
        // A whole pixel divides by 65536; one beside a missing tile by the
        // shares it has.
        return static_cast<Argb>(coverage == kFull ? (value + kFull / 2) >> 16
                                                   : (value + coverage / 2) / coverage);
      };
      outLine[col] = channel(alphaGreen, 1) << 24 | channel(redBlue, 1) << 16 |
                     channel(alphaGreen, 0) << 8 | channel(redBlue, 0);
    }
  }
  return complete;
}

}  // namespace roamgrid
