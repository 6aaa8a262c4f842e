// Generated tile contents for the view tests and benchmarks: GPS-like
// tracks, fully marked tiles, and the block masks that the recorder would
// give them. Written as complete tile files into the store below the
// working directory. Used by the tests and the benchmarks alike.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tiles/grid_units.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

namespace roamgrid::testing {

struct GeneratedTile {
  std::unique_ptr<uint8_t[]> cells = std::make_unique<uint8_t[]>(kCellCount);
  uint8_t northMask = 0;
  uint8_t southMask = 0;

  // Marks a cell and sets its block bit as the recorder does.
  void Mark(int row, int column) {
    cells[size_t(row) * kCellsPerSide + size_t(column)] = 1;
    uint8_t bit = uint8_t(1u << (column / 224));
    if (row < 448) {
      southMask |= row >= 224 ? uint8_t(bit << 4) : bit;
    } else {
      northMask |= row >= 672 ? uint8_t(bit << 4) : bit;
    }
  }
  std::vector<uint8_t> File() const { return EncodeTile(northMask, southMask, cells.get()); }
};

// A GPS track through the tile: fixes a few cells apart along a wandering
// heading, as a drive or a walk leaves them. 420 fixes give a file of about
// 1,400 bytes.
inline GeneratedTile TrackTileContent(std::mt19937& random, int fixes = 420) {
  GeneratedTile tile;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double row = unit(random) * 896, column = unit(random) * 896;
  double heading = unit(random) * 6.2832;
  for (int n = 0; n < fixes; ++n) {
    heading += (unit(random) - 0.5) * 0.6;
    const double step = 1.5 + unit(random) * 3.0;
    row += step * std::sin(heading);
    column += step * std::cos(heading);
    // Turn back at the tile's edge so the whole track stays inside.
    if (row < 0 || row >= 896 || column < 0 || column >= 896) {
      heading += 3.1416;
      row = std::clamp(row, 0.0, 895.0);
      column = std::clamp(column, 0.0, 895.0);
    }
    tile.Mark(int(row), int(column));
  }
  return tile;
}

inline GeneratedTile FullTileContent() {
  GeneratedTile tile;
  std::fill(tile.cells.get(), tile.cells.get() + kCellCount, 1);
  tile.northMask = tile.southMask = 0xFF;
  return tile;
}

inline std::string TilePath(int64_t latKey, int64_t lonKey) {
  char path[kTilePathSize];
  FormatTilePath(int32_t(latKey), NormalizeLonKey(lonKey), path);
  return path;
}

// Writes `bytes` as the file of tile (latKey, lonKey) below the working
// directory.
inline void WriteTileFile(int64_t latKey, int64_t lonKey, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path path = TilePath(latKey, lonKey);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace roamgrid::testing
