#include "geo/region_index.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

#include "common/safe_file.h"
#include "tiles/grid_units.h"

namespace roamgrid {

namespace {

constexpr double kTileDegrees = 0.05;
// A tile counts as touched by an edge that passes this close to it, so
// that rounding can never hide an edge that separates two cell centres.
constexpr double kTouchSlack = 1e-9;
constexpr double kTurn = 360;

// The cache file: a header, then the body deflated.
constexpr char kCacheMagic[8] = {'R', 'G', 'P', 'L', 'A', 'C', 'E', 'S'};
constexpr uint32_t kCacheVersion = 1;
constexpr size_t kCacheHeaderSize = 8 + 4 + 4 + 8 + 8 + 4;
// The largest body a cache may have; a larger one is dropped, not read.
constexpr uint64_t kMaxCacheBody = uint64_t(1) << 30;
constexpr char kCacheName[] = "places.idx";

uint64_t TileId(int32_t latKey, int32_t lonKey) {
  return uint64_t(uint32_t(latKey)) << 32 | uint32_t(lonKey);
}

// The first k in 0..896 with value(k) >= v, for value increasing in k;
// `estimate` is a guess that is at most a step or two off.
template <class Value>
int FirstAtLeast(double v, int64_t estimate, Value value) {
  int k = int(std::clamp<int64_t>(estimate, 0, kCellsPerSide));
  while (k > 0 && value(k - 1) >= v) --k;
  while (k < kCellsPerSide && value(k) < v) ++k;
  return k;
}

// The first row or column index of a tile whose cell centre is at least
// `degrees` (with `shift` added to the centres), given the tile's first
// global cell index.
int FirstCentreAtLeast(double degrees, int64_t first, double shift) {
  const double guess = std::ceil((degrees - shift) * double(kCellsPerDegree) - 0.5);
  const int64_t estimate =
      std::isfinite(guess) && std::fabs(guess) < 1e15 ? int64_t(guess) - first : 0;
  return FirstAtLeast(degrees, estimate, [&](int k) { return CellCentreLon(first + k) + shift; });
}

// Whether the segment (x1, y1)-(x2, y2) has a point in the closed
// rectangle [x0, x1r] x [y0, y1r] (Liang-Barsky).
bool SegmentMeetsBox(double ax, double ay, double bx, double by, double left, double right,
                     double bottom, double top) {
  if (std::max(ax, bx) < left || std::min(ax, bx) > right || std::max(ay, by) < bottom ||
      std::min(ay, by) > top)
    return false;
  double t0 = 0;
  double t1 = 1;
  const double dx = bx - ax;
  const double dy = by - ay;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {ax - left, right - ax, ay - bottom, top - ay};
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0) {
      if (q[k] < 0) return false;
      continue;
    }
    const double t = q[k] / p[k];
    if (p[k] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
  }
  return true;
}

// The rows of one shift of a touched tile: for every cell row the
// crossings of its centre line with the band's edges, turned into the
// columns that lie inside (an odd number of crossings east of the centre).
std::vector<RowIntervals> TouchedRows(const RegionShape& shape,
                                      std::pair<const uint32_t*, const uint32_t*> edges,
                                      int64_t row0, int64_t column0, double shift) {
  // (row << 11) | column of each crossing that counts for the columns
  // west of it: those whose centre lies west of the crossing.
  std::vector<uint32_t> crossings;
  const double* lon = shape.lon.data();
  const double* lat = shape.lat.data();
  for (const uint32_t* e = edges.first; e != edges.second; ++e) {
    const uint32_t i = *e;
    const uint32_t j = shape.next[i];
    const double yi = lat[i];
    const double yj = lat[j];
    if (yi == yj) continue;
    // The rows whose centre line the edge crosses: centres in [low, high).
    const auto rowAt = [&](double y) {
      const double guess = std::ceil(y * double(kCellsPerDegree) - 0.5);
      return FirstAtLeast(y, int64_t(guess) - row0, [&](int k) { return CellCentreLat(row0 + k); });
    };
    const int fromRow = rowAt(std::min(yi, yj));
    const int toRow = rowAt(std::max(yi, yj));
    for (int r = fromRow; r < toRow; ++r) {
      const double y = CellCentreLat(row0 + r);
      const double x = (lon[j] - lon[i]) * (y - yi) / (yj - yi) + lon[i];
      const int k = FirstCentreAtLeast(x, column0, shift);
      if (k > 0) crossings.push_back(uint32_t(r) << 11 | uint32_t(k));
    }
  }
  std::sort(crossings.begin(), crossings.end());
  std::vector<RowIntervals> rows(kCellsPerSide);
  size_t at = 0;
  while (at < crossings.size()) {
    const uint32_t row = crossings[at] >> 11;
    size_t end = at;
    while (end < crossings.size() && crossings[end] >> 11 == row) ++end;
    // Columns [previous, k) lie west of the crossings from here on.
    size_t remaining = end - at;
    uint16_t from = 0;
    RowIntervals& intervals = rows[row];
    for (size_t c = at; c < end; ++c, --remaining) {
      const uint16_t k = uint16_t(crossings[c] & 0x7FF);
      if (remaining % 2 == 1 && k > from) {
        if (!intervals.empty() && intervals.back().second == from) {
          intervals.back().second = k;
        } else {
          intervals.emplace_back(from, k);
        }
      }
      from = std::max(from, k);
    }
    at = end;
  }
  return rows;
}

void PutVarint(std::vector<uint8_t>& out, uint32_t value) {
  while (value >= 0x80) {
    out.push_back(uint8_t(value | 0x80));
    value >>= 7;
  }
  out.push_back(uint8_t(value));
}

// Reads bytes with every length checked; once anything is missing every
// read fails.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}
  bool ok() const { return ok_; }
  bool done() const { return at_ == end_; }
  size_t left() const { return size_t(end_ - at_); }

