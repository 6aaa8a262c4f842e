#include "tiles/track_recorder.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "common/safe_file.h"
#include "tiles/grid_units.h"
#include "tiles/store_lock.h"
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

// Lets go of one tile of the recorder with ReleaseTile, saving it when
// dirty; `headerDamaged`: its file had a damaged header, which the save
// replaces. Failures are counted and named as ReleaseRecorderTile says.
bool ReleaseOne(TrackRecorder& recorder, std::unique_ptr<TrackTile>& tile, bool headerDamaged) {
  if (!tile) return true;
  // An unavailable tile is never dirty, so it is dropped without a write.
  const bool replacing = tile->dirty != 0 && headerDamaged;
  const std::string path = tile->dirty ? tile->path : "";  // only a save names it
  errno = 0;
  const bool saved = ReleaseTile(tile, &recorder.spareCells);
  const int error = errno;
  if (!saved) {
    ++recorder.unsavedTiles;
    NoteTileProblem(recorder, TileProblem::Kind::kNotSaved, path.c_str(), error);
  } else if (replacing) {
    NoteTileProblem(recorder, TileProblem::Kind::kReplacedDamaged, path.c_str(), 0);
  }
  return saved;
}

// Tiles released from the hand together share one hold of the store lock:
// taking it is three system calls, a save about six.
constexpr size_t kReleaseBatch = 8;

// Releases the `count` least recently used tiles of the hand, the open tile
// too when `withOpenTile` (last). Up to kReleaseBatch saves share one hold
// of the store lock, taken at the first tile to save that others follow.
bool ReleaseFromHand(TrackRecorder& recorder, size_t count, bool withOpenTile = false) {
  std::optional<StoreLock> lock;
  size_t savesUnderLock = 0;
  bool saved = true;
  const size_t total = count + (withOpenTile ? 1 : 0);
  for (size_t i = 0; i < total; ++i) {
    HeldTile held;
    if (i < count) {
      held = recorder.hand.TakeOldest(&recorder.spareCells);
    } else {
      held = {std::move(recorder.tile), recorder.tileUnavailable, recorder.tileHeaderDamaged};
      recorder.tileUnavailable = false;
      recorder.tileHeaderDamaged = false;
    }
    const bool save = held.tile && held.tile->dirty;
    // Other programs wait for the lock no longer than a batch takes.
    if (lock && savesUnderLock == kReleaseBatch) {
      lock.reset();
      savesUnderLock = 0;
    }
    if (!lock && save && i + 1 < total) lock.emplace();
    savesUnderLock += lock && save;
    saved &= ReleaseOne(recorder, held.tile, held.headerDamaged);
  }
  return saved;
}

// On a change of tile with a hand: the open tile goes into the hand, and
// the tile (latKey, lonKey) comes out of it when it is there. Otherwise
// the hand is brought within its limits for the tile about to be read.
void SwitchTile(TrackRecorder& recorder, int32_t latKey, int32_t lonKey) {
  if (recorder.tile) {
    recorder.hand.Park(
        {std::move(recorder.tile), recorder.tileUnavailable, recorder.tileHeaderDamaged},
        &recorder.spareCells);
  }
  recorder.tileUnavailable = false;
  recorder.tileHeaderDamaged = false;
  if (std::optional<HeldTile> held = recorder.hand.Take(latKey, lonKey, &recorder.spareCells)) {
    recorder.tile = std::move(held->tile);
    recorder.tileUnavailable = held->unavailable;
    recorder.tileHeaderDamaged = held->headerDamaged;
    return;
  }
  if (const size_t over = recorder.hand.Overflow(kReleaseBatch)) ReleaseFromHand(recorder, over);
}

}  // namespace

std::string TileProblemReason(int error) { return FileErrorText(error); }

TrackRecorder::~TrackRecorder() {
  ReleaseRecorderTile(*this);  // a failed save loses the changes, as on any release
}

bool ReleaseRecorderTile(TrackRecorder& recorder) {
  // The open tile last, so that the tiles go in the order they were used.
  return ReleaseFromHand(recorder, recorder.hand.size(), true);
}

bool HasUnsavedMarks(const TrackRecorder& recorder) {
  return (recorder.tile && recorder.tile->dirty) || recorder.hand.AnyDirty();
}

bool SaveRecorderTiles(TrackRecorder& recorder) {
  std::optional<StoreLock> lock;  // one hold for up to kReleaseBatch saves
  size_t savesUnderLock = 0;
  bool allSaved = true;
  const auto save = [&](TrackTile& tile, bool& headerDamaged) {
    if (savesUnderLock == kReleaseBatch) {
      lock.reset();
      savesUnderLock = 0;
    }
    if (!lock) lock.emplace();
    ++savesUnderLock;
    if (!SaveTile(tile, true)) {
      allSaved = false;
      return;
    }
    if (headerDamaged) NoteTileProblem(recorder, TileProblem::Kind::kReplacedDamaged, tile.path, 0);
    headerDamaged = false;
    tile.dirty = 0;
    // The file now under the name is this save's, or a merge with another
    // program's: the next save merges whatever it finds then.
    tile.held.Reset();
    tile.fileSeen = TrackTile::FileSeen::kUnknown;
    tile.fileBytes.clear();
  };
  recorder.hand.ForEachDirty(&recorder.spareCells, save);
  if (recorder.tile && recorder.tile->dirty) save(*recorder.tile, recorder.tileHeaderDamaged);
  return allSaved;
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
    // A tile that cannot be saved loses its changes.
    if (!recorder.hand.limits().active()) {
      ReleaseOne(recorder, recorder.tile, recorder.tileHeaderDamaged);
      recorder.tileUnavailable = false;
      recorder.tileHeaderDamaged = false;
    } else {
      SwitchTile(recorder, int32_t(latKey), int32_t(lonKey));
    }
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
