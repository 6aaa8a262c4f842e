// Counting visited cells by place: for each country and state the visited
// cells inside it and their area, for each continent the cells inside any
// of its countries, and the cells in no country ("at sea or unassigned").
// Tiles are added one at a time with their answer from the region index;
// a tile that lies inside its regions costs what counting its runs costs,
// and only a tile that a border crosses is looked at row by row.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "export/region_cells.h"
#include "geo/dcw_regions.h"
#include "geo/region_index.h"

namespace roamgrid {

struct PlaceCount {
  long long cells = 0;
  double km2 = 0;
  bool operator==(const PlaceCount&) const = default;
};

// What some tiles add to a tally: the regions they have cells in, with
// those cells, and the rest of the counts. Tiles hold distinct cells, so
// the parts of several tiles add up to their tally.
struct TallyPart {
  std::vector<std::pair<uint32_t, PlaceCount>> regions;  // by region index
  std::array<PlaceCount, kContinents.size()> continents{};
  PlaceCount atSea;
  PlaceCount total;
};

class PlacesTally {
 public:
  // Counts for `regions` (the index's table, which must outlive the tally
  // and keep its size).
  explicit PlacesTally(const std::vector<RegionInfo>& regions);

  // Adds the visited cells of the tile whose south edge is `latKey`:
  // `runs` in row order (tile rows 0..895, as RegionWalker gives them),
  // `answer` the tile's answer from RegionIndex.
  void AddTile(int32_t latKey, const std::vector<CellRun>& runs, const TileAnswer& answer);
  // The counts so far as a part (regions without cells left out), for
  // adding to another tally of the same regions.
  TallyPart Part() const;
  void AddPart(const TallyPart& part);
  // Back to no cells.
  void Clear();

  const std::vector<PlaceCount>& regions() const { return regions_; }
  const std::array<PlaceCount, kContinents.size()>& continents() const { return continents_; }
  const PlaceCount& atSea() const { return atSea_; }
  const PlaceCount& total() const { return total_; }

 private:
  const std::vector<RegionInfo>& info_;
  std::vector<PlaceCount> regions_;
  std::array<PlaceCount, kContinents.size()> continents_{};
  PlaceCount atSea_;
  PlaceCount total_;
  // Reused between tiles.
  std::vector<std::vector<RowIntervals>> rows_;
  std::vector<double> rowKm2_;
};

// One line of the places table.
struct PlaceLine {
  std::string code;  // "FR", "US.TX", "EU"
  std::string name;
  long long cells = 0;
  double km2 = 0;      // the visited cells' area
  double areaKm2 = 0;  // the region's; NaN when unknown
  double share = 0;    // km2 / areaKm2, 0..1; NaN when the area is unknown or 0
  // Bounds in degrees: west in -180..180, east beyond 180 for a region
  // across the antimeridian.
  double west = 0, south = 0, east = 0, north = 0;
  int32_t index = -1;  // region index, or continent index for continents
};

// The regions whose areas the lines of `level` need: the visited regions
// of that level, and for continents every country of a visited continent.
std::vector<uint16_t> AreasNeeded(const PlacesTally& tally, const std::vector<RegionInfo>& regions,
                                  PlaceLevel level);

// The visited places of `level` (countries, states or continents), sorted
// by code; a continent's area is the sum of its countries'.
std::vector<PlaceLine> PlaceLines(const PlacesTally& tally, const RegionIndex& index,
                                  PlaceLevel level);

// The same lines sorted by share, largest first (unknown shares last;
// equal shares by code).
std::vector<PlaceLine> SortedByShare(std::vector<PlaceLine> lines);

struct PlacesSummary {
  long long countries = 0;  // with at least one visited cell
  long long states = 0;
  long long continents = 0;
  PlaceCount atSea;  // cells in no country
  PlaceCount total;
};
PlacesSummary Summarize(const PlacesTally& tally, const std::vector<RegionInfo>& regions);

}  // namespace roamgrid