  uint32_t Varint() {
    uint32_t value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      if (!Need(1)) return 0;
      const uint8_t byte = *at_++;
      value |= uint32_t(byte & 0x7F) << shift;
      if (!(byte & 0x80)) return value;
    }
    ok_ = false;
    return 0;
  }
  uint64_t Unsigned(int bytes) {
    if (!Need(size_t(bytes))) return 0;
    uint64_t value = 0;
    for (int k = 0; k < bytes; ++k) value |= uint64_t(at_[k]) << (8 * k);
    at_ += bytes;
    return value;
  }
  double Double() { return std::bit_cast<double>(Unsigned(8)); }
  std::string Text(size_t length) {
    if (!Need(length)) return {};
    std::string text(reinterpret_cast<const char*>(at_), length);
    at_ += length;
    return text;
  }
  const uint8_t* Bytes(size_t length) {
    if (!Need(length)) return nullptr;
    const uint8_t* start = at_;
    at_ += length;
    return start;
  }

 private:
  bool Need(size_t n) {
    if (ok_ && left() >= n) return true;
    ok_ = false;
    return false;
  }
  const uint8_t* at_;
  const uint8_t* end_;
  bool ok_ = true;
};

void PutUnsigned(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int k = 0; k < bytes; ++k) out.push_back(uint8_t(value >> (8 * k)));
}
void PutDouble(std::vector<uint8_t>& out, double value) {
  PutUnsigned(out, std::bit_cast<uint64_t>(value), 8);
}
void PutText(std::vector<uint8_t>& out, const std::string& text) {
  const size_t length = std::min<size_t>(text.size(), 255);
  out.push_back(uint8_t(length));
  out.insert(out.end(), text.begin(), text.begin() + std::ptrdiff_t(length));
}

}  // namespace

RowIntervals UnionOf(const std::vector<const RowIntervals*>& parts) {
  RowIntervals all;
  for (const RowIntervals* part : parts) all.insert(all.end(), part->begin(), part->end());
  std::sort(all.begin(), all.end());
  RowIntervals out;
  for (const auto& interval : all) {
    if (!out.empty() && interval.first <= out.back().second) {
      out.back().second = std::max(out.back().second, interval.second);
    } else {
      out.push_back(interval);
    }
  }
  return out;
}

std::vector<uint8_t> EncodeRows(const std::vector<RowIntervals>& rows) {
  std::vector<uint8_t> out;
  for (const RowIntervals& intervals : rows) {
    PutVarint(out, uint32_t(intervals.size()));
    uint16_t end = 0;
    for (const auto& [from, to] : intervals) {
      PutVarint(out, uint32_t(from - end));
      PutVarint(out, uint32_t(to - from));
      end = to;
    }
  }
  return out;
}

