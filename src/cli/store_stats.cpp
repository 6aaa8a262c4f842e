#include "cli/store_stats.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <system_error>

#include "common/temp_name.h"
#include "tiles/grid_units.h"
#include "tiles/tile_merge.h"
#include "tiles/track_tile.h"

namespace roamgrid {

namespace {

namespace fs = std::filesystem;

constexpr char kStoreRoot[] = "RGD";
constexpr int64_t kCellsPerDegree = int64_t{kCellsPerSide} * kGridPerDegree / kGridPerTile;
static_assert(kCellsPerDegree == 17920);
constexpr int kKeyDigits = 5;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the five digits of a key magnitude at text[at..at + 4].
std::optional<int32_t> KeyDigits(const std::string& text, size_t at) {
  int32_t value = 0;
  for (size_t i = at; i < at + kKeyDigits; ++i) {
    if (!IsDigit(text[i])) return {};
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Names of the entries of `folder` that are directories (wantFolders) or
// regular files, sorted. False when the folder cannot be listed.
bool ListFolder(const fs::path& folder, bool wantFolders, std::vector<std::string>* names) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return false;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) return false;
    std::error_code typeError;
    const bool wanted = wantFolders ? it->is_directory(typeError) : it->is_regular_file(typeError);
    if (wanted && !typeError) names->push_back(it->path().filename().string());
  }
  if (error) return false;
  std::sort(names->begin(), names->end());
  return true;
}

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

std::optional<TileKey> TileKeyFromPath(const std::string& path) {
  // "RGD/E139N035/E13975-N03500.map": the file name alone gives the keys;
  // the whole path must then be the one the store forms for them.
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  constexpr size_t kNameLength = 2 * (1 + kKeyDigits) + 1 + 4;  // E13975-N03500.map
  if (name.size() != kNameLength || name[6] != '-' || name.compare(13, 4, ".map") != 0) return {};
  const char ew = name[0];
  const char ns = name[7];
  if ((ew != 'E' && ew != 'W') || (ns != 'N' && ns != 'S')) return {};
  std::optional<int32_t> lon = KeyDigits(name, 1);
  std::optional<int32_t> lat = KeyDigits(name, 8);
  if (!lon || !lat) return {};
  const TileKey key{ns == 'S' ? -*lat : *lat, ew == 'W' ? -*lon : *lon};
  if (key.latKey % kCentiPerTile != 0 || key.lonKey % kCentiPerTile != 0) return {};
  if (NormalizeLonKey(key.lonKey) != key.lonKey) return {};
  char expected[kTilePathSize];
  if (!FormatTilePath(key.latKey, key.lonKey, expected) || path != expected) return {};
  return key;
}

double CellAreaKm2(int64_t cellRow) {
  constexpr double kDegree = std::numbers::pi / 180.0;
  const auto clampToPole = [](double degrees) { return std::clamp(degrees, -90.0, 90.0); };
  const double south = clampToPole(double(cellRow) / double(kCellsPerDegree)) * kDegree;
  const double north = clampToPole(double(cellRow + 1) / double(kCellsPerDegree)) * kDegree;
  const double side = kDegree / double(kCellsPerDegree);
  // sin(north) - sin(south), written so that the small difference keeps
  // its precision.
  const double sinDifference = 2.0 * std::cos((north + south) / 2) * std::sin((north - south) / 2);
  return kEarthRadiusKm * kEarthRadiusKm * side * sinDifference;
}

StoreStats CollectStoreStats(std::vector<ExplorerTileSet>* explorer) {
  StoreStats stats;
  std::error_code error;
  if (!fs::exists(kStoreRoot, error) && !error) return stats;  // no store yet
  std::vector<std::string> folders;
  if (!ListFolder(kStoreRoot, true, &folders)) {
    stats.unreadableFolders.push_back(kStoreRoot);
    return stats;
  }
  for (const std::string& folder : folders) {
    const std::string folderPath = std::string(kStoreRoot) + "/" + folder;
    std::vector<std::string> files;
    if (!ListFolder(folderPath, false, &files)) {
      stats.unreadableFolders.push_back(folderPath);
      continue;
    }
    for (const std::string& file : files) {
      const std::string path = folderPath + "/" + file;
      const std::optional<TileKey> key = TileKeyFromPath(path);
      if (!key) {
        if (TempFileWriter(file)) {
          stats.tempFiles.push_back(path);
        } else if (const std::optional<std::string> tile = ConflictCopyOf(file)) {
          const std::string tilePath = folderPath + "/" + *tile;
          if (const std::optional<TileKey> tileKey = TileKeyFromPath(tilePath))
            stats.conflictCopies.push_back({path, tilePath, *tileKey});
        }
        continue;
      }
      ++stats.tileFiles;
      // A fresh tile each time, so a tile whose header is damaged cannot
      // show the cells of the one before; only this one is in memory.
      TrackTile tile;
      tile.latKey = key->latKey;
      tile.lonKey = key->lonKey;
      FormatTilePath(tile.latKey, tile.lonKey, tile.path);
      const LoadResult result = LoadTile(tile);
      if (result != kLoaded) stats.notLoadedWhole.push_back({path, result});
      CountTile(tile, stats);
      if (explorer)
        for (ExplorerTileSet& set : *explorer) set.AddTile(tile);
    }
  }
  return stats;
}

}  // namespace roamgrid
