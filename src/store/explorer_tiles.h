// Explorer tiles: the squares of the Web Mercator tile grid (the grid of
// web map tiles, 2^Z x 2^Z squares at zoom Z, x growing east from 180 W and
// y growing south from about 85.05 N) that the marks have reached. A tile is
// explored when the centre of at least one visited cell lies inside it; a
// centre on a tile's west or north edge belongs to that tile. Cells whose
// centre lies outside the Web Mercator square (beyond about 85.05 degrees
// north or south) explore nothing.
//
// The set of explored tiles is the only memory that grows with the store:
// tiles of the store are added one at a time, and the counts (explored
// tiles, largest explored square, largest cluster) are taken from the set.
// It is kept compact, as a sorted sequence of 64-bit keys (8 bytes a tile):
// at zoom 24 every visited cell is a tile of its own.
// The grid is not wrapped at 180 degrees: tile x = 0 and x = 2^Z - 1 are
// not neighbours.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "tiles/track_tile.h"

namespace roamgrid {

constexpr int kMinExplorerZoom = 0;
constexpr int kMaxExplorerZoom = 24;  // 2.4 m tiles at the equator, below a cell
// The zooms that `stats` shows without being asked.
constexpr int kDefaultExplorerZooms[] = {14, 17};

struct ExplorerTile {
  int32_t x = 0;  // 0 .. 2^zoom - 1, west to east
  int32_t y = 0;  // 0 .. 2^zoom - 1, north to south
  bool operator==(const ExplorerTile&) const = default;
};

// The explorer tile at `zoom` that holds the centre of the cell
// `cellRow` rows north of the equator (negative: south) and `cellColumn`
// columns east of the prime meridian (cells of 1/17920 degree); nothing when
// that centre lies outside the Web Mercator square or past 180 degrees east
// or west. The longitude is placed exactly (integer arithmetic), so a centre
// on a west edge goes to the tile east of it.
std::optional<ExplorerTile> ExplorerTileOfCell(int zoom, int64_t cellRow, int64_t cellColumn);

// The two halves of ExplorerTileOfCell, for placing whole rows and columns
// of cells at once, at zooms 0 to 30 (a map drawn at zoom z places cells on
// the pixels of zoom z + 8 this way): the tile x of the centres of cell
// column `cellColumn`, and the tile y of the centres of cell row `cellRow`;
// -1 where ExplorerTileOfCell gives nothing (and for a zoom outside 0..30).
int32_t CellCentreTileX(int zoom, int64_t cellColumn);
int32_t CellCentreTileY(int zoom, int64_t cellRow);

// Edges of an explorer tile in degrees.
struct ExplorerTileBounds {
  double south, west, north, east;
};
ExplorerTileBounds ExplorerTileEdges(int zoom, ExplorerTile tile);

// The explorer tiles whose area meets the box (degrees, south <= north;
// west above east runs east across the antimeridian), clamped to the Web
// Mercator square: first and last x and y, or nothing when the box lies
// outside it.
struct ExplorerTileRange {
  int32_t xFirst, xLast, yFirst, yLast;
  // The columns run east from xFirst across the antimeridian to xLast
  // (every column when xLast is not below xFirst).
  bool wraps = false;

  // How many columns the range holds at `zoom`: x = (xFirst + i) mod 2^zoom
  // for i from 0 below it.
  int64_t ColumnCount(int zoom) const {
    const int64_t count = int64_t{1} << zoom;
    if (!wraps) return int64_t{xLast} - xFirst + 1;
    return std::min(count, count - xFirst + xLast + 1);
  }
  bool HasColumn(int32_t x) const {
    return wraps ? x >= xFirst || x <= xLast : x >= xFirst && x <= xLast;
  }
};
std::optional<ExplorerTileRange> ExplorerTilesInBox(int zoom, double south, double west,
                                                    double north, double east);

struct ExplorerSummary {
  long long explored = 0;    // explored tiles
  int maxSquare = 0;         // side of the largest square of explored tiles
  long long maxCluster = 0;  // tiles in the largest 4-connected group of
                             // explored tiles whose four neighbours are explored
  bool operator==(const ExplorerSummary&) const = default;
};

// Where the largest square and the largest cluster of a summary lie.
struct ExplorerShapes {
  // North-west tile of the largest square (maxSquare tiles a side): of
  // several, the one whose south-east tile comes first north to south, then
  // west to east.
  ExplorerTile squareCorner;
  // The tiles of the largest cluster, north to south, then west to east; of
  // several, the one with the first tile in that order.
  std::vector<ExplorerTile> cluster;
};

// The explored tiles of one zoom, gathered tile by tile from the store.
class ExplorerTileSet {
 public:
  explicit ExplorerTileSet(int zoom);

  int zoom() const { return zoom_; }
  size_t size() const {
    Settle();
    return keys_.size();
  }
  bool Contains(ExplorerTile tile) const {
    Settle();
    return std::binary_search(keys_.begin(), keys_.end(), Key(tile));
  }

  // Adds the explorer tiles of every visited cell of `tile` (its keys and
  // cells; a tile without cells adds nothing).
  void AddTile(const TrackTile& tile);
  // Adds the tiles of `finer` (a zoom not below this one's) seen at this
  // zoom: Web Mercator tiles nest, each holding 4^(finer - zoom) tiles of the
  // finer zoom, and a cell centre's tile at this zoom is its finer tile's
  // x and y shifted right. So one walk of the cells serves every zoom.
  void AddCoarsened(const ExplorerTileSet& finer);
  // Adds one explorer tile.
  void Add(ExplorerTile tile) {
    added_.push_back(Key(tile));
    // Merged in once they are a good part of the set: each key is moved a
    // few times at most, and the unsorted ones never take much memory.
    if (added_.size() >= kAddedMin && added_.size() >= keys_.size() / 4) Settle();
  }

  // The explored tiles sorted north to south, then west to east.
  std::vector<ExplorerTile> Sorted() const;
  // Counts, square and cluster of the set; with `shapes`, where the square
  // and the cluster lie.
  ExplorerSummary Summarize(ExplorerShapes* shapes = nullptr) const;

 private:
  static uint64_t Key(ExplorerTile tile) {
    return uint64_t(uint32_t(tile.y)) << 32 | uint32_t(tile.x);
  }
  static constexpr size_t kAddedMin = size_t(1) << 16;
  // Sorts the tiles added since into `keys_`.
  void Settle() const;

  int zoom_;
  // The explored tiles, sorted (north to south, then west to east), each
  // once; tiles added since the last Settle wait unsorted in `added_`. A
  // deque grows block by block, never copying the whole set to a larger
  // place.
  mutable std::deque<uint64_t> keys_;
  mutable std::vector<uint64_t> added_;
};

}  // namespace roamgrid
