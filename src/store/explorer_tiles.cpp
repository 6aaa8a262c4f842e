#include "store/explorer_tiles.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <numeric>

#include "geo/web_mercator.h"

namespace roamgrid {

namespace {

// Cell centres in half cells east of 180 W: 2 * column + 1 + this.
constexpr int64_t kHalfCellsTo180 = 2 * 180 * kCellsPerDegree;
constexpr int64_t kHalfCellsAround = 2 * 360 * kCellsPerDegree;
static_assert(kHalfCellsAround < (int64_t{1} << 24));  // times 2^24 stays in 64 bits
// The deepest zoom whose tile numbers fit 31 bits.
constexpr int kMaxCellCentreZoom = 30;
// A local grid of explorer tiles for one store tile up to this many entries;
// past it (very high zooms) tiles go straight into the set.
constexpr int64_t kLocalGridLimit = 1 << 16;

// Tile y at `zoom` of a latitude in degrees, or -1 outside the square.
int32_t MercatorY(int zoom, double latDegrees) {
  if (!(std::abs(latDegrees) < 90.0)) return -1;
  const double y = std::floor(MercatorTileY(latDegrees, zoom));
  if (y < 0.0 || y >= std::ldexp(1.0, zoom)) return -1;
  return int32_t(y);
}

// Tile x at `zoom` of the centre of cell column `cellColumn`, or -1 past 180.
int32_t MercatorX(int zoom, int64_t cellColumn) {
  if (cellColumn < -180 * kCellsPerDegree || cellColumn >= 180 * kCellsPerDegree) return -1;
  const int64_t halfCells = 2 * cellColumn + 1 + kHalfCellsTo180;
  return int32_t((halfCells << zoom) / kHalfCellsAround);
}

// Fills values[from + 1 .. to - 1] of a monotone function `of` whose values
// at `from` and `to` are there already, evaluating it only where it changes.
template <class Of>
void FillMonotone(int32_t* values, int from, int to, const Of& of) {
  if (to - from < 2) return;
  if (values[from] == values[to]) {
    std::fill(values + from + 1, values + to, values[from]);
    return;
  }
  const int middle = from + (to - from) / 2;
  values[middle] = of(middle);
  FillMonotone(values, from, middle, of);
  FillMonotone(values, middle, to, of);
}

// Calls visit(row, column) for every visited cell of `tile`. Where LoadTile
// kept the groups that hold marks, only those are looked at.
template <class Visit>
void ForEachVisitedCell(const TrackTile& tile, Visit&& visit) {
  const uint8_t* cells = tile.cells.get();
  if (tile.groupsOf == cells) {
    for (size_t word = 0; word < tile.groups.bits.size(); ++word) {
      for (uint64_t bits = tile.groups.bits[word]; bits != 0; bits &= bits - 1) {
        const int group = int(word * 64) + std::countr_zero(bits);
        const int row = group / kGroupsPerRow;
        const int first = (group % kGroupsPerRow) * kCellsPerGroup;
        for (int column = first; column < first + kCellsPerGroup; ++column)
          if (cells[size_t(row) * kCellsPerSide + size_t(column)]) visit(row, column);
      }
    }
    return;
  }
  for (int row = 0; row < kCellsPerSide; ++row)
    for (int column = 0; column < kCellsPerSide; ++column)
      if (cells[size_t(row) * kCellsPerSide + size_t(column)]) visit(row, column);
}

}  // namespace

std::optional<ExplorerTile> ExplorerTileOfCell(int zoom, int64_t cellRow, int64_t cellColumn) {
  if (zoom < kMinExplorerZoom || zoom > kMaxExplorerZoom) return {};
  const int32_t x = MercatorX(zoom, cellColumn);
  const int32_t y = MercatorY(zoom, (double(cellRow) + 0.5) / double(kCellsPerDegree));
  if (x < 0 || y < 0) return {};
  return ExplorerTile{x, y};
}

int32_t CellCentreTileX(int zoom, int64_t cellColumn) {
  if (zoom < 0 || zoom > kMaxCellCentreZoom) return -1;
  return MercatorX(zoom, cellColumn);
}

int32_t CellCentreTileY(int zoom, int64_t cellRow) {
  if (zoom < 0 || zoom > kMaxCellCentreZoom) return -1;
  return MercatorY(zoom, (double(cellRow) + 0.5) / double(kCellsPerDegree));
}

ExplorerTileBounds ExplorerTileEdges(int zoom, ExplorerTile tile) {
  const double side = 360.0 / std::ldexp(1.0, zoom);
  return {MercatorLatitude(tile.y + 1.0, zoom), tile.x * side - 180.0,
          MercatorLatitude(tile.y, zoom), (tile.x + 1.0) * side - 180.0};
}

std::optional<ExplorerTileRange> ExplorerTilesInBox(int zoom, double south, double west,
                                                    double north, double east) {
  const double count = std::ldexp(1.0, zoom);
  const double top = MercatorLatitude(0.0, zoom);
  // Written so that a NaN edge is refused too.
  if (!(south <= north) || north < -top || south > top || !(east >= -180.0) || !(west <= 180.0))
    return {};
  const auto xOf = [&](double lon) {
    return int32_t(std::clamp(std::floor((lon + 180.0) / 360.0 * count), 0.0, count - 1));
  };
  const auto yOf = [&](double lat) {
    return int32_t(
        std::clamp(std::floor(MercatorTileY(std::clamp(lat, -top, top), zoom)), 0.0, count - 1));
  };
  return ExplorerTileRange{xOf(west), xOf(east), yOf(north), yOf(south), west > east};
}

ExplorerTileSet::ExplorerTileSet(int zoom)
    : zoom_(std::clamp(zoom, kMinExplorerZoom, kMaxExplorerZoom)) {}

void ExplorerTileSet::AddTile(const TrackTile& tile) {
  if (!tile.cells) return;
  // Rows and columns of the tile map to explorer tiles once; each visited
  // cell is then two lookups.
  const int64_t firstRow = int64_t{tile.latKey} / kCentiPerTile * kCellsPerSide;
  const int64_t firstColumn = int64_t{tile.lonKey} / kCentiPerTile * kCellsPerSide;
  int32_t yOfRow[kCellsPerSide];
  int32_t xOfColumn[kCellsPerSide];
  const auto yOf = [&](int row) {
    return MercatorY(zoom_, (double(firstRow + row) + 0.5) / double(kCellsPerDegree));
  };
  // y falls from row to row (north is smaller): where it is equal at both
  // ends of a stretch it is equal all along, so only the few rows around
  // each tile edge are projected.
  yOfRow[0] = yOf(0);
  yOfRow[kCellsPerSide - 1] = yOf(kCellsPerSide - 1);
  FillMonotone(yOfRow, 0, kCellsPerSide - 1, yOf);
  for (int i = 0; i < kCellsPerSide; ++i) xOfColumn[i] = MercatorX(zoom_, firstColumn + i);
  int32_t yLow = INT32_MAX, yHigh = -1, xLow = INT32_MAX, xHigh = -1;
  for (int i = 0; i < kCellsPerSide; ++i) {
    if (yOfRow[i] >= 0) {
      yLow = std::min(yLow, yOfRow[i]);
      yHigh = std::max(yHigh, yOfRow[i]);
    }
    if (xOfColumn[i] >= 0) {
      xLow = std::min(xLow, xOfColumn[i]);
      xHigh = std::max(xHigh, xOfColumn[i]);
    }
  }
  if (yHigh < 0 || xHigh < 0) return;  // wholly outside the square
  const int64_t width = int64_t{xHigh} - xLow + 1;
  const int64_t height = int64_t{yHigh} - yLow + 1;
  if (width * height > kLocalGridLimit) {
    ForEachVisitedCell(tile, [&](int row, int column) {
      if (yOfRow[row] >= 0 && xOfColumn[column] >= 0) Add({xOfColumn[column], yOfRow[row]});
    });
    return;
  }
  // A few explorer tiles cover the whole store tile: marking them locally
  // costs one byte write per cell instead of one set insertion.
  std::vector<uint8_t> local(size_t(width * height), 0);
  ForEachVisitedCell(tile, [&](int row, int column) {
    if (yOfRow[row] >= 0 && xOfColumn[column] >= 0)
      local[size_t((yOfRow[row] - yLow) * width + (xOfColumn[column] - xLow))] = 1;
  });
  for (int64_t i = 0; i < width * height; ++i)
    if (local[size_t(i)]) Add({int32_t(xLow + i % width), int32_t(yLow + i / width)});
}

void ExplorerTileSet::Settle() const {
  if (added_.empty()) return;
  std::sort(added_.begin(), added_.end());
  added_.erase(std::unique(added_.begin(), added_.end()), added_.end());
  const size_t before = keys_.size();
  keys_.insert(keys_.end(), added_.begin(), added_.end());
  std::inplace_merge(keys_.begin(), keys_.begin() + ptrdiff_t(before), keys_.end());
  keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
  added_.clear();
}

void ExplorerTileSet::AddCoarsened(const ExplorerTileSet& finer) {
  const int shift = finer.zoom_ - zoom_;
  if (shift < 0) return;
  finer.Settle();
  for (uint64_t key : finer.keys_)
    Add({int32_t(uint32_t(key) >> shift), int32_t(uint32_t(key >> 32) >> shift)});
}

std::vector<ExplorerTile> ExplorerTileSet::Sorted() const {
  Settle();
  std::vector<ExplorerTile> tiles;
  tiles.reserve(keys_.size());
  for (uint64_t key : keys_) tiles.push_back({int32_t(uint32_t(key)), int32_t(key >> 32)});
  return tiles;
}

ExplorerSummary ExplorerTileSet::Summarize(ExplorerShapes* shapes) const {
  Settle();
  ExplorerSummary summary;
  summary.explored = (long long)keys_.size();
  const auto& keys = keys_;  // row by row, north to south
  const auto xOf = [&](size_t i) { return int64_t(uint32_t(keys[i])); };
  const auto yOf = [&](size_t i) { return int64_t(keys[i] >> 32); };

  // Largest square: side[i] = 1 + min(left, up, up-left), row by row; only
  // the row above is kept, as indices into `keys` with their sides.
  // A square has at most sqrt(size) tiles a side, which 16 bits hold.
  std::vector<uint16_t> side(keys.size(), 0);
  size_t rowStart = 0, aboveStart = 0, aboveEnd = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (i == 0 || yOf(i) != yOf(i - 1)) {
      const bool adjacent = i > 0 && yOf(i) == yOf(i - 1) + 1;
      aboveStart = adjacent ? rowStart : i;  // no row above: an empty range
      aboveEnd = i;
      rowStart = i;
    }
    const int64_t x = xOf(i);
    const int left = (i > rowStart && xOf(i - 1) == x - 1) ? side[i - 1] : 0;
    while (aboveStart < aboveEnd && xOf(aboveStart) < x - 1) ++aboveStart;
    int upLeft = 0, up = 0;
    size_t at = aboveStart;
    if (at < aboveEnd && xOf(at) == x - 1) upLeft = side[at++];
    if (at < aboveEnd && xOf(at) == x) up = side[at];
    side[i] = uint16_t(1 + std::min({left, up, upLeft}));
    if (side[i] > summary.maxSquare) {
      summary.maxSquare = side[i];
      if (shapes) shapes->squareCorner = {int32_t(x - side[i] + 1), int32_t(yOf(i) - side[i] + 1)};
    }
  }
  side = {};

