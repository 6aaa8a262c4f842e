// `roamgrid-cli merge STORE...`: ORs every tile of other stores (the tile
// files below their RGD/) into this one, tile by tile through
// MergeTileFile, so one tile is in memory at a time and every replacement
// is the tile save's (complete file, store lock). The other stores are only
// read. A store merged into itself is refused.
#pragma once

#include <string>
#include <vector>

#include "store/tile_merge.h"

namespace roamgrid {

struct StoreMergeReport {
  // Why the store was not merged at all ("is this store", "has no RGD
  // folder"...); empty when it was walked.
  std::string refused;
  long long tileFiles = 0;     // tile files of the other store read
  long long tilesChanged = 0;  // tiles of this store replaced (or made)
  long long newCells = 0;      // cells marked here that were not before
  struct Problem {
    std::string path;  // the other store's tile, "OTHER/RGD/E139N035/E13975-N03500.map"
    std::string tilePath;  // this store's tile
    TileMerge merge;
  };
  std::vector<Problem> problems;              // tiles not merged, in path order
  std::vector<std::string> unreadableFolders;  // of the other store
  // Files of the other store named as tiles outside the grid
  // (IsTileNameOutsideGrid), not merged; in path order.
  std::vector<std::string> outsideGrid;
};

// Merges the store in the folder `store` (which holds RGD/) into the store
// of the working directory.
StoreMergeReport MergeStore(const std::string& store);

}  // namespace roamgrid
