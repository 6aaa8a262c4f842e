// Units of the trajectory store and the arithmetic that moves between them.
//   degree       coordinates of a GPS fix
//   centidegree  1/100 degree: tile keys, 5 per tile side
//   grid unit    1/400 degree: view coordinates, 20 per tile side
//   cell         1/17920 degree: 896 per tile side
#pragma once

#include <cstdint>

namespace roamgrid {

constexpr int kCellsPerSide = 896;
constexpr int kCellCount = kCellsPerSide * kCellsPerSide;
constexpr int kCellsPerGroup = 7;
constexpr int kGroupsPerRow = kCellsPerSide / kCellsPerGroup;
constexpr int kGroupCount = kCellCount / kCellsPerGroup;
static_assert(kCellCount == 802816);
static_assert(kGroupsPerRow == 128);
static_assert(kGroupCount == 114688);

constexpr int kCentiPerTile = 5;  // tile side in centidegrees
constexpr int kGridPerTile = 20;  // tile side in grid units
constexpr int kGridPerDegree = 400;
constexpr int64_t kCellsPerDegree = int64_t{kCellsPerSide} * kGridPerDegree / kGridPerTile;
static_assert(kCellsPerDegree == 17920);

// Integer division rounding toward minus infinity.
constexpr int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Remainder in 0..b-1 for b > 0.
constexpr int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }

// Tile key (centidegrees) of the tile that holds grid coordinate g.
constexpr int64_t TileKeyFromGrid(int64_t g) { return kCentiPerTile * FloorDiv(g, kGridPerTile); }

static_assert(FloorDiv(-1, 20) == -1 && FloorDiv(-20, 20) == -1 && FloorDiv(19, 20) == 0);
static_assert(TileKeyFromGrid(14260) == 3565 && TileKeyFromGrid(-5) == -5);

}  // namespace roamgrid
