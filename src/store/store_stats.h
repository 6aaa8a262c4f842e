// Counts over the whole tile store: how many tile files there are, which of
// them do not load whole, how many cells are visited, the approximate area
// those cells cover and the bounding box of the tiles that hold them. Every
// tile is read once, through LoadTile, and only one is in memory at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "geo/sphere_area.h"
#include "store/explorer_tiles.h"
#include "store/store_walk.h"
#include "tiles/tile_file.h"

namespace roamgrid {

// A tile file that did not load whole.
struct TileLoadFailure {
  std::string path;   // "RGD/E139N035/E13975-N03500.map"
  LoadResult result;  // kDamaged, or kUnavailable (kNoFile) when it could not be read
  int error = 0;      // errno of kUnavailable (EINVAL: not a regular file)
};

struct StoreStats {
  // Paths named as the store names its tiles, a link or a pipe there too.
  long long tileFiles = 0;
  // In path order; what is not a regular file under a tile's name is here
  // as kUnavailable with EINVAL (EISDIR for a folder).
  std::vector<TileLoadFailure> notLoadedWhole;
  std::vector<std::string> unreadableFolders;  // folders of the store that could not be listed
  // Files in the tiles' folders named as temporary files of this program
  // (common/temp_name.h), whether their writer still runs or not; in path
  // order.
  std::vector<std::string> tempFiles;
  // What WalkStore told as odd (StoreEntry::Kind::kOdd), in path order.
  std::vector<StoreEntry> oddEntries;
  // Names of tiles outside the grid (StoreEntry::Kind::kOutsideGrid), in
  // path order; never read.
  std::vector<std::string> outsideGrid;
  // Conflict copies of tiles that file sync tools left in the tiles'
  // folders (store/tile_merge.h), in path order; never read as tiles.
  struct ConflictCopy {
    std::string path;      // "RGD/E139N035/E13975-N03500.map~"
    std::string tilePath;  // "RGD/E139N035/E13975-N03500.map"
    TileKey key;
  };
  std::vector<ConflictCopy> conflictCopies;
  long long visitedCells = 0;
  double visitedAreaKm2 = 0.0;
  // Edges of the tiles that hold a visited cell, in centidegrees: south and
  // west edges of the southernmost and westernmost tile, north and east edges
  // (key + 5) of the northernmost and easternmost. None without a visited cell.
  struct Box {
    int32_t south, west, north, east;
    bool operator==(const Box&) const = default;
  };
  std::optional<Box> visitedBox;
};

// The conflict copy that `entry` of WalkStore is, when it is one: a
// regular file told as odd, named as a sync tool names a copy of a tile of
// its folder.
std::optional<StoreStats::ConflictCopy> ConflictCopyAt(const StoreEntry& entry);

// Walks the store below "RGD" in the working directory with WalkStore,
// loading every tile file once. No "RGD" is an empty store. Each tile read
// is also added to every set of `explorer` (when given).
StoreStats CollectStoreStats(std::vector<ExplorerTileSet>* explorer = nullptr);

// One set of explorer tiles per zoom of `zooms` (kDefaultExplorerZooms
// when empty), in the order given.
std::vector<ExplorerTileSet> ExplorerTileSets(const std::vector<int32_t>& zooms);

// CollectStoreStats in one walk for all of `sets`: the finest zoom is
// gathered from the cells, every other from it.
StoreStats CollectStoreStatsWithExplorer(std::vector<ExplorerTileSet>& sets);

}  // namespace roamgrid