bool DecodeRows(const uint8_t* data, size_t size, std::vector<RowIntervals>& rows) {
  rows.assign(kCellsPerSide, {});
  ByteReader reader(data, size);
  for (RowIntervals& intervals : rows) {
    const uint32_t count = reader.Varint();
    if (count > kCellsPerSide / 2) return false;
    uint32_t end = 0;
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t gap = reader.Varint();
      const uint32_t length = reader.Varint();
      // Intervals are apart from each other (a gap, except before the
      // first) and not empty.
      if ((k > 0 && gap == 0) || length == 0 || gap > kCellsPerSide || length > kCellsPerSide)
        return false;
      const uint32_t from = end + gap;
      const uint32_t to = from + length;
      if (to > kCellsPerSide) return false;
      intervals.emplace_back(uint16_t(from), uint16_t(to));
      end = to;
    }
  }
  return reader.ok() && reader.done();
}

std::optional<TileRegion> ClassifyTile(const RegionShape& shape, uint16_t region, int32_t latKey,
                                       int32_t lonKey) {
  const int64_t band = FloorDiv(latKey, kCentiPerTile);
  const auto edges = shape.BandEdges(band);
  if (edges.first == edges.second) return std::nullopt;  // no edge crosses the tile's latitudes
  const int64_t row0 = band * kCellsPerSide;
  const int64_t column0 = FloorDiv(lonKey, kCentiPerTile) * kCellsPerSide;
  const double south = latKey / 100.0;
  const double west = lonKey / 100.0;

  bool inside = false;
  bool touched = false;
  std::vector<RowIntervals> rows;
  const int64_t firstTurn = int64_t(std::ceil((shape.west - west - kTileDegrees) / kTurn));
  const int64_t lastTurn = int64_t(std::floor((shape.east - west) / kTurn));
  for (int64_t turn = firstTurn; turn <= lastTurn && !inside; ++turn) {
    const double shift = double(turn) * kTurn;
    const double left = west + shift - kTouchSlack;
    const double right = west + kTileDegrees + shift + kTouchSlack;
    const double bottom = south - kTouchSlack;
    const double top = south + kTileDegrees + kTouchSlack;
    bool meets = false;
    for (const uint32_t* e = edges.first; e != edges.second && !meets; ++e) {
      const uint32_t i = *e;
      const uint32_t j = shape.next[i];
      meets = SegmentMeetsBox(shape.lon[i], shape.lat[i], shape.lon[j], shape.lat[j], left, right,
                              bottom, top);
    }
    if (!meets) {
      // No edge near the tile: every cell centre is where the middle one is.
      const int middle = kCellsPerSide / 2;
      inside =
          shape.Contains(CellCentreLon(column0 + middle) + shift, CellCentreLat(row0 + middle));
      continue;
    }
    std::vector<RowIntervals> shifted = TouchedRows(shape, edges, row0, column0, shift);
    if (!touched) {
      rows = std::move(shifted);
      touched = true;
    } else {
      for (int r = 0; r < kCellsPerSide; ++r)
        rows[size_t(r)] = UnionOf({&rows[size_t(r)], &shifted[size_t(r)]});
    }
  }
  if (inside) return TileRegion{region, TileCover::kInside, {}};
  if (!touched) return std::nullopt;
  // A touched tile may still hold none of the region's cell centres, or
  // only them.
  bool none = true;
  bool all = true;
  for (const RowIntervals& intervals : rows) {
    none = none && intervals.empty();
    all = all && intervals.size() == 1 && intervals[0].first == 0 &&
          intervals[0].second == kCellsPerSide;
  }
  if (none) return std::nullopt;
  if (all) return TileRegion{region, TileCover::kInside, {}};
  return TileRegion{region, TileCover::kTouching, EncodeRows(rows)};
}

std::string PlacesCachePath() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string folder;
  if (cache && cache[0] == '/') {
    folder = cache;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    folder = std::string(home) + "/.cache";
  } else {
    return {};
  }
  return folder + "/roamgrid/" + kCacheName;
}

RegionIndex::RegionIndex(DcwCatalogue& catalogue, std::string cachePath)
    : catalogue_(catalogue), cachePath_(std::move(cachePath)) {}

RegionIndex::~RegionIndex() = default;

