#include "geo/dcw_regions.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/safe_file.h"
#include "geo/sphere_area.h"

namespace roamgrid {

namespace {

// The longitude value that separates the polygons of a region.
constexpr uint16_t kSeparator = 65535;
// Longitudes the file may use: 0..360 and -180..180 style both, and turns
// past them for regions across the antimeridian.
constexpr double kLowestLon = -360;
constexpr double kHighestLon = 720;
// The widest outline accepted, degrees of longitude.
constexpr double kMaxOutlineSpan = 720;
// Latitudes within this of a pole are the pole (rounding of the 16-bit
// steps); beyond it a value is unsound.
constexpr double kPoleSlack = 1e-6;
// Bands reach this far past their edges, so that rounding never leaves an
// edge out of a band it touches.
constexpr double kBandSlack = 1e-9;
// The most band entries an outline may need (an edge is listed in every
// band it crosses): about 40 times what the largest real outline needs.
constexpr uint64_t kMaxBandEntries = uint64_t(24) << 20;
// Points of a ring that vote on its depth.
constexpr uint32_t kDepthVotes = 5;
// Name texts are cut here (at a character boundary).
constexpr size_t kMaxNameBytes = 200;
// The names lists are small; longer files are read this far.
constexpr size_t kMaxNamesFileBytes = size_t(1) << 20;

int64_t BandOf(double lat) { return int64_t(std::floor(lat * kBandsPerDegree)); }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// A name as it may be printed: control characters become spaces, and a
// long one is cut before a character that would pass kMaxNameBytes.
std::string CleanName(std::string_view text) {
  std::string name(text.substr(0, kMaxNameBytes + 1));
  if (name.size() > kMaxNameBytes) {
    size_t cut = kMaxNameBytes;
    while (cut > 0 && (uint8_t(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  for (char& c : name) {
    if (uint8_t(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return name;
}

bool IsCodeText(std::string_view text) {
  if (text.empty() || text.size() > 8) return false;
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// Calls fn(first, second, name) for each line "<first> <second> <name>".
template <class Fn>
void ForEachNameLine(std::string_view text, Fn&& fn) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    const size_t a = line.find(' ');
    if (a == std::string_view::npos) continue;
    const std::string_view first = line.substr(0, a);
    std::string_view rest = Trim(line.substr(a + 1));
    const size_t b = rest.find(' ');
    if (b == std::string_view::npos) continue;
    const std::string_view second = rest.substr(0, b);
    const std::string_view name = Trim(rest.substr(b + 1));
    if (!IsCodeText(first) || !IsCodeText(second) || name.empty()) continue;
    fn(first, second, name);
  }
}

bool SoundAxis(const DcwAxis& axis, double lowest, double highest) {
  return std::isfinite(axis.min) && std::isfinite(axis.max) && std::isfinite(axis.scale) &&
         axis.scale > 0 && axis.min >= lowest && axis.min <= highest;
}

// Reads a small text file whole; empty when it cannot be read.
std::string ReadSmallFile(const std::string& path) {
  std::string text;
  FILE* file = OpenRegularFile(path);
  if (!file) return text;
  text.resize(kMaxNamesFileBytes);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  return text;
}

}  // namespace

std::string DcwFolderFromEnvironment() {
  const char* folder = std::getenv("ROAMGRID_DCW_DIR");
  return folder && *folder ? std::string(folder) : std::string(kDcwFolder);
}

int ContinentIndex(std::string_view code) {
  for (size_t i = 0; i < kContinents.size(); ++i) {
    if (code == kContinents[i].code) return int(i);
  }
  return -1;
}

DcwNames ParseDcwNames(std::string_view countriesText, std::string_view statesText) {
  DcwNames names;
  ForEachNameLine(countriesText, [&](std::string_view continent, std::string_view country,
                                     std::string_view name) {
    names.countries.emplace(std::string(country),
                            DcwNames::Country{std::string(continent), CleanName(name)});
  });
  ForEachNameLine(
      statesText, [&](std::string_view country, std::string_view state, std::string_view name) {
        names.states.emplace(std::string(country) + "." + std::string(state), CleanName(name));
      });
  return names;
}

std::vector<RegionInfo> DescribeRegions(const std::vector<DcwVariable>& variables,
                                        const DcwNames& names) {
  std::vector<RegionInfo> regions;
  regions.reserve(variables.size());
  std::map<std::string, int32_t, std::less<>> countryIndex;
  for (const DcwVariable& variable : variables) {
    RegionInfo region;
    const std::string& code = variable.code;
    const std::string country = code.substr(0, 2);
    if (code.size() == 2) {
      region.code = code;
      countryIndex.emplace(code, int32_t(regions.size()));
    } else {
      region.level = PlaceLevel::kState;
      region.code = country + "." + code.substr(2);
    }
    region.name = region.code;
    if (region.level == PlaceLevel::kCountry) {
      if (auto found = names.countries.find(code); found != names.countries.end())
        region.name = found->second.name;
    } else if (auto found = names.states.find(region.code); found != names.states.end()) {
      region.name = found->second;
    }
    if (auto found = names.countries.find(country); found != names.countries.end())
      region.continent = ContinentIndex(found->second.continent);
    region.west = variable.lon.min;
    region.east = variable.lon.max;
    region.south = variable.lat.min;
    region.north = variable.lat.max;
    regions.push_back(std::move(region));
  }
  for (RegionInfo& region : regions) {
    if (region.level != PlaceLevel::kState) continue;
    if (auto found = countryIndex.find(region.code.substr(0, 2)); found != countryIndex.end())
      region.country = found->second;
  }
  return regions;
}

bool RegionMayMeet(const RegionInfo& region, double west, double south, double east, double north) {
  constexpr double kSlack = 1e-6;
  if (!(region.east - region.west < 180)) return true;
  if (south > region.north + kSlack || north < region.south - kSlack) return false;
  // The first turn of the box that does not lie wholly west of the region.
  const double turn = 360 * std::ceil((region.west - kSlack - east) / 360);
  return west + turn <= region.east + kSlack;
}

size_t RegionShape::Bytes() const {
  return sizeof(*this) + (lon.size() + lat.size()) * sizeof(double) +
         (ringStart.size() + next.size() + depth.size() + bandStart.size() + bandEdges.size()) *
             sizeof(uint32_t);
}

std::pair<const uint32_t*, const uint32_t*> RegionShape::BandEdges(int64_t band) const {
  const int64_t k = band - firstBand;
  if (bandStart.empty() || k < 0 || k + 1 >= int64_t(bandStart.size())) return {nullptr, nullptr};
  const uint32_t* base = bandEdges.data();
  return {base + bandStart[size_t(k)], base + bandStart[size_t(k) + 1]};
}

bool RegionShape::Contains(double x, double y) const {
  const auto [begin, end] = BandEdges(BandOf(y));
  bool inside = false;
  for (const uint32_t* e = begin; e != end; ++e) {
    const uint32_t i = *e;
    const uint32_t j = next[i];
    if ((lat[i] > y) != (lat[j] > y) &&
        x < (lon[j] - lon[i]) * (y - lat[i]) / (lat[j] - lat[i]) + lon[i])
      inside = !inside;
  }
  return inside;
}

std::vector<int32_t> RingParents(const RegionShape& shape) {
  const size_t rings = shape.rings();
  std::vector<int32_t> parents(rings, -1);
  struct Box {
    double west, east, south, north;
  };
  std::vector<Box> boxes(rings);
  for (size_t k = 0; k < rings; ++k) {
    const auto from = shape.lon.begin() + shape.ringStart[k];
    const auto to = shape.lon.begin() + shape.ringStart[k + 1];
    const auto [west, east] = std::minmax_element(from, to);
    const auto [south, north] = std::minmax_element(shape.lat.begin() + shape.ringStart[k],
                                                    shape.lat.begin() + shape.ringStart[k + 1]);
    boxes[k] = {*west, *east, *south, *north};
  }
  // Whether ring j alone holds the point.
  const auto holds = [&](size_t j, double x, double y) {
    bool inside = false;
    for (uint32_t i = shape.ringStart[j]; i < shape.ringStart[j + 1]; ++i) {
      const uint32_t n = shape.next[i];
      if ((shape.lat[i] > y) != (shape.lat[n] > y) &&
          x < (shape.lon[n] - shape.lon[i]) * (y - shape.lat[i]) / (shape.lat[n] - shape.lat[i]) +
                  shape.lon[i])
        inside = !inside;
    }
    return inside;
  };
  for (size_t k = 0; k < rings; ++k) {
    if (shape.depth[k] == 0) continue;
    const uint32_t from = shape.ringStart[k];
    const uint32_t count = shape.ringStart[k + 1] - from;
    for (size_t j = 0; j < rings && parents[k] < 0; ++j) {
      if (j == k || shape.depth[j] + 1 != shape.depth[k] || boxes[j].west > boxes[k].west ||
          boxes[j].east < boxes[k].east || boxes[j].south > boxes[k].south ||
          boxes[j].north < boxes[k].north)
        continue;
      uint32_t inside = 0;
      for (uint32_t v = 0; v < kDepthVotes; ++v) {
        const uint32_t p = from + uint32_t(uint64_t(count) * v / kDepthVotes);
        inside += holds(j, shape.lon[p], shape.lat[p]);
      }
      if (inside > kDepthVotes / 2) parents[k] = int32_t(j);
    }
  }
  return parents;
}

bool RegionShape::ContainsAnyTurn(double x, double y) const {
  const double first = std::ceil((west - x) / 360);
  const double last = std::floor((east - x) / 360);
  for (double turn = first; turn <= last; ++turn) {
    if (Contains(x + 360 * turn, y)) return true;
  }
  return false;
}

bool DecodeDcwRegion(const DcwVariable& variable, const std::vector<uint16_t>& lonValues,
                     const std::vector<uint16_t>& latValues, RegionShape& shape,
                     std::string& problem) {
  shape = RegionShape();
  const auto fail = [&](const std::string& what) {
    problem = variable.code + ": " + what;
    shape = RegionShape();
    return false;
  };
  const size_t n = variable.length;
  if (lonValues.size() != n || latValues.size() != n || n > kMaxDcwRegionPoints)
    return fail("arrays of unequal length");
  if (!SoundAxis(variable.lon, kLowestLon, kHighestLon) ||
      !SoundAxis(variable.lat, -90 - kPoleSlack, 90 + kPoleSlack))
    return fail("unsound min or scale attributes");

  shape.lon.reserve(n + 3);
  shape.lat.reserve(n + 3);
  shape.ringStart.push_back(0);
  size_t at = 0;
  while (at < n) {
    // One ring: the points up to the next separator.
    size_t end = at;
    while (end < n && lonValues[end] != kSeparator) ++end;
    const size_t first = shape.lon.size();
    double offset = 0;       // turns added so far, degrees
    double previousRaw = 0;  // the last point's longitude as decoded
    double latSum = 0;
    for (size_t k = at; k < end; ++k) {
      const double x = variable.lon.min + lonValues[k] / variable.lon.scale;
      double y = variable.lat.min + latValues[k] / variable.lat.scale;
      if (!(x >= kLowestLon && x <= kHighestLon) ||
          !(y >= -90 - kPoleSlack && y <= 90 + kPoleSlack))
        return fail("a point lies beyond the globe");
      y = std::clamp(y, -90.0, 90.0);
      if (k > at) {
        // An edge never spans more than half the globe: a longer step is
        // one across the antimeridian.
        const double step = x - previousRaw;
        if (step > 180) offset -= 360;
        if (step < -180) offset += 360;
      }
      previousRaw = x;
      shape.lon.push_back(x + offset);
      shape.lat.push_back(y);
      latSum += y;
    }
    at = end + 1;
    size_t count = shape.lon.size() - first;
    // The file repeats the first point at the end; the edge back is implied.
    if (count > 1 && shape.lon.back() == shape.lon[first] && shape.lat.back() == shape.lat[first]) {
      shape.lon.pop_back();
      shape.lat.pop_back();
      --count;
    }
    if (count < 3) {
      shape.lon.resize(first);
      shape.lat.resize(first);
      continue;
    }
    // Where the edge back to the first point arrives, unwrapped like the
    // others: a ring that ends one turn from where it began goes round the
    // globe and encloses a pole.
    const double closing = shape.lon[first] - previousRaw;
    double turn = offset + (closing > 180 ? -360 : closing < -180 ? 360 : 0);
    if (std::fabs(turn) > 360) return fail("a ring winds round the globe more than once");
    if (turn != 0) {
      const double pole = latSum < 0 ? -90 : 90;
      const double x0 = shape.lon[first];
      const double y0 = shape.lat[first];
      shape.lon.insert(shape.lon.end(), {x0 + turn, x0 + turn, x0});
      shape.lat.insert(shape.lat.end(), {y0, pole, pole});
    }
    shape.ringStart.push_back(uint32_t(shape.lon.size()));
  }
  const size_t rings = shape.rings();
  if (rings == 0) return fail("no outline");
  const size_t points = shape.lon.size();

  shape.next.resize(points);
  for (size_t k = 0; k < rings; ++k) {
    for (uint32_t i = shape.ringStart[k]; i < shape.ringStart[k + 1]; ++i)
      shape.next[i] = i + 1 < shape.ringStart[k + 1] ? i + 1 : shape.ringStart[k];
  }
  const auto [west, east] = std::minmax_element(shape.lon.begin(), shape.lon.end());
  const auto [south, north] = std::minmax_element(shape.lat.begin(), shape.lat.end());
  shape.west = *west;
  shape.east = *east;
  shape.south = *south;
  shape.north = *north;
  // Real outlines span at most a turn and a half (Antarctica closed round
  // its pole, the United States from the Aleutians); wider is unsound.
  if (shape.east - shape.west > kMaxOutlineSpan)
    return fail("an outline wider than the globe twice");

  // The band index: count, then place.
  shape.firstBand = int32_t(BandOf(shape.south - kBandSlack));
  const int64_t bands = BandOf(shape.north + kBandSlack) - shape.firstBand + 1;
  const auto bandRange = [&](uint32_t i) {
    const double low = std::min(shape.lat[i], shape.lat[shape.next[i]]);
    const double high = std::max(shape.lat[i], shape.lat[shape.next[i]]);
    return std::pair<int64_t, int64_t>(BandOf(low - kBandSlack) - shape.firstBand,
                                       BandOf(high + kBandSlack) - shape.firstBand);
  };
  uint64_t entries = 0;
  for (uint32_t i = 0; i < points; ++i) {
    const auto [b0, b1] = bandRange(i);
    entries += uint64_t(b1 - b0 + 1);
  }
  if (entries > kMaxBandEntries) return fail("an outline too intricate to index");
  shape.bandStart.assign(size_t(bands) + 1, 0);
  for (uint32_t i = 0; i < points; ++i) {
    const auto [b0, b1] = bandRange(i);
    for (int64_t b = b0; b <= b1; ++b) ++shape.bandStart[size_t(b) + 1];
  }
  for (size_t b = 1; b < shape.bandStart.size(); ++b) shape.bandStart[b] += shape.bandStart[b - 1];
  shape.bandEdges.resize(size_t(entries));
  std::vector<uint32_t> fill(shape.bandStart.begin(), shape.bandStart.end() - 1);
  for (uint32_t i = 0; i < points; ++i) {
    const auto [b0, b1] = bandRange(i);
    for (int64_t b = b0; b <= b1; ++b) shape.bandEdges[fill[size_t(b)]++] = i;
  }

  // Depth of each ring: how many rings hold it, told by the parity of
  // their edges crossed on the way west from a point of it. A point may lie
  // on another ring's edge (rings share points where islands touch the
  // coast), so a few points spread round the ring vote and the middle
  // answer counts.
  std::vector<uint32_t> ringOf(points);
  for (size_t k = 0; k < rings; ++k)
    std::fill(ringOf.begin() + shape.ringStart[k], ringOf.begin() + shape.ringStart[k + 1],
              uint32_t(k));
  shape.depth.assign(rings, 0);
  std::vector<uint8_t> parity(rings, 0);
  std::vector<uint32_t> touched;
  std::vector<uint32_t> votes;
  for (size_t k = 0; k < rings; ++k) {
    const uint32_t from = shape.ringStart[k];
    const uint32_t count = shape.ringStart[k + 1] - from;
    votes.clear();
    for (uint32_t v = 0; v < kDepthVotes; ++v) {
      const uint32_t p = from + uint32_t(uint64_t(count) * v / kDepthVotes);
      const double x = shape.lon[p];
      const double y = shape.lat[p];
      const auto [begin, end] = shape.BandEdges(BandOf(y));
      for (const uint32_t* e = begin; e != end; ++e) {
        const uint32_t i = *e;
        const uint32_t j = shape.next[i];
        const uint32_t ring = ringOf[i];
        if (ring == k) continue;
        if ((shape.lat[i] > y) != (shape.lat[j] > y) &&
            x < (shape.lon[j] - shape.lon[i]) * (y - shape.lat[i]) / (shape.lat[j] - shape.lat[i]) +
                    shape.lon[i]) {
          if (parity[ring] == 0) touched.push_back(ring);
          parity[ring] ^= 1;
        }
      }
      uint32_t depth = 0;
      for (uint32_t ring : touched) {
        depth += parity[ring];
        parity[ring] = 0;
      }
      touched.clear();
      votes.push_back(depth);
    }
    std::nth_element(votes.begin(), votes.begin() + kDepthVotes / 2, votes.end());
    shape.depth[k] = votes[kDepthVotes / 2];
  }
  for (size_t k = 0; k < rings; ++k) {
    const uint32_t from = shape.ringStart[k];
    const double area = std::fabs(RingAreaKm2(shape.lon.data() + from, shape.lat.data() + from,
                                              shape.ringStart[k + 1] - from));
    shape.areaKm2 += shape.depth[k] % 2 == 0 ? area : -area;
  }
  shape.areaKm2 = std::max(shape.areaKm2, 0.0);
  return true;
}

DcwCatalogue::DcwCatalogue(std::string folder)
    : folder_(std::move(folder)), outlinesPath_(folder_ + "/" + kDcwOutlinesFile) {}

DcwCatalogue::DcwCatalogue(std::unique_ptr<DcwArrays> arrays, const DcwNames& names,
                           std::string identity)
    : identity_(std::move(identity)), arrays_(std::move(arrays)), names_(names) {}

std::string DcwCatalogue::Identity() const {
  if (!fromFiles()) return identity_;
  std::string identity;
  for (const std::string& path :
       {outlinesPath_, folder_ + "/" + kDcwCountriesFile, folder_ + "/" + kDcwStatesFile}) {
    struct stat info;
    const bool present = StatFollowingLinks(path, &info) == 0;
    if (!present && identity.empty()) return {};
    identity += present ? std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) +
                              "." + std::to_string(info.st_mtim.tv_nsec) + ";"
                        : std::string("-;");
  }
  return identity;
}

DcwCatalogue::~DcwCatalogue() = default;

void DcwCatalogue::Fail(const std::string& what) {
  if (failed_) return;
  failed_ = true;
  problem_ = what;
  regions_.clear();
  arrays_.reset();
}

bool DcwCatalogue::Open() {
  if (opened_) return !failed_;
  opened_ = true;
  if (!arrays_) {
    struct stat info;
    if (StatFollowingLinks(outlinesPath_, &info) != 0) {
      missing_ = errno == ENOENT;
      Fail(outlinesPath_ + ": " + FileErrorText(errno));
      return false;
    }
    std::string why;
    arrays_ = OpenDcwNetcdf(outlinesPath_, &why);
    if (!arrays_) {
      Fail(outlinesPath_ + ": " + why);
      return false;
    }
    names_ = ParseDcwNames(ReadSmallFile(folder_ + "/" + kDcwCountriesFile),
                           ReadSmallFile(folder_ + "/" + kDcwStatesFile));
  }
  if (arrays_->Regions().empty()) {
    Fail((outlinesPath_.empty() ? std::string("the outlines") : outlinesPath_) +
         ": holds no country outlines");
    return false;
  }
  regions_ = DescribeRegions(arrays_->Regions(), names_);
  return true;
}

std::shared_ptr<const RegionShape> DcwCatalogue::Shape(size_t index) {
  if (!Open() || index >= regions_.size()) return nullptr;
  std::vector<uint16_t> lon;
  std::vector<uint16_t> lat;
  std::string why;
  if (!arrays_->Read(index, lon, lat, why)) {
    Fail(outlinesPath_ + ": " + why);
    return nullptr;
  }
  auto shape = std::make_shared<RegionShape>();
  if (!DecodeDcwRegion(arrays_->Regions()[index], lon, lat, *shape, why)) {
    Fail((outlinesPath_.empty() ? std::string("the outlines") : outlinesPath_) + ": " + why);
    return nullptr;
  }
  return shape;
}

std::string DcwProblemText(const DcwCatalogue& catalogue) {
  if (catalogue.missing())
    return "install gmt-dcw (the Digital Chart of the World for GMT): its country outlines " +
           catalogue.outlinesPath() + " are missing";
  if (catalogue.problem().empty()) return {};
  return catalogue.problem() + "; no places (reinstall gmt-dcw)";
}

}  // namespace roamgrid
