// The point recorder: turns a stream of GPS fixes (degrees) into visited
// cells of the trajectory store. It keeps the tile of the latest fix open
// while the following fixes stay inside it, and on a change of tile
// releases the old tile (saving it when changed) before opening the new one.
//
// A recorder may also keep a few tiles in hand (TrackRecorder::maxTiles):
// the tiles a track left stay in memory, and a track that comes back (a
// drive along a tile edge) finds them there instead of saving and reading
// them again. A tile is then saved once, when it is let go of: the least
// recently used ones when room is needed, all of them at the end. What
// the store holds stays what the saves promise: every save is a whole tile
// with every mark it had in hand, merged with what other programs saved.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tiles/grid_line.h"
#include "tiles/tile_hand.h"
#include "tiles/track_tile.h"

namespace roamgrid {

// A tile file that an import could not use as it should, named once per
// log with the system's reason.
struct TileProblem {
  enum class Kind {
    kUnreadable,       // exists but cannot be read: its fixes were not recorded
    kNotSaved,         // could not be written: its new cells are lost
    kReplacedDamaged,  // its header was damaged; it was replaced by the new cells
  };
  Kind kind = Kind::kUnreadable;
  std::string path;  // "RGD/E139N035/E13975-N03500.map"
  int error = 0;     // errno of the failure; 0 when there is none (a damaged header)
  bool operator==(const TileProblem&) const = default;
};

// Why a tile could not be used, as the front ends name it: the system's
// text for `error`, "not a regular file" for a pipe or device under the
// tile's name (which the system would call an invalid argument), and
// "unknown error" for 0.
std::string TileProblemReason(int error);

// What an import keeps in hand (TileHand): 32 MiB of packed tiles (some ten
// thousand tiles of tracks), 256 of them with their file held open. None
// is kept whole: a tile is packed as the track leaves it, while its cells
// are still in the processor's caches, which costs less than keeping
// several tiles' cells (which fall out of the caches) whole.
inline constexpr TileHand::Limits kImportHand{0, size_t(32) << 20, 256};

struct TrackRecorder {
  // Keys of the tile of the last accepted fix, in centidegrees (integral
  // values). They stay when the tile is released.
  double tileLatKey = 0.0;
  double tileLonKey = 0.0;
  std::unique_ptr<TrackTile> tile;  // the open tile, or none
  // The tiles a track left, kept in memory within hand.limits(). With no
  // limits set (as made), a change of tile releases the old tile (saving
  // it when changed) before the new one is read. With them, the old tile
  // goes into the hand, and when the hand passes its limits its least
  // recently used tiles are released (and saved) together, under one hold
  // of the store lock.
  TileHand hand;
  // 802816 zero bytes kept from a released tile for the next one's cells,
  // or none.
  std::unique_ptr<uint8_t[]> spareCells;
  // Cells this recorder marked that were unvisited when their tile was
  // read (counted whether or not the tile's save later succeeds).
  long long newCells = 0;
  // Releases whose save failed (their changes were lost).
  long long unsavedTiles = 0;
  // Tiles that could not be used as they should since this was last
  // emptied, each kind of problem once per tile: read but not written
  // (kUnreadable), not saved (kNotSaved, one per tile however often its
  // saves failed), or a damaged header replaced (kReplacedDamaged). The
  // log import hands them over to its report at the end of each log.
  std::vector<TileProblem> tileProblems;
  // The held tile exists but could not be read: its fixes are not
  // recorded and it is never written.
  bool tileUnavailable = false;
  // The held tile's file has a damaged header: saving it replaces the file.
  bool tileHeaderDamaged = false;

  ~TrackRecorder();  // releases the tiles it holds (saving them when dirty)
};

// Records one fix: `lat` and `lon` in degrees, north and east positive.
// Returns true when the fix was accepted (-180 < lat, lon < 180 strictly);
// a fix out of range (or NaN) is dropped and changes nothing. An accepted
// fix marks its cell (the tile becomes dirty when the cell was unvisited)
// and sets the block-mask bit of its cell's block, unless its tile's file
// exists but cannot be read: then nothing is marked (the file stays as it
// is) and the tile is named once in tileProblems.
bool AddPoint(TrackRecorder& recorder, double lat, double lon);

// The cell AddPoint marks for a fix at `lat`, `lon` (degrees), counted over
// the whole grid (see grid_line.h); false for a fix AddPoint drops (out of
// range or NaN), leaving *cell as it was.
bool CellOfFix(double lat, double lon, GridCell* cell);

// Marks `cell` as AddPoint marks a fix's cell: the tile is switched when the
// cell lies in another one (saving the old tile when changed), the cell is
// marked (counted in newCells when it was unvisited) and its block-mask bit
// is set; nothing is marked in a tile whose file cannot be read. A column
// outside the grid's -180..180 degrees is taken around the earth (a line
// across the 180th meridian).
void MarkCell(TrackRecorder& recorder, GridCell cell);

// Releases the recorder's tile with ReleaseTile (saving it when dirty), and
// every tile in hand, and leaves the recorder without one; the keys stay.
// Nothing happens when it holds no tile. Returns false only when a dirty
// tile could not be saved (its changes are lost; the file keeps its
// previous content), which also counts in unsavedTiles and adds a
// kNotSaved entry to tileProblems.
bool ReleaseRecorderTile(TrackRecorder& recorder);

// Whether a tile the recorder holds has marks that are not saved yet.
bool HasUnsavedMarks(const TrackRecorder& recorder);

// Saves every changed tile the recorder holds and keeps it in hand, no
// longer changed: marks of a live input reach the store (and the programs
// that show it) while the recorder goes on. A later save of such a tile
// merges whatever file it then finds. Returns false when a save failed:
// that tile stays changed, for the next save or its release to try again.
bool SaveRecorderTiles(TrackRecorder& recorder);

}  // namespace roamgrid