bool RegionIndex::Start() {
  if (started_) return !startFailed_;
  started_ = true;
  identity_ = catalogue_.Identity();
  if (identity_.empty() && catalogue_.fromFiles()) {
    // The outlines are not there: the catalogue says so in its words.
    catalogue_.Open();
    startFailed_ = true;
    return false;
  }
  if (!identity_.empty() && !cachePath_.empty()) ReadCache();
  return true;
}

bool RegionIndex::TakeCatalogueRegions() {
  if (!catalogue_.Open()) return false;
  const std::vector<RegionInfo>& regions = catalogue_.regions();
  if (regions_ != regions) {
    // A cache of the same files holds the same regions; anything else is
    // not to be trusted.
    if (!regions_.empty()) report_.cacheDropped = true;
    answers_.clear();
    regions_ = regions;
    areas_.assign(regions_.size(), std::numeric_limits<double>::quiet_NaN());
    changed_ = true;
  }
  return true;
}

bool RegionIndex::Prepare(const std::vector<std::pair<int32_t, int32_t>>& tiles) {
  if (!Start()) return false;
  std::vector<std::pair<int32_t, int32_t>> pending;
  std::set<uint64_t> seen;
  for (const auto& [latKey, lonKey] : tiles) {
    const uint64_t id = TileId(latKey, lonKey);
    if (answers_.count(id) == 0 && seen.insert(id).second) pending.emplace_back(latKey, lonKey);
  }
  if (pending.empty() && !regions_.empty()) return true;
  if (!TakeCatalogueRegions()) return false;
  // Answers may have been dropped with a foreign region table.
  pending.clear();
  seen.clear();
  for (const auto& [latKey, lonKey] : tiles) {
    const uint64_t id = TileId(latKey, lonKey);
    if (answers_.count(id) == 0 && seen.insert(id).second) pending.emplace_back(latKey, lonKey);
  }
  if (pending.empty()) return true;

  std::vector<TileAnswer> found(pending.size());
  for (size_t r = 0; r < regions_.size(); ++r) {
    std::vector<size_t> candidates;
    for (size_t t = 0; t < pending.size(); ++t) {
      const double south = pending[t].first / 100.0;
      const double west = pending[t].second / 100.0;
      if (RegionMayMeet(regions_[r], west, south, west + kTileDegrees, south + kTileDegrees))
        candidates.push_back(t);
    }
    if (candidates.empty()) continue;
    const std::shared_ptr<const RegionShape> shape = catalogue_.Shape(r);
    if (!shape) return false;
    ++report_.outlinesRead;
    areas_[r] = shape->areaKm2;
    changed_ = true;
    for (size_t t : candidates) {
      if (auto cover = ClassifyTile(*shape, uint16_t(r), pending[t].first, pending[t].second))
        found[t].push_back(std::move(*cover));
    }
  }
  for (size_t t = 0; t < pending.size(); ++t)
    answers_[TileId(pending[t].first, pending[t].second)] = std::move(found[t]);
  report_.tilesWorkedOut += (long long)pending.size();
  changed_ = true;
  return true;
}

bool RegionIndex::PrepareAreas(const std::vector<uint16_t>& regions) {
  if (!Start()) return false;
  for (uint16_t r : regions) {
    if (r < areas_.size() && !std::isnan(areas_[r])) continue;
    if (regions_.empty()) {
      if (!TakeCatalogueRegions()) return false;
    } else {
      if (!catalogue_.Open()) return false;
      if (catalogue_.regions() != regions_) {
        // A cache that names other regions than the outlines: its answers
        // are in use and stay, its areas stay unknown, and the file goes so
        // that the next run builds it anew.
        std::remove(cachePath_.c_str());
        report_.cacheDropped = true;
        changed_ = false;
        return true;
      }
    }
    if (r >= regions_.size()) continue;
    const std::shared_ptr<const RegionShape> shape = catalogue_.Shape(r);
    if (!shape) return false;
    ++report_.outlinesRead;
    areas_[r] = shape->areaKm2;
    changed_ = true;
  }
  return true;
}

const TileAnswer* RegionIndex::Answer(int32_t latKey, int32_t lonKey) const {
  const auto found = answers_.find(TileId(latKey, lonKey));
  return found == answers_.end() ? nullptr : &found->second;
}

