#include "tiles/track_recorder.h"

#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/safe_file.h"
#include "tiles/grid_units.h"
#include "tiles/tile_file.h"

namespace roamgrid {

namespace {

constexpr int kBlockSide = 224;  // cells per side of one block-mask block
constexpr int kHalfRows = 448;   // rows 0..447 in southMask, 448..895 in northMask
static_assert(kBlockSide * 4 == kCellsPerSide && kHalfRows * 2 == kCellsPerSide);

// Row (or column) of a coordinate inside the tile with key `key`, in the
// order the store has always used: degrees x 100, minus the key, / 5,
// x 896, truncated. Within rounding distance below the north (east) edge
// the value comes out as 896; such a fix goes to the last row (column).
int CellIndexOnSide(double degrees, double key) {
  const double position = ((degrees * 100.0) - key) / kCentiPerTile * kCellsPerSide;
  // The range check of AddPoint keeps `position` within -1..897, so the
  // conversion is defined; the bounds keep the cell inside the tile.
  int index = static_cast<int>(position);
  if (index < 0) index = 0;
  if (index > kCellsPerSide - 1) index = kCellsPerSide - 1;
  return index;
}

// Each kind of problem is named once per tile.
void NoteTileProblem(TrackRecorder& recorder, TileProblem::Kind kind, const char* path, int error) {
  for (const TileProblem& known : recorder.tileProblems)
    if (known.kind == kind && known.path == path) return;
  recorder.tileProblems.push_back({kind, path, error});
}

}  // namespace

std::string TileProblemReason(int error) { return FileErrorText(error); }

TrackRecorder::~TrackRecorder() {
  ReleaseRecorderTile(*this);  // a failed save loses the changes, as on any release
}

bool ReleaseRecorderTile(TrackRecorder& recorder) {
  if (!recorder.tile) return true;
  // An unavailable tile is never dirty, so it is dropped without a write.
  const bool replacing = recorder.tile->dirty != 0 && recorder.tileHeaderDamaged;
  const std::string path = recorder.tile->dirty ? recorder.tile->path : "";  // only a save names it
  errno = 0;
  const bool saved = ReleaseTile(recorder.tile, &recorder.spareCells);
  const int error = errno;
  recorder.tileUnavailable = false;
  recorder.tileHeaderDamaged = false;
  if (!saved) {
    ++recorder.unsavedTiles;
    NoteTileProblem(recorder, TileProblem::Kind::kNotSaved, path.c_str(), error);
  } else if (replacing) {
    NoteTileProblem(recorder, TileProblem::Kind::kReplacedDamaged, path.c_str(), 0);
  }
  return saved;
}

bool CellOfFix(double lat, double lon, GridCell* cell) {
  // Written so that NaN fails the test too.
  if (!(lat > -180.0 && lat < 180.0 && lon > -180.0 && lon < 180.0)) return false;
  // The product is a double before the floor is taken.
  const double latKey = 5.0 * std::floor(lat * 20.0);
  const double lonKey = 5.0 * std::floor(lon * 20.0);
  cell->row = int64_t(latKey / kCentiPerTile) * kCellsPerSide + CellIndexOnSide(lat, latKey);
  cell->column = int64_t(lonKey / kCentiPerTile) * kCellsPerSide + CellIndexOnSide(lon, lonKey);
  return true;
}

bool AddPoint(TrackRecorder& recorder, double lat, double lon) {
  GridCell cell;
  if (!CellOfFix(lat, lon, &cell)) return false;
  MarkCell(recorder, cell);
  return true;
}

void MarkCell(TrackRecorder& recorder, GridCell cell) {
  // Columns of a line that crosses the 180th meridian come back into the
  // grid's -180..180 degrees.
  const int64_t wrappedColumn =
      FloorMod(cell.column + kWorldColumns / 2, kWorldColumns) - kWorldColumns / 2;
  const int64_t latTile = FloorDiv(cell.row, kCellsPerSide);
  const int64_t lonTile = FloorDiv(wrappedColumn, kCellsPerSide);
  const double latKey = double(latTile * kCentiPerTile);
  const double lonKey = double(lonTile * kCentiPerTile);

  if (latKey != recorder.tileLatKey || lonKey != recorder.tileLonKey) {
    ReleaseRecorderTile(recorder);  // a tile that cannot be saved loses its changes
    recorder.tileLatKey = latKey;
    recorder.tileLonKey = lonKey;
  }

  if (!recorder.tile) {
    recorder.tile = std::make_unique<TrackTile>();
    int error = 0;
    const int loaded = OpenTile(*recorder.tile, static_cast<int32_t>(latKey),
                                static_cast<int64_t>(lonKey), &error, &recorder.spareCells);
    recorder.tileUnavailable = loaded == kUnavailable;
    recorder.tileHeaderDamaged = loaded == kDamaged && !recorder.tile->cells;
    if (recorder.tileUnavailable) {
      NoteTileProblem(recorder, TileProblem::Kind::kUnreadable, recorder.tile->path, error);
    } else if (!recorder.tile->cells) {
      // No file, or a damaged header: the tile starts with every cell unvisited.
      recorder.tile->cells = recorder.spareCells ? std::move(recorder.spareCells)
                                                 : std::make_unique<uint8_t[]>(kCellCount);
      recorder.tile->groups = {};
      recorder.tile->groupsOf = recorder.tile->cells.get();
    }
  }
  // A file that exists but cannot be read is left alone: the log still
  // holds these fixes for an import once it can be read.
  if (recorder.tileUnavailable) return;
  TrackTile& tile = *recorder.tile;

  const int row = int(cell.row - latTile * kCellsPerSide);
  const int column = int(wrappedColumn - lonTile * kCellsPerSide);
  assert(row >= 0 && row < kCellsPerSide && column >= 0 && column < kCellsPerSide);

  uint8_t& mark = tile.cells[size_t(row) * kCellsPerSide + size_t(column)];
  if (mark == 0) {
    tile.dirty = 1;
    mark = 1;
    ++recorder.newCells;
    tile.groups.Mark((row * kCellsPerSide + column) / kCellsPerGroup);
  }

  // The block bit is set for every marked cell, changed or not.
  uint8_t bit = uint8_t(1u << (column / kBlockSide));
  if (row < kHalfRows) {
    if (row >= kBlockSide) bit = uint8_t(bit << 4);
    tile.southMask |= bit;
  } else {
    if (row >= kHalfRows + kBlockSide) bit = uint8_t(bit << 4);
    tile.northMask |= bit;
  }
}

}  // namespace roamgrid
