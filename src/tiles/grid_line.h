// Cells of the whole grid and the straight line between two of them.
//
// A cell of the store is named here by its row and column counted over the
// whole grid: row = 896 x (latKey / 5) + the row inside its tile, column
// likewise from lonKey, so the cell AddPoint marks for a fix is one
// GridCell (see CellOfFix in track_recorder.h), and a step of one row or
// column is a step to the neighbouring cell, across tile edges too.
//
// The line between two cells (ForEachLineCell) is the chain of cells that
// the straight segment from the centre of the first to the centre of the
// second passes through, walked one row or one column at a time:
//   - at each step the walk enters the cell whose shared edge the segment
//     crosses first (the row edge at row i + 1/2 is reached before the
//     column edge at column j + 1/2 when (2i + 1) |dColumn| < (2j + 1) |dRow|);
//   - where the segment passes exactly through a corner of four cells, the
//     walk goes through the southern (lower-row) one of the two cells beside
//     the corner, so that no diagonal gap is left and both directions of
//     the segment give the same cells.
// So the line is 4-connected, holds both end cells, stays inside their
// bounding box, and has exactly 1 + |dRow| + |dColumn| cells: the fewest a
// 4-connected chain between the two can have, so it never thickens.
#pragma once

#include <cstdint>

#include "tiles/grid_units.h"

namespace roamgrid {

struct GridCell {
  int64_t row = 0;     // south to north
  int64_t column = 0;  // west to east
  bool operator==(const GridCell&) const = default;
};

// Cells in one row of the grid around the earth: 360 degrees of 17920.
inline constexpr int64_t kWorldColumns = 360 * kCellsPerDegree;
static_assert(kWorldColumns == 6451200);

// Calls visit(GridCell) for every cell of the line from `from` to `to`
// (rule above), in order from `from` to `to`, both included. The
// differences of rows and of columns must lie within +-2^30, which keeps
// the arithmetic in 64 bits; the grid is 6451200 cells around.
template <typename Visit>
void ForEachLineCell(GridCell from, GridCell to, Visit&& visit) {
  const int64_t rowStep = to.row >= from.row ? 1 : -1;
  const int64_t columnStep = to.column >= from.column ? 1 : -1;
  const int64_t rows = (to.row - from.row) * rowStep;              // |dRow|
  const int64_t columns = (to.column - from.column) * columnStep;  // |dColumn|
  GridCell cell = from;
  visit(cell);
  int64_t i = 0;  // row steps taken
  int64_t j = 0;  // column steps taken
  while (i < rows || j < columns) {
    // Where the segment crosses the next row edge and the next column
    // edge, compared without division: rows first when (2i+1)/rows is the
    // smaller fraction of the way.
    const int64_t rowEdge = (2 * i + 1) * columns;
    const int64_t columnEdge = (2 * j + 1) * rows;
    bool stepRow;
    if (i == rows) {
      stepRow = false;
    } else if (j == columns) {
      stepRow = true;
    } else if (rowEdge != columnEdge) {
      stepRow = rowEdge < columnEdge;
    } else {
      // Through a corner: the southern of the two cells beside it. Going
      // north that is the column step first, going south the row step.
      stepRow = rowStep < 0;
    }
    if (stepRow) {
      cell.row += rowStep;
      ++i;
    } else {
      cell.column += columnStep;
      ++j;
    }
    visit(cell);
  }
}

}  // namespace roamgrid