double RegionIndex::AreaKm2(size_t region) const {
  return region < areas_.size() ? areas_[region] : std::numeric_limits<double>::quiet_NaN();
}

std::vector<uint8_t> RegionIndex::CacheBody() const {
  std::vector<uint8_t> body;
  PutUnsigned(body, identity_.size(), 4);
  body.insert(body.end(), identity_.begin(), identity_.end());
  PutUnsigned(body, regions_.size(), 4);
  for (size_t r = 0; r < regions_.size(); ++r) {
    const RegionInfo& region = regions_[r];
    PutText(body, region.code);
    PutText(body, region.name);
    body.push_back(uint8_t(region.level));
    PutUnsigned(body, uint32_t(region.country), 4);
    PutUnsigned(body, uint32_t(region.continent), 4);
    for (double value : {region.west, region.east, region.south, region.north, areas_[r]})
      PutDouble(body, value);
  }
  // Tiles in key order, so that the same answers give the same bytes.
  std::vector<uint64_t> ids;
  ids.reserve(answers_.size());
  for (const auto& entry : answers_) ids.push_back(entry.first);
  std::sort(ids.begin(), ids.end());
  PutUnsigned(body, ids.size(), 4);
  for (uint64_t id : ids) {
    const TileAnswer& answer = answers_.at(id);
    PutUnsigned(body, id, 8);
    PutUnsigned(body, answer.size(), 2);
    for (const TileRegion& entry : answer) {
      PutUnsigned(body, entry.region, 2);
      body.push_back(uint8_t(entry.cover));
      if (entry.cover == TileCover::kTouching) {
        PutUnsigned(body, entry.rows.size(), 4);
        body.insert(body.end(), entry.rows.begin(), entry.rows.end());
      }
    }
  }
  return body;
}

bool RegionIndex::ReadCacheBody(const std::vector<uint8_t>& body) {
  ByteReader reader(body.data(), body.size());
  const uint32_t identitySize = uint32_t(reader.Unsigned(4));
  if (reader.Text(identitySize) != identity_ || !reader.ok()) return false;
  const uint32_t regionCount = uint32_t(reader.Unsigned(4));
  if (!reader.ok() || regionCount == 0 || regionCount > kMaxDcwRegions) return false;
  std::vector<RegionInfo> regions(regionCount);
  std::vector<double> areas(regionCount);
  for (uint32_t r = 0; r < regionCount && reader.ok(); ++r) {
    RegionInfo& region = regions[r];
    region.code = reader.Text(reader.Unsigned(1));
    region.name = reader.Text(reader.Unsigned(1));
    const uint64_t level = reader.Unsigned(1);
    region.country = int32_t(uint32_t(reader.Unsigned(4)));
    region.continent = int32_t(uint32_t(reader.Unsigned(4)));
    region.west = reader.Double();
    region.east = reader.Double();
    region.south = reader.Double();
    region.north = reader.Double();
    areas[r] = reader.Double();
    const auto printable = [](const std::string& text) {
      return !text.empty() && std::none_of(text.begin(), text.end(),
                                           [](char c) { return uint8_t(c) < 0x20 || c == 0x7F; });
    };
    if (!printable(region.code) || !printable(region.name) ||
        level > uint64_t(PlaceLevel::kState) || region.country < -1 ||
        region.country >= int32_t(regionCount) || region.continent < -1 ||
        region.continent >= int32_t(kContinents.size()) || !(std::isnan(areas[r]) || areas[r] >= 0))
      return false;
    region.level = PlaceLevel(level);
  }
  const uint32_t tileCount = uint32_t(reader.Unsigned(4));
  if (!reader.ok() || tileCount > reader.left() / 10) return false;
  std::unordered_map<uint64_t, TileAnswer> answers;
  answers.reserve(tileCount);
  std::vector<RowIntervals> rows;
  for (uint32_t t = 0; t < tileCount && reader.ok(); ++t) {
    const uint64_t id = reader.Unsigned(8);
    const uint32_t entries = uint32_t(reader.Unsigned(2));
    TileAnswer answer;
    for (uint32_t e = 0; e < entries && reader.ok(); ++e) {
      TileRegion entry;
      entry.region = uint16_t(reader.Unsigned(2));
      const uint64_t cover = reader.Unsigned(1);
      if (entry.region >= regionCount || (!answer.empty() && entry.region <= answer.back().region))
        return false;
      if (cover == uint64_t(TileCover::kTouching)) {
        entry.cover = TileCover::kTouching;
        const uint32_t size = uint32_t(reader.Unsigned(4));
        const uint8_t* bytes = reader.Bytes(size);
        if (!reader.ok() || !DecodeRows(bytes, size, rows)) return false;
        entry.rows.assign(bytes, bytes + size);
      } else if (cover != uint64_t(TileCover::kInside)) {
        return false;
      }
      answer.push_back(std::move(entry));
    }
    if (!answers.emplace(id, std::move(answer)).second) return false;
  }
  if (!reader.ok() || !reader.done()) return false;
  regions_ = std::move(regions);
  areas_ = std::move(areas);
  answers_ = std::move(answers);
  return true;
}

