// The point recorder: turns a stream of GPS fixes (degrees) into visited
// cells of the trajectory store. It keeps the tile of the latest fix open
// while the following fixes stay inside it, and on a change of tile
// releases the old tile (saving it when changed) before opening the new one.
#pragma once

#include <memory>
#include <string>
#include <vector>

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

struct TrackRecorder {
  // Keys of the tile of the last accepted fix, in centidegrees (integral
  // values). They stay when the tile is released.
  double tileLatKey = 0.0;
  double tileLonKey = 0.0;
  std::unique_ptr<TrackTile> tile;  // the open tile, or none
  // Releases whose save failed (their changes were lost), counted so that a
  // front end can report them; nothing in the recorder acts on it.
  long long unsavedTiles = 0;
  // Tiles met since the importer last took them: each failed save is one
  // kNotSaved entry, for the import's report.
  std::vector<TileProblem> tileProblems;

  ~TrackRecorder();  // releases a held tile (saving it when dirty)
};

// Records one fix: `lat` and `lon` in degrees, north and east positive.
// Returns true when the fix was accepted (-180 < lat, lon < 180 strictly);
// a fix out of range (or NaN) is dropped and changes nothing. An accepted
// fix marks its cell (the tile becomes dirty when the cell was unvisited)
// and sets the block-mask bit of its cell's block.
bool AddPoint(TrackRecorder& recorder, double lat, double lon);

// Releases the recorder's tile with ReleaseTile (saving it when dirty) and
// leaves the recorder without one; the keys stay. Nothing happens when it
// holds no tile. Returns false only when a dirty tile could not be saved
// (its changes are lost; the file keeps its previous content), which also
// counts in unsavedTiles and adds a kNotSaved entry to tileProblems.
bool ReleaseRecorderTile(TrackRecorder& recorder);

}  // namespace roamgrid
