// ORing another copy of a tile into the store: the tile of another store
// (`merge`) or a conflict copy a file sync tool left beside the tile
// (`check --fold-conflicts`). Marks only accumulate, so the OR of two
// copies is exact in any order and a second OR changes nothing. The copy
// is only read; the store's tile is replaced through SaveTile (a complete
// temporary file renamed over it, under the store lock, keeping what
// another program saved meanwhile), one tile in memory at a time.
//
// Conflict copies: names that sync tools give a second version of a file,
// recognised only beside the tile they copy:
//   E13970-N03560.sync-conflict-20261207-101010-ABCDEFG.map   (Syncthing)
//   E13970-N03560 (Ann's conflicted copy 2026-12-07).map      (Dropbox)
//   E13970-N03560 (conflicted copy 2026-12-07 101010).map     (Nextcloud)
//   E13970-N03560.map.orig, E13970-N03560.map~                (editors, merges)
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace roamgrid {

struct TileMerge {
  enum class Outcome {
    kUnchanged,         // the copy adds nothing to the tile
    kMerged,            // the tile file was replaced with the OR
    kSourceUnreadable,  // the copy cannot be read (or is not a regular file)
    kSourceDamaged,     // the copy does not load whole: nothing of it is taken
    kTileUnreadable,    // the store's tile exists but cannot be read
    kTileDamaged,       // the store's tile does not load whole: left for `check`
    kNotSaved,          // the tile file could not be replaced
  };
  Outcome outcome = Outcome::kUnchanged;
  long long newCells = 0;  // cells the copy marked that the tile had not
  int error = 0;           // errno of a read or save that failed
};

// ORs the tile file at `sourcePath` into the store's tile (latKey,
// lonKey) below RGD/ in the working directory, creating it when missing.
TileMerge MergeTileFile(const std::string& sourcePath, int32_t latKey, int32_t lonKey);

// Why a tile of another store or a conflict copy was not ORed into the
// tile at `tilePath`; empty when it was.
std::string TileMergeProblem(const TileMerge& merge, const std::string& tilePath);

// The name of the tile file (no folder, "E13970-N03560.map") that the file
// `name` is a conflict copy of, by the patterns above; nothing otherwise.
// Whether that name is a tile of its folder is the caller's to judge.
std::optional<std::string> ConflictCopyOf(const std::string& name);

}  // namespace roamgrid