bool RegionIndex::ReadCache() {
  FILE* file = OpenRegularFile(cachePath_);
  if (!file) return false;  // none yet (or none to be had): built anew
  std::vector<uint8_t> header(kCacheHeaderSize);
  std::vector<uint8_t> compressed;
  std::vector<uint8_t> body;
  bool sound = std::fread(header.data(), 1, header.size(), file) == header.size();
  ByteReader reader(header.data(), header.size());
  const std::string magic = reader.Text(8);
  const uint64_t version = reader.Unsigned(4);
  reader.Unsigned(4);  // reserved
  const uint64_t bodySize = reader.Unsigned(8);
  const uint64_t compressedSize = reader.Unsigned(8);
  const uint32_t checksum = uint32_t(reader.Unsigned(4));
  sound = sound && std::memcmp(magic.data(), kCacheMagic, sizeof kCacheMagic) == 0 &&
          version == kCacheVersion && bodySize <= kMaxCacheBody && compressedSize <= kMaxCacheBody;
  if (sound) {
    compressed.resize(compressedSize);
    sound = std::fread(compressed.data(), 1, compressed.size(), file) == compressed.size() &&
            std::fgetc(file) == EOF;
  }
  std::fclose(file);
  if (sound) {
    body.resize(bodySize);
    uLongf length = uLongf(bodySize);
    sound = uncompress(body.data(), &length, compressed.data(), uLong(compressed.size())) == Z_OK &&
            length == bodySize && uint32_t(crc32(0, body.data(), uInt(body.size()))) == checksum;
  }
  if (sound) sound = ReadCacheBody(body);
  report_.cacheRead = sound;
  report_.cacheDropped = !sound;
  return sound;
}

std::vector<uint8_t> PlacesCacheFile(const std::vector<uint8_t>& body) {
  uLongf compressedSize = compressBound(uLong(body.size()));
  std::vector<uint8_t> compressed(compressedSize);
  if (compress2(compressed.data(), &compressedSize, body.data(), uLong(body.size()), 6) != Z_OK)
    return {};
  compressed.resize(compressedSize);
  std::vector<uint8_t> file;
  file.insert(file.end(), kCacheMagic, kCacheMagic + sizeof kCacheMagic);
  PutUnsigned(file, kCacheVersion, 4);
  PutUnsigned(file, 0, 4);
  PutUnsigned(file, body.size(), 8);
  PutUnsigned(file, compressed.size(), 8);
  PutUnsigned(file, uint32_t(crc32(0, body.data(), uInt(body.size()))), 4);
  static_assert(kCacheHeaderSize == 36);
  file.insert(file.end(), compressed.begin(), compressed.end());
  return file;
}

bool RegionIndex::Save() {
  if (!changed_ || cachePath_.empty() || identity_.empty() || regions_.empty()) return true;
  const std::vector<uint8_t> bytes = PlacesCacheFile(CacheBody());
  if (bytes.empty()) {
    report_.cacheProblem = "cannot compress the index";
    return false;
  }
  const int folderError = CreateParentDirectories(cachePath_);
  ReplacingFile file(cachePath_);
  errno = 0;
  if (!file.Open() || !file.Write(bytes.data(), bytes.size()) || !file.Commit()) {
    const int error = errno != 0 ? errno : folderError;
    report_.cacheProblem = cachePath_ + ": " + FileErrorText(error);
    return false;
  }
  changed_ = false;
  report_.cacheWritten = true;
  return true;
}

}  // namespace roamgrid
