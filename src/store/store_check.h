// The soundness of the tile store, for `roamgrid-cli check`: the tile files
// that do not load whole (and what stands at a tile's path but is no
// regular file), the folders that cannot be read, and the temporary files
// that a writer killed before its rename left in the tile folders. The
// store is walked with WalkStore, as CollectStoreStats walks it (every tile
// read once, one in memory at a time; no link followed); a temporary file
// counts as abandoned only when its writer no longer runs, decided while
// holding the store lock, under which `clean` removes it. Tile files, and
// whatever else the walk finds odd, are never changed.
#pragma once

#include <string>
#include <vector>

#include "common/task_progress.h"
#include "store/store_stats.h"
#include "store/tile_merge.h"

namespace roamgrid {

// A temporary file whose writer no longer runs.
struct AbandonedTempFile {
  std::string path;      // "RGD/E139N035/.roamgrid-4242-0.tmp"
  bool removed = false;  // by `clean`
  int error = 0;         // errno of a removal that failed
};

// A conflict copy of a tile (store/tile_merge.h) that a file sync tool
// left beside it.
struct ConflictCopyFound {
  std::string path;      // "RGD/E139N035/E13975-N03500.map~"
  std::string tilePath;  // the tile it copies
  bool folded = false;   // by `foldConflicts`: ORed into the tile and removed
  TileMerge merge;       // the fold's outcome (kUnchanged when not folded)
  int removeError = 0;   // errno of a removal that failed after the fold
};

struct StoreCheck {
  long long tileFiles = 0;
  std::vector<TileLoadFailure> notLoadedWhole;  // in path order
  std::vector<std::string> unreadableFolders;
  std::vector<AbandonedTempFile> abandonedTempFiles;  // in path order
  // Entries the store does not make (links, other names), left alone; they
  // are named but are no fault of the store.
  std::vector<StoreEntry> oddEntries;
  std::vector<ConflictCopyFound> conflictCopies;  // in path order
  // Tile names outside the grid (IsTileNameOutsideGrid), left alone: marks
  // there are at no place on earth, so they are a fault.
  std::vector<std::string> outsideGrid;
  // True when nothing was found (temporary files of running writers and
  // odd entries are not a fault).
  bool sound() const {
    return notLoadedWhole.empty() && unreadableFolders.empty() && abandonedTempFiles.empty() &&
           conflictCopies.empty() && outsideGrid.empty();
  }
};

// The conflict copies below "RGD" in the working directory, as CheckStore
// finds them, in path order. Only folders are listed: no tile is read, so
// this is quick enough for the desktop program to ask whenever the store
// changes.
std::vector<StoreStats::ConflictCopy> FindConflictCopies();

// ORs the conflict copy into its tile (when the copy loads whole and the
// tile can be read), then removes it under the store lock unless a sync
// tool replaced it meanwhile. What `check --fold-conflicts` does for each.
ConflictCopyFound FoldConflictCopy(const StoreStats::ConflictCopy& copy);

// Why a copy given to FoldConflictCopy is still there ("damaged", "it
// changed meanwhile; fold again", ...); empty when it was folded and
// removed. A copy folded but not removed says so with the reason.
std::string NotFoldedReason(const ConflictCopyFound& copy);

// What FoldConflictCopies did.
struct ConflictFold {
  size_t folded = 0;                    // copies ORed into their tiles and removed
  long long newCells = 0;               // cells they added to the tiles
  std::vector<ConflictCopyFound> left;  // copies still there (NotFoldedReason says why)
  bool stopped = false;                 // Cancel ended the fold early
};

// Folds every conflict copy of the store in turn, as `check
// --fold-conflicts` does (FindConflictCopies, FoldConflictCopy), for the
// desktop program: `progress` (may be null) is told of each copy, a wait
// for the store lock is told to it, and its Cancel stops the fold before
// the next copy (or gives the wait up; that tile is then not saved).
ConflictFold FoldConflictCopies(TaskProgress* progress);

// Checks the store below "RGD" in the working directory; with `clean`,
// removes the abandoned temporary files; with `foldConflicts`, ORs each
// conflict copy that loads whole into its tile and then removes it (a copy
// that cannot be read or is damaged, or whose tile cannot be, is left).
// No "RGD" is an empty, sound store.
StoreCheck CheckStore(bool clean, bool foldConflicts = false);

}  // namespace roamgrid
