#include "store/store_stats.h"

#include <algorithm>
#include <cmath>

#include "store/tile_merge.h"
#include "tiles/grid_units.h"
#include "tiles/track_tile.h"

namespace roamgrid {

namespace {

void CountTile(const TrackTile& tile, StoreStats& stats) {
  if (!tile.cells) return;
  const uint8_t* cells = tile.cells.get();
  const int64_t firstRow = int64_t{tile.latKey} / kCentiPerTile * kCellsPerSide;
  long long tileCells = 0;
  for (int row = 0; row < kCellsPerSide; ++row) {
    const uint8_t* begin = cells + size_t(row) * kCellsPerSide;
    int rowCells = 0;
    for (int column = 0; column < kCellsPerSide; ++column) rowCells += begin[column] != 0;
    if (rowCells == 0) continue;
    tileCells += rowCells;
    stats.visitedAreaKm2 += rowCells * CellAreaKm2(firstRow + row);
  }
  if (tileCells == 0) return;
  stats.visitedCells += tileCells;
  const StoreStats::Box tileBox{tile.latKey, tile.lonKey, tile.latKey + kCentiPerTile,
                                tile.lonKey + kCentiPerTile};
  if (!stats.visitedBox) {
    stats.visitedBox = tileBox;
    return;
  }
  StoreStats::Box& box = *stats.visitedBox;
  box.south = std::min(box.south, tileBox.south);
  box.west = std::min(box.west, tileBox.west);
  box.north = std::max(box.north, tileBox.north);
  box.east = std::max(box.east, tileBox.east);
}

}  // namespace

std::optional<StoreStats::ConflictCopy> ConflictCopyAt(const StoreEntry& entry) {
  if (entry.kind != StoreEntry::Kind::kOdd || !entry.regular) return std::nullopt;
  const std::optional<std::string> tile = ConflictCopyOf(entry.name);
  if (!tile) return std::nullopt;
  const std::string tilePath = entry.folder + "/" + *tile;
  const std::optional<TileKey> key = TileKeyFromPath(tilePath);
  if (!key) return std::nullopt;
  return StoreStats::ConflictCopy{entry.path, tilePath, *key};
}

StoreStats CollectStoreStats(std::vector<ExplorerTileSet>* explorer) {
  StoreStats stats;
  WalkStore([&](const StoreEntry& entry) {
    switch (entry.kind) {
      case StoreEntry::Kind::kUnreadableFolder:
        stats.unreadableFolders.push_back(entry.path);
        return;
      case StoreEntry::Kind::kTempFile:
        stats.tempFiles.push_back(entry.path);
        return;
      case StoreEntry::Kind::kOutsideGrid:
        stats.outsideGrid.push_back(entry.path);
        return;
      case StoreEntry::Kind::kOdd:
        // A sync tool's copy of a tile is named as such; the rest is odd.
        if (std::optional<StoreStats::ConflictCopy> copy = ConflictCopyAt(entry)) {
          stats.conflictCopies.push_back(std::move(*copy));
        } else {
          stats.oddEntries.push_back(entry);
        }
        return;
      case StoreEntry::Kind::kNotRegularTile:
        // What an import refuses to use is no sound tile either.
        ++stats.tileFiles;
        stats.notLoadedWhole.push_back({entry.path, kUnavailable, entry.error});
        return;
      case StoreEntry::Kind::kTileFile:
        break;
    }
    ++stats.tileFiles;
    // A fresh tile each time, so a tile whose header is damaged cannot
    // show the cells of the one before; only this one is in memory.
    TrackTile tile;
    tile.latKey = entry.key.latKey;
    tile.lonKey = entry.key.lonKey;
    FormatTilePath(tile.latKey, tile.lonKey, tile.path);
    int error = 0;
    const LoadResult result = LoadTile(tile, &error);
    if (result != kLoaded) stats.notLoadedWhole.push_back({entry.path, result, error});
    CountTile(tile, stats);
    if (explorer) {
      for (ExplorerTileSet& set : *explorer) set.AddTile(tile);
    }
  });
  return stats;
}

std::vector<ExplorerTileSet> ExplorerTileSets(const std::vector<int32_t>& zooms) {
  std::vector<ExplorerTileSet> sets;
  if (zooms.empty()) {
    for (int zoom : kDefaultExplorerZooms) sets.emplace_back(zoom);
  } else {
    for (int32_t zoom : zooms) sets.emplace_back(zoom);
  }
  return sets;
}

StoreStats CollectStoreStatsWithExplorer(std::vector<ExplorerTileSet>& sets) {
  auto finest = std::max_element(sets.begin(), sets.end(),
                                 [](const auto& a, const auto& b) { return a.zoom() < b.zoom(); });
  std::vector<ExplorerTileSet> walked;
  walked.push_back(std::move(*finest));
  StoreStats stats = CollectStoreStats(&walked);
  *finest = std::move(walked.front());
  for (ExplorerTileSet& set : sets)
    if (&set != &*finest) set.AddCoarsened(*finest);
  return stats;
}

}  // namespace roamgrid
