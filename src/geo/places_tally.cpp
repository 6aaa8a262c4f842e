#include "geo/places_tally.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geo/sphere_area.h"
#include "tiles/grid_units.h"

namespace roamgrid {

namespace {

const RowIntervals kWholeRow = {{uint16_t(0), uint16_t(kCellsPerSide)}};

// Cells of the runs [begin, end) (one row, west to east) inside `intervals`.
long long Overlap(const CellRun* begin, const CellRun* end, const RowIntervals& intervals) {
  long long cells = 0;
  auto interval = intervals.begin();
  for (const CellRun* run = begin; run != end && interval != intervals.end(); ++run) {
    while (interval != intervals.end() && interval->second <= run->from) ++interval;
    for (auto i = interval; i != intervals.end() && i->first < run->to; ++i)
      cells += std::min<int>(i->second, run->to) - std::max<int>(i->first, run->from);
  }
  return cells;
}

void Add(PlaceCount& to, long long cells, double km2) {
  to.cells += cells;
  to.km2 += km2;
}

}  // namespace

PlacesTally::PlacesTally(const std::vector<RegionInfo>& regions)
    : info_(regions), regions_(regions.size()) {}

TallyPart PlacesTally::Part() const {
  TallyPart part;
  for (size_t r = 0; r < regions_.size(); ++r)
    if (regions_[r].cells != 0) part.regions.emplace_back(uint32_t(r), regions_[r]);
  part.continents = continents_;
  part.atSea = atSea_;
  part.total = total_;
  return part;
}

void PlacesTally::AddPart(const TallyPart& part) {
  for (const auto& [region, count] : part.regions)
    if (region < regions_.size()) Add(regions_[region], count.cells, count.km2);
  for (size_t c = 0; c < continents_.size(); ++c)
    Add(continents_[c], part.continents[c].cells, part.continents[c].km2);
  Add(atSea_, part.atSea.cells, part.atSea.km2);
  Add(total_, part.total.cells, part.total.km2);
}

void PlacesTally::Clear() {
  std::fill(regions_.begin(), regions_.end(), PlaceCount{});
  continents_.fill(PlaceCount{});
  atSea_ = PlaceCount{};
  total_ = PlaceCount{};
}

void PlacesTally::AddTile(int32_t latKey, const std::vector<CellRun>& runs,
                          const TileAnswer& answer) {
  if (runs.empty()) return;
  const int64_t row0 = FloorDiv(latKey, kCentiPerTile) * kCellsPerSide;
  // The countries of the tile (index into `answer`), and their continents.
  std::vector<size_t> countries;
  bool touching = false;
  for (size_t e = 0; e < answer.size(); ++e) {
    if (answer[e].region >= info_.size()) continue;
    if (info_[answer[e].region].level == PlaceLevel::kCountry) countries.push_back(e);
    touching = touching || answer[e].cover == TileCover::kTouching;
  }
  std::vector<int> continents;
  for (size_t e : countries) {
    const int c = info_[answer[e].region].continent;
    if (c >= 0 && std::find(continents.begin(), continents.end(), c) == continents.end())
      continents.push_back(c);
  }

  if (!touching) {
    // The tile lies wholly inside each of its regions: every cell counts.
    long long cells = 0;
    double km2 = 0;
    for (size_t at = 0; at < runs.size();) {
      const int row = runs[at].row;
      long long rowCells = 0;
      for (; at < runs.size() && runs[at].row == row; ++at) rowCells += runs[at].to - runs[at].from;
      cells += rowCells;
      km2 += double(rowCells) * CellAreaKm2(row0 + row);
    }
    Add(total_, cells, km2);
    for (const TileRegion& entry : answer) {
      if (entry.region < regions_.size()) Add(regions_[entry.region], cells, km2);
    }
    for (int c : continents) Add(continents_[size_t(c)], cells, km2);
    if (countries.empty()) Add(atSea_, cells, km2);
    return;
  }

  rows_.resize(answer.size());
  for (size_t e = 0; e < answer.size(); ++e) {
    if (answer[e].cover != TileCover::kTouching) continue;
    // The index checked these bytes when it made or read them.
    if (!DecodeRows(answer[e].rows.data(), answer[e].rows.size(), rows_[e]))
      rows_[e].assign(kCellsPerSide, {});
  }
  const auto rowOf = [&](size_t e, int row) -> const RowIntervals& {
    return answer[e].cover == TileCover::kTouching ? rows_[e][size_t(row)] : kWholeRow;
  };
  std::vector<const RowIntervals*> parts;
  for (size_t at = 0; at < runs.size();) {
    const int row = runs[at].row;
    const CellRun* begin = runs.data() + at;
    long long rowCells = 0;
    for (; at < runs.size() && runs[at].row == row; ++at) rowCells += runs[at].to - runs[at].from;
    const CellRun* end = runs.data() + at;
    const double cellKm2 = CellAreaKm2(row0 + row);
    Add(total_, rowCells, double(rowCells) * cellKm2);
    for (size_t e = 0; e < answer.size(); ++e) {
      if (answer[e].region >= regions_.size()) continue;
      const long long inside = Overlap(begin, end, rowOf(e, row));
      if (inside > 0) Add(regions_[answer[e].region], inside, double(inside) * cellKm2);
    }
    for (int c : continents) {
      parts.clear();
      for (size_t e : countries) {
        if (info_[answer[e].region].continent == c) parts.push_back(&rowOf(e, row));
      }
      const long long inside = Overlap(begin, end, UnionOf(parts));
      Add(continents_[size_t(c)], inside, double(inside) * cellKm2);
    }
    parts.clear();
    for (size_t e : countries) parts.push_back(&rowOf(e, row));
    const long long sea = rowCells - Overlap(begin, end, UnionOf(parts));
    Add(atSea_, sea, double(sea) * cellKm2);
  }
}

std::vector<uint16_t> AreasNeeded(const PlacesTally& tally, const std::vector<RegionInfo>& regions,
                                  PlaceLevel level) {
  std::vector<uint16_t> needed;
  for (size_t r = 0; r < regions.size(); ++r) {
    const RegionInfo& region = regions[r];
    bool wanted = false;
    if (level == PlaceLevel::kContinent) {
      wanted = region.level == PlaceLevel::kCountry && region.continent >= 0 &&
               tally.continents()[size_t(region.continent)].cells > 0;
    } else {
      wanted = region.level == level && r < tally.regions().size() && tally.regions()[r].cells > 0;
    }
    if (wanted) needed.push_back(uint16_t(r));
  }
  return needed;
}

std::vector<PlaceLine> PlaceLines(const PlacesTally& tally, const RegionIndex& index,
                                  PlaceLevel level) {
  const std::vector<RegionInfo>& regions = index.regions();
  const double unknown = std::numeric_limits<double>::quiet_NaN();
  std::vector<PlaceLine> lines;
  const auto finish = [&](PlaceLine& line) {
    line.share = line.areaKm2 > 0 ? std::min(line.km2 / line.areaKm2, 1.0) : unknown;
  };
  if (level == PlaceLevel::kContinent) {
    for (size_t c = 0; c < kContinents.size(); ++c) {
      const PlaceCount& count = tally.continents()[c];
      if (count.cells == 0) continue;
      PlaceLine line{
          kContinents[c].code, kContinents[c].name, count.cells, count.km2, 0, 0, 0, 0, 0, 0,
          int32_t(c)};
      bool first = true;
      for (size_t r = 0; r < regions.size(); ++r) {
        const RegionInfo& region = regions[r];
        if (region.level != PlaceLevel::kCountry || region.continent != int32_t(c)) continue;
        line.areaKm2 += index.AreaKm2(r);  // NaN when one is unknown
        const double west = region.west - 360 * std::floor((region.west + 180) / 360);
        const double east = west + (region.east - region.west);
        line.west = first ? west : std::min(line.west, west);
        line.east = first ? east : std::max(line.east, east);
        line.south = first ? region.south : std::min(line.south, region.south);
        line.north = first ? region.north : std::max(line.north, region.north);
        first = false;
      }
      finish(line);
      lines.push_back(std::move(line));
    }
  } else {
    for (size_t r = 0; r < regions.size() && r < tally.regions().size(); ++r) {
      const RegionInfo& region = regions[r];
      const PlaceCount& count = tally.regions()[r];
      if (region.level != level || count.cells == 0) continue;
      PlaceLine line{region.code, region.name, count.cells, count.km2, index.AreaKm2(r), 0,
                     0,           0,           0,           0,         int32_t(r)};
      line.west = region.west - 360 * std::floor((region.west + 180) / 360);
      line.east = line.west + (region.east - region.west);
      line.south = region.south;
      line.north = region.north;
      finish(line);
      lines.push_back(std::move(line));
    }
  }
  std::sort(lines.begin(), lines.end(),
            [](const PlaceLine& a, const PlaceLine& b) { return a.code < b.code; });
  return lines;
}

std::vector<PlaceLine> SortedByShare(std::vector<PlaceLine> lines) {
  std::stable_sort(lines.begin(), lines.end(), [](const PlaceLine& a, const PlaceLine& b) {
    const bool aKnown = !std::isnan(a.share);
    const bool bKnown = !std::isnan(b.share);
    if (aKnown != bKnown) return aKnown;
    if (aKnown && a.share != b.share) return a.share > b.share;
    return a.code < b.code;
  });
  return lines;
}

PlacesSummary Summarize(const PlacesTally& tally, const std::vector<RegionInfo>& regions) {
  PlacesSummary summary;
  for (size_t r = 0; r < regions.size() && r < tally.regions().size(); ++r) {
    if (tally.regions()[r].cells == 0) continue;
    if (regions[r].level == PlaceLevel::kCountry) ++summary.countries;
    if (regions[r].level == PlaceLevel::kState) ++summary.states;
  }
  for (const PlaceCount& count : tally.continents()) summary.continents += count.cells > 0;
  summary.atSea = tally.atSea();
  summary.total = tally.total();
  return summary;
}

}  // namespace roamgrid
