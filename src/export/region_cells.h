// Regions of the grid for the exports and the one walk over their tiles
// that every export format shares. A region is a rectangle of whole cells
// (1/17920 degree) in global cell coordinates: cell row 0 lies just north of
// the equator, cell column 0 just east of the prime meridian. The walk reads
// the tiles of a region one at a time, north to south and west to east,
// straight from their code streams (no tile is expanded into its 802,816
// cells), and hands on the visited cells of each tile as runs along its rows
// or as rectangles of whole runs. Memory stays that of one tile whatever the
// region's size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/task_progress.h"
#include "tiles/grid_units.h"
#include "tiles/tile_file.h"
#include "view/view_state.h"

namespace roamgrid {

// A latitude beyond the poles names no place; regions stop there.
constexpr int64_t kPoleCellRow = 90 * kCellsPerDegree;

// Cell rows [south, north) and columns [west, east). `east` may pass 180
// degrees (a region across the antimeridian): tiles there are read under
// their wrapped longitude keys.
struct CellRegion {
  int64_t south = 0, west = 0, north = 0, east = 0;
  bool operator==(const CellRegion&) const = default;
  int64_t Rows() const { return north - south; }
  int64_t Columns() const { return east - west; }
};

// The cells a view shows: the square of kZoomSpans[zoom] grid units from
// its origin, drawn from the aligned origin as RebuildView draws it.
CellRegion ViewCellRegion(const ViewState& view);

// A box in decimal degrees, south,west,north,east: the cells it touches
// (edges on a cell boundary are kept exactly). West above east crosses the
// antimeridian. Empty with a reason in `error` when south is not below north,
// a latitude lies beyond 90 degrees, a longitude beyond 180, or west equals east.
CellRegion DegreeBoxCells(double south, double west, double north, double east, std::string* error);

// Cells per pixel side at a raster zoom (0..7): 2^zoom, as in the map view.
constexpr int64_t CellsPerPixel(int zoom) { return int64_t{1} << zoom; }

// The region grown outward to whole pixels of 2^zoom cells, counted from
// cell 0 so that no pixel straddles two tiles.
CellRegion AlignToPixels(const CellRegion& region, int zoom);

// A run of visited cells along one row of a tile: cells [from, to) of row
// `row` (tile coordinates: row 0 at the south edge, column 0 at the west).
struct CellRun {
  uint16_t row, from, to;
};

// A rectangle of visited cells in a tile: rows [rowFrom, rowTo) and columns
// [columnFrom, columnTo), tile coordinates.
struct CellRect {
  int rowFrom, rowTo, columnFrom, columnTo;
};

// One tile of the walk: its keys (centidegrees; the longitude key wrapped
// into -18000..17999) and its place in the region's cell coordinates.
struct RegionTile {
  int64_t tileRow = 0, tileColumn = 0;  // floor(cell / 896), not wrapped
  int32_t latKey = 0, lonKey = 0;
  int64_t FirstCellRow() const { return tileRow * kCellsPerSide; }
  int64_t FirstCellColumn() const { return tileColumn * kCellsPerSide; }
  // The tile's name as its file has it: "E13975-N03500".
  std::string Name() const;
};

// Tells `progress` how far every RegionWalker of this thread has come, in
// tile rows, while it lives, and stops the walks when it is cancelled: a
// stopped walk ends as if the region ended there, and stopped() says so.
// An export installs one around its writer (region_export.h).
class ScopedRegionWalkProgress {
 public:
  explicit ScopedRegionWalkProgress(TaskProgress* progress);
  ~ScopedRegionWalkProgress();
  ScopedRegionWalkProgress(const ScopedRegionWalkProgress&) = delete;
  ScopedRegionWalkProgress& operator=(const ScopedRegionWalkProgress&) = delete;
  bool stopped() const { return stopped_; }

 private:
  friend class RegionWalker;
  TaskProgress* progress_;
  ScopedRegionWalkProgress* previous_;
  bool stopped_ = false;
};

// Walks the tiles that hold part of a region, tile rows north to south and
// within each row west to east, stopping at every tile with a visited cell
// inside the region; its runs come in row order (south to north) and,
// within a row, west to east, cut to the region. Tiles are read as the map
// view reads them: a missing or unreadable file, a damaged header or both
// mask bytes 0 mark nothing; a damaged code stream marks what it describes
// before the damage. Folders of the store that do not exist are passed over
// without looking for their tiles, so a region of the whole earth costs what
// its stored tiles cost. Holds one tile file's bytes and one tile's runs.
class RegionWalker {
 public:
  explicit RegionWalker(const CellRegion& region);
  ~RegionWalker();
  RegionWalker(const RegionWalker&) = delete;
  RegionWalker& operator=(const RegionWalker&) = delete;

  // Moves to the next tile with a visited cell; false after the last.
  bool Next();
  // The current tile and its runs, valid until the next call of Next().
  const RegionTile& tile() const { return tile_; }
  const std::vector<CellRun>& runs() const { return runs_; }
  // Visited cells handed on so far.
  long long visitedCells() const { return cells_; }

 private:
  class FolderCache;
  CellRegion region_;
  int64_t south_, north_, jA_, jB_;
  int64_t i_, j_;  // the next tile to look at
  int64_t rowsTold_ = -1;  // tile rows last told to the walk progress
  RegionTile tile_;
  std::vector<CellRun> runs_;
  std::vector<uint8_t> file_;
  std::unique_ptr<FolderCache> folders_;
  long long cells_ = 0;
};

// The visited cells of one tile file's bytes (`size` of them, the header
// included) inside rows [rowFrom, rowTo) and columns [columnFrom,
// columnTo), appended to `runs` as RegionWalker gives them; the masks are
// not looked at. kLoaded, or kDamaged for a header that is short or does
// not start with 0x00 (no runs) or a code stream that stops early or runs
// past the tile (the runs before the damage).
LoadResult CollectTileRuns(const uint8_t* file, size_t size, int rowFrom, int rowTo, int columnFrom,
                           int columnTo, std::vector<CellRun>& runs);

// Covers the runs of one tile (as WalkRegionRuns gives them) with
// rectangles: runs are whole along their rows, and a run continues a
// rectangle of the row below when it has the same columns. Every visited
// cell lies in exactly one rectangle. The order of the rectangles is not
// fixed.
void CoverRuns(const std::vector<CellRun>& runs, std::vector<CellRect>& rects);

}  // namespace roamgrid
