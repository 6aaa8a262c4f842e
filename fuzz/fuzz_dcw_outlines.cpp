// Any bytes as the country outlines and what is made of them, in three
// modes chosen by the first byte:
//   0: one region's arrays (attributes from the next bytes, then pairs of
//      16-bit longitudes and latitudes): a decoded outline keeps its points
//      on the globe, lists every edge in each band it reaches and has a
//      finite area; the cover of the tiles at its first point agrees with
//      the centres of sampled cells tested one by one.
//   1: the body of an index cache file (wrapped as the index writes it):
//      read or dropped, never trusted beyond its bounds; counting with its
//      answers stays within the region table.
//   2: the names lists: names come out printable and bounded.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "geo/dcw_regions.h"
#include "geo/places_tally.h"
#include "geo/region_index.h"
#include "support/dcw_fixture.h"
#include "tiles/grid_units.h"

using namespace roamgrid;

namespace {

// Reads little-endian numbers from the input; zeros once it runs out.
struct Bytes {
  const uint8_t* at;
  const uint8_t* end;
  uint64_t Take(int n) {
    uint64_t value = 0;
    for (int k = 0; k < n && at < end; ++k) value |= uint64_t(*at++) << (8 * k);
    return value;
  }
  double Raw() {
    const uint64_t bits = Take(8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
};

void Outline(Bytes in) {
  DcwVariable variable;
  variable.code = "FZ";
  const uint8_t how = uint8_t(in.Take(1));
  if (how & 1) {  // raw doubles: NaN, infinities and all
    variable.lon = {in.Raw(), in.Raw(), in.Raw()};
    variable.lat = {in.Raw(), in.Raw(), in.Raw()};
  } else {  // numbers of the size real files have
    variable.lon.min = int16_t(in.Take(2)) / 50.0;
    variable.lon.scale = (in.Take(2) + 1) / 16.0;
    variable.lat.min = int16_t(in.Take(2)) / 300.0;
    variable.lat.scale = (in.Take(2) + 1) / 16.0;
    variable.lon.max = variable.lon.min + 65535 / variable.lon.scale;
    variable.lat.max = variable.lat.min + 65535 / variable.lat.scale;
  }
  std::vector<uint16_t> lon, lat;
  while (in.at + 4 <= in.end) {
    lon.push_back(uint16_t(in.Take(2)));
    lat.push_back(uint16_t(in.Take(2)));
  }
  variable.length = lon.size();
  RegionShape shape;
  std::string problem;
  if (!DecodeDcwRegion(variable, lon, lat, shape, problem)) {
    FUZZ_CHECK(problem.rfind("FZ: ", 0) == 0 && shape.rings() == 0);
    return;
  }
  FUZZ_CHECK(shape.rings() > 0 && std::isfinite(shape.areaKm2) && shape.areaKm2 >= 0);
  FUZZ_CHECK(shape.east - shape.west <= 720);
  for (uint32_t i = 0; i < shape.lon.size(); ++i) {
    FUZZ_CHECK(std::isfinite(shape.lon[i]) && shape.lat[i] >= -90 && shape.lat[i] <= 90);
    const uint32_t j = shape.next[i];
    FUZZ_CHECK(j < shape.lon.size());
    const double low = std::min(shape.lat[i], shape.lat[j]);
    const double high = std::max(shape.lat[i], shape.lat[j]);
    for (double y : {low, high, (low + high) / 2}) {
      const auto [begin, end] = shape.BandEdges(int64_t(std::floor(y * kBandsPerDegree)));
      FUZZ_CHECK(std::find(begin, end, i) != end);
    }
  }
  // The tile at the first point and its neighbour to the east.
  const int32_t latKey = int32_t(5 * std::floor(shape.lat[0] * 20));
  const double lon0 = shape.lon[0] - 360 * std::floor((shape.lon[0] + 180) / 360);
  const int32_t lonKey = int32_t(5 * std::floor(lon0 * 20));
  std::vector<RowIntervals> rows;
  for (int32_t key : {lonKey, lonKey + 5 >= 18000 ? -18000 : lonKey + 5}) {
    const std::optional<TileRegion> cover = ClassifyTile(shape, 7, latKey, key);
    if (cover && cover->cover == TileCover::kTouching) {
      FUZZ_CHECK(DecodeRows(cover->rows.data(), cover->rows.size(), rows));
    }
    const int64_t row0 = FloorDiv(latKey, kCentiPerTile) * kCellsPerSide;
    const int64_t column0 = FloorDiv(key, kCentiPerTile) * kCellsPerSide;
    for (int r = 3; r < kCellsPerSide; r += 61) {
      for (int c = 5; c < kCellsPerSide; c += 59) {
        const double x = CellCentreLon(column0 + c);
        const double y = CellCentreLat(row0 + r);
        const bool expected = shape.ContainsAnyTurn(x, y);
        bool got = cover && cover->cover == TileCover::kInside;
        if (cover && cover->cover == TileCover::kTouching) {
          for (const auto& [from, to] : rows[size_t(r)]) got = got || (c >= from && c < to);
        }
        FUZZ_CHECK(got == expected);
      }
    }
  }
}

void Cache(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> file = PlacesCacheFile(std::vector<uint8_t>(data, data + size));
  fuzz::WriteRaw("places.idx", file.data(), file.size());
  auto arrays = std::make_unique<testing::FakeDcwArrays>();
  arrays->Add("AA", {testing::Box(7.0, 47.0, 7.22, 47.2)});
  arrays->Add("BB", {{{7.22, 47.0}, {7.42, 47.0}, {7.22, 47.2}}});
  DcwCatalogue catalogue(std::move(arrays), testing::MadeUpNames({"AA", "BB"}), "fuzz");
  RegionIndex index(catalogue, "places.idx");
  const std::vector<std::pair<int32_t, int32_t>> tiles = {{4705, 705}, {4700, 720}, {-100, -100}};
  FUZZ_CHECK(index.Prepare(tiles));
  PlacesTally tally(index.regions());
  std::vector<RowIntervals> rows;
  for (const auto& [latKey, lonKey] : tiles) {
    const TileAnswer* answer = index.Answer(latKey, lonKey);
    FUZZ_CHECK(answer != nullptr);
    for (const TileRegion& entry : *answer) {
      FUZZ_CHECK(entry.region < index.regions().size());
      if (entry.cover == TileCover::kTouching)
        FUZZ_CHECK(DecodeRows(entry.rows.data(), entry.rows.size(), rows));
    }
    tally.AddTile(latKey, {{0, 0, 896}, {400, 3, 9}, {895, 800, 896}}, *answer);
  }
  FUZZ_CHECK(tally.total().cells == 3 * (896 + 6 + 96));
  for (PlaceLevel level : {PlaceLevel::kCountry, PlaceLevel::kState, PlaceLevel::kContinent}) {
    FUZZ_CHECK(index.PrepareAreas(AreasNeeded(tally, index.regions(), level)));
    for (const PlaceLine& line : PlaceLines(tally, index, level))
      FUZZ_CHECK(line.cells > 0 &&
                 (std::isnan(line.share) || (line.share >= 0 && line.share <= 1)));
  }
}

void Names(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t split = text.find('\0');
  const DcwNames names = ParseDcwNames(text.substr(0, split),
                                       split == std::string::npos ? "" : text.substr(split + 1));
  const auto sound = [](const std::string& name) {
    return !name.empty() && name.size() <= 200 &&
           std::none_of(name.begin(), name.end(), [](char c) { return uint8_t(c) < 0x20; });
  };
  for (const auto& [code, country] : names.countries) FUZZ_CHECK(sound(country.name));
  for (const auto& [code, name] : names.states) FUZZ_CHECK(sound(name));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratchDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  switch (data[0] % 3) {
    case 0:
      Outline(Bytes{data + 1, data + size});
      break;
    case 1:
      Cache(data + 1, size - 1);
      break;
    default:
      Names(data + 1, size - 1);
      break;
  }
  return 0;
}
