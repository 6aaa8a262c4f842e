// The region index: for each store tile (0.05 x 0.05 degree), which
// countries and states it lies wholly inside, which it touches, and, for
// those it touches, which of its cells lie inside: a cell belongs to a
// region when its centre does (geo/dcw_regions.h, even-odd rule).
//
// The answers are worked out once per tile and kept in a cache file,
// ${XDG_CACHE_HOME:-~/.cache}/roamgrid/places.idx, with the region table
// (codes, names, areas), so that a later run reads neither the outlines
// nor anything else of gmt-dcw but the status of its files. The cache
// belongs to the gmt-dcw files it was made from (their sizes and times); a
// cache of other files, of another format or damaged is dropped and built
// anew. Outlines are read only for tiles not yet in the cache, one region
// at a time.
//
// Inside a tile a region's cells are found row by row: the crossings of a
// cell row's centre line with the region's edges come from one pass over
// the edges of the tile's latitude band, not from a test per cell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "geo/dcw_regions.h"

namespace roamgrid {

// Centre of a cell in degrees: the latitude of global cell row `row`
// (row 0 just north of the equator) and the longitude of global cell
// column `column` (column 0 just east of the prime meridian).
inline double CellCentreLat(int64_t row) { return (double(row) + 0.5) / 17920.0; }
inline double CellCentreLon(int64_t column) { return (double(column) + 0.5) / 17920.0; }

// The cells of one tile row that lie inside a region: column intervals
// [from, to), west to east, apart from each other.
using RowIntervals = std::vector<std::pair<uint16_t, uint16_t>>;

// The cells in any of `parts`, as intervals apart from each other.
RowIntervals UnionOf(const std::vector<const RowIntervals*>& parts);

// How a region covers a tile.
enum class TileCover : uint8_t { kInside = 1, kTouching = 2 };

struct TileRegion {
  uint16_t region = 0;  // index in the region table
  TileCover cover = TileCover::kInside;
  // kTouching: the cells inside, every row's intervals (EncodeRows).
  std::vector<uint8_t> rows;
  bool operator==(const TileRegion&) const = default;
};
// The regions of one tile that it lies in or touches, by region index. A
// tile at sea has none.
using TileAnswer = std::vector<TileRegion>;

// The 896 rows' intervals as bytes: per row the number of intervals, then
// for each the gap from the previous interval's end and its length, all as
// base-128 numbers.
std::vector<uint8_t> EncodeRows(const std::vector<RowIntervals>& rows);
// Reads what EncodeRows wrote into 896 rows; false for anything else
// (intervals beyond the row, empty, out of order or touching, bytes left
// over or missing).
bool DecodeRows(const uint8_t* data, size_t size, std::vector<RowIntervals>& rows);

// How region `region` (its decoded `shape`) covers tile (latKey, lonKey),
// at the tile's longitude and one turn east and west of it; nothing when it
// misses every cell centre of the tile.
std::optional<TileRegion> ClassifyTile(const RegionShape& shape, uint16_t region, int32_t latKey,
                                       int32_t lonKey);

// The cache file: $XDG_CACHE_HOME/roamgrid/places.idx ($XDG_CACHE_HOME when
// absolute, else $HOME/.cache); empty when neither names an absolute folder.
std::string PlacesCachePath();

// The bytes of a cache file around `body`: a header (magic, version, sizes,
// checksum), then the body deflated. Empty when it cannot be compressed.
std::vector<uint8_t> PlacesCacheFile(const std::vector<uint8_t>& body);

// What the index did, for reports and tests.
struct RegionIndexReport {
  bool cacheRead = false;        // answers came from the cache file
  bool cacheDropped = false;     // a cache file was there but damaged, foreign or stale
  long long tilesWorkedOut = 0;  // tiles classified in this run
  long long outlinesRead = 0;    // region outlines decoded in this run
  bool cacheWritten = false;
  std::string cacheProblem;  // why the cache could not be written (nothing lost but time)
};

class RegionIndex {
 public:
  // Reads outlines through `catalogue` (opened only when needed); keeps
  // answers in `cachePath` (none when empty).
  RegionIndex(DcwCatalogue& catalogue, std::string cachePath);
  ~RegionIndex();
  RegionIndex(const RegionIndex&) = delete;
  RegionIndex& operator=(const RegionIndex&) = delete;

  // Makes sure that every tile of `tiles` (latKey, lonKey) has its answer.
  // False when the outlines are needed and cannot be read: missing (see
  // catalogue().missing()), damaged or foreign; catalogue().problem() says
  // why in one line.
  bool Prepare(const std::vector<std::pair<int32_t, int32_t>>& tiles);
  // Makes sure that the areas of `regions` are known (outlines read for
  // those not yet measured); false as Prepare. The region table stays as
  // Prepare left it.
  bool PrepareAreas(const std::vector<uint16_t>& regions);

  // The answer for a tile that Prepare was given (or that the cache holds);
  // null for another.
  const TileAnswer* Answer(int32_t latKey, int32_t lonKey) const;
  const std::vector<RegionInfo>& regions() const { return regions_; }
  // km^2; NaN while not measured.
  double AreaKm2(size_t region) const;

  // Writes the cache when this run added to it. False (reason in report())
  // when it cannot be written; the answers are right all the same.
  bool Save();
  const RegionIndexReport& report() const { return report_; }
  DcwCatalogue& catalogue() { return catalogue_; }
  // What Save puts into PlacesCacheFile: the files' identity, the region
  // table and every tile's answer, in key order.
  std::vector<uint8_t> CacheBody() const;

 private:
  bool Start();  // checks the files and reads the cache, once
  bool TakeCatalogueRegions();
  bool ReadCache();
  bool ReadCacheBody(const std::vector<uint8_t>& body);

  DcwCatalogue& catalogue_;
  std::string cachePath_;
  bool started_ = false;
  bool startFailed_ = false;
  bool changed_ = false;
  std::string identity_;  // of the gmt-dcw files (DcwCatalogue::Identity)
  std::vector<RegionInfo> regions_;
  std::vector<double> areas_;
  std::unordered_map<uint64_t, TileAnswer> answers_;
  RegionIndexReport report_;
};

}  // namespace roamgrid
