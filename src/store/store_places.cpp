#include "store/store_places.h"

#include <algorithm>
#include <cerrno>

#include "common/safe_file.h"
#include "common/text.h"
#include "store/store_walk.h"
#include "tiles/grid_units.h"
#include "tiles/tile_file.h"

namespace roamgrid {

namespace {

constexpr int64_t kCellsAround = 360 * kCellsPerDegree;

// The part of a tile to count: rows [rowFrom, rowTo) and up to two column
// windows (a box across the antimeridian may meet a tile at both ends).
struct TileWindow {
  int rowFrom = 0, rowTo = kCellsPerSide;
  int columns[2][2] = {{0, kCellsPerSide}, {0, 0}};
  int windows = 1;
};

// The window of tile (latKey, lonKey) inside `region`; none when it misses.
std::optional<TileWindow> WindowOf(const std::optional<CellRegion>& region, int32_t latKey,
                                   int32_t lonKey) {
  TileWindow window;
  if (!region) return window;
  const int64_t row0 = FloorDiv(latKey, kCentiPerTile) * kCellsPerSide;
  const int64_t column0 = FloorDiv(lonKey, kCentiPerTile) * kCellsPerSide;
  const auto clamp = [](int64_t v) { return int(std::clamp<int64_t>(v, 0, kCellsPerSide)); };
  window.rowFrom = clamp(region->south - row0);
  window.rowTo = clamp(region->north - row0);
  window.windows = 0;
  for (int64_t shift : {int64_t{0}, kCellsAround}) {
    const int from = clamp(region->west - (column0 + shift));
    const int to = clamp(region->east - (column0 + shift));
    if (from < to) {
      window.columns[window.windows][0] = from;
      window.columns[window.windows][1] = to;
      ++window.windows;
    }
  }
  if (window.rowFrom >= window.rowTo || window.windows == 0) return std::nullopt;
  return window;
}

// Adds the visited cells inside `window` of the tile file bytes `file` of
// tile (latKey, lonKey) to `tally`. False when the bytes do not load whole.
bool AddWindowPlaces(const uint8_t* file, size_t size, int32_t latKey, int32_t lonKey,
                     const TileWindow& w, RegionIndex& index, PlacesTally& tally) {
  std::vector<CellRun> runs;
  const LoadResult result =
      CollectTileRuns(file, size, w.rowFrom, w.rowTo, w.columns[0][0], w.columns[0][1], runs);
  if (w.windows == 2) {
    std::vector<CellRun> second;
    CollectTileRuns(file, size, w.rowFrom, w.rowTo, w.columns[1][0], w.columns[1][1], second);
    runs.insert(runs.end(), second.begin(), second.end());
    std::sort(runs.begin(), runs.end(), [](const CellRun& a, const CellRun& b) {
      return a.row != b.row ? a.row < b.row : a.from < b.from;
    });
  }
  if (const TileAnswer* answer = index.Answer(latKey, lonKey)) tally.AddTile(latKey, runs, *answer);
  return result == kLoaded;
}

}  // namespace

std::vector<StoreTileFile> ListStoreTileFiles(std::vector<std::string>& problems) {
  std::vector<StoreTileFile> tiles;
  WalkStore([&](const StoreEntry& entry) {
    switch (entry.kind) {
      case StoreEntry::Kind::kUnreadableFolder:
        problems.push_back("cannot read the folder " + Quoted(entry.path));
        return;
      case StoreEntry::Kind::kNotRegularTile:
        problems.push_back(Quoted(entry.path) + ": cannot be read: " + FileErrorText(entry.error));
        return;
      case StoreEntry::Kind::kTileFile:
        tiles.push_back({entry.path, entry.key.latKey, entry.key.lonKey});
        return;
      case StoreEntry::Kind::kTempFile:
      case StoreEntry::Kind::kOdd:
      case StoreEntry::Kind::kOutsideGrid:  // no place on earth; stats and check name them
        return;
    }
  });
  return tiles;
}

bool AddTilePlaces(const uint8_t* file, size_t size, int32_t latKey, int32_t lonKey,
                   RegionIndex& index, PlacesTally& tally) {
  return AddWindowPlaces(file, size, latKey, lonKey, TileWindow{}, index, tally);
}

StorePlaces CountStorePlaces(RegionIndex& index, const std::optional<CellRegion>& box) {
  StorePlaces count;
  struct Counted {
    StoreTileFile tile;
    TileWindow window;
  };
  std::vector<Counted> tiles;
  for (StoreTileFile& tile : ListStoreTileFiles(count.problems))
    if (auto window = WindowOf(box, tile.latKey, tile.lonKey))
      tiles.push_back({std::move(tile), *window});

  std::vector<std::pair<int32_t, int32_t>> keys;
  keys.reserve(tiles.size());
  for (const Counted& counted : tiles) keys.emplace_back(counted.tile.latKey, counted.tile.lonKey);
  if (!index.Prepare(keys)) return count;

  PlacesTally& tally = count.tally.emplace(index.regions());
  std::vector<uint8_t> file(kMaxTileFileSize);
  for (const Counted& counted : tiles) {
    const StoreTileFile& tile = counted.tile;
    int error = 0;
    const long size = ReadTileFile(tile.path.c_str(), file.data(), &error);
    if (size < 0) {
      // A tile removed since the walk has nothing to count.
      if (error != ENOENT)
        count.problems.push_back(Quoted(tile.path) + ": cannot be read: " + FileErrorText(error));
      continue;
    }
    if (!AddWindowPlaces(file.data(), size_t(size), tile.latKey, tile.lonKey, counted.window, index,
                         tally))
      count.problems.push_back(Quoted(tile.path) + ": damaged");
  }
  return count;
}

std::vector<PlaceLine> StorePlaceLines(const PlacesTally& tally, RegionIndex& index,
                                       PlaceLevel level) {
  if (!index.PrepareAreas(AreasNeeded(tally, index.regions(), level))) return {};
  return PlaceLines(tally, index, level);
}

}  // namespace roamgrid