  // Largest cluster: tiles whose four neighbours are explored, joined with
  // their west and north cluster neighbours (union by size).
  const auto has = [&](int64_t x, int64_t y) {
    return x >= 0 && y >= 0 &&
           std::binary_search(keys.begin(), keys.end(), uint64_t(y) << 32 | uint64_t(x));
  };
  // The cluster tiles, found in key order, are few beside the set: only
  // they get union-find entries.
  std::vector<uint64_t> cluster;
  for (size_t i = 0; i < keys.size(); ++i) {
    const int64_t x = xOf(i), y = yOf(i);
    if (has(x - 1, y) && has(x + 1, y) && has(x, y - 1) && has(x, y + 1))
      cluster.push_back(keys[i]);
  }
  std::vector<uint32_t> parent(cluster.size());
  std::vector<uint32_t> members(cluster.size(), 1);
  std::iota(parent.begin(), parent.end(), 0u);
  const auto root = [&](uint32_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  const auto join = [&](uint32_t a, uint32_t b) {
    a = root(a), b = root(b);
    if (a == b) return;
    if (members[a] < members[b]) std::swap(a, b);
    parent[b] = a;
    members[a] += members[b];
  };
  for (size_t j = 0; j < cluster.size(); ++j) {
    const uint64_t key = cluster[j];
    // The west neighbour has the key one less (same row), and comes just before.
    if (j > 0 && cluster[j - 1] == key - 1) join(uint32_t(j), uint32_t(j - 1));
    const uint64_t north = key - (uint64_t(1) << 32);
    const auto above = std::lower_bound(cluster.begin(), cluster.begin() + ptrdiff_t(j), north);
    if (above != cluster.begin() + ptrdiff_t(j) && *above == north)
      join(uint32_t(j), uint32_t(above - cluster.begin()));
  }
  for (size_t j = 0; j < cluster.size(); ++j)
    if (parent[j] == j) summary.maxCluster = std::max(summary.maxCluster, (long long)members[j]);
  if (shapes) {
    shapes->cluster.clear();
    uint32_t largest = UINT32_MAX;  // root of the first largest cluster
    for (size_t j = 0; j < cluster.size(); ++j) {
      const uint32_t top = root(uint32_t(j));
      if (largest == UINT32_MAX && members[top] == summary.maxCluster) largest = top;
      if (top == largest)
        shapes->cluster.push_back({int32_t(uint32_t(cluster[j])), int32_t(cluster[j] >> 32)});
    }
  }
  return summary;
}

}  // namespace roamgrid
