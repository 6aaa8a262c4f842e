// Places counted through the region index against a plain reference: the
// centre of every visited cell tested against every polygon of every
// country and state whose extent holds it, edge by edge. Stores of tracks
// along borders: the tripoint at Basel, Gibraltar and Spain, Detroit and
// Windsor, Chukotka and Fiji across 180 degrees, the enclaves Lesotho and
// San Marino, and Antarctica round its pole. Needs the outlines of
// gmt-dcw; skipped without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "geo/dcw_regions.h"
#include "geo/places_tally.h"
#include "geo/region_index.h"
#include "geo/sphere_area.h"
#include "tiles/grid_units.h"

namespace roamgrid {
namespace {

struct Track {
  double lat0, lon0, lat1, lon1;
};

struct Scenario {
  const char* name;
  std::vector<Track> tracks;
  std::vector<std::string> expected;  // codes that must be visited
};

using Cell = std::pair<int64_t, int64_t>;  // global row, column (column within -180..180)

// Every third cell or so along each track, so that a track of a few
// kilometres crosses its borders with a few hundred cells.
std::set<Cell> CellsOf(const Scenario& scenario) {
  std::set<Cell> cells;
  const double step = 3.0 / double(kCellsPerDegree);
  for (const Track& t : scenario.tracks) {
    double dLon = t.lon1 - t.lon0;
    if (dLon > 180) dLon -= 360;
    if (dLon < -180) dLon += 360;
    const double length = std::hypot(t.lat1 - t.lat0, dLon);
    const int samples = int(length / step) + 1;
    for (int k = 0; k <= samples; ++k) {
      const double f = double(k) / samples;
      const double lat = t.lat0 + f * (t.lat1 - t.lat0);
      double lon = t.lon0 + f * dLon;
      lon -= 360 * std::floor((lon + 180) / 360);
      cells.insert(
          {int64_t(std::floor(lat * kCellsPerDegree)), int64_t(std::floor(lon * kCellsPerDegree))});
    }
  }
  return cells;
}

// An outline and the latitudes each of its rings spans.
struct Outline {
  std::shared_ptr<const RegionShape> shape;
  std::vector<std::pair<double, double>> ringLats;
};

// The plain test: the crossings of every edge of every ring with the
// centre's latitude, at the centre's longitude and one turn either way. A
// ring that does not reach the latitude has none.
bool Holds(const Outline& outline, double x, double y) {
  const RegionShape& shape = *outline.shape;
  for (double shift : {-360.0, 0.0, 360.0}) {
    bool inside = false;
    for (size_t ring = 0; ring < shape.rings(); ++ring) {
      if (y < outline.ringLats[ring].first || y > outline.ringLats[ring].second) continue;
      const uint32_t from = shape.ringStart[ring];
      const uint32_t to = shape.ringStart[ring + 1];
      for (uint32_t i = from; i < to; ++i) {
        const uint32_t j = i + 1 < to ? i + 1 : from;
        const double xi = shape.lon[i], yi = shape.lat[i], xj = shape.lon[j], yj = shape.lat[j];
        if ((yi > y) != (yj > y) && x + shift < (xj - xi) * (y - yi) / (yj - yi) + xi)
          inside = !inside;
      }
    }
    if (inside) return true;
  }
  return false;
}

// Whether a region's extent (its attributes, its longitudes taken round the
// globe) may hold the point; a region that spans half the globe may go
// round a pole and is always tested.
bool MayHold(const RegionInfo& region, double x, double y) {
  if (!(region.east - region.west < 180)) return true;
  if (y < region.south - 1e-6 || y > region.north + 1e-6) return false;
  for (double shift : {-360.0, 0.0, 360.0}) {
    if (x + shift >= region.west - 1e-6 && x + shift <= region.east + 1e-6) return true;
  }
  return false;
}

class PlacesReferenceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::filesystem::exists(std::string(kDcwFolder) + "/" + kDcwOutlinesFile)) return;
    catalogue_ = new DcwCatalogue(kDcwFolder);
    ASSERT_TRUE(catalogue_->Open()) << catalogue_->problem();
  }
  static void TearDownTestSuite() {
    delete catalogue_;
    catalogue_ = nullptr;
    shapes_.clear();
  }
  void SetUp() override {
    if (!catalogue_) GTEST_SKIP() << "gmt-dcw is not installed";
  }
  static const Outline& Shape(size_t region) {
    Outline& outline = shapes_[region];
    if (!outline.shape) {
      outline.shape = catalogue_->Shape(region);
      const RegionShape& shape = *outline.shape;
      for (size_t ring = 0; ring < shape.rings(); ++ring) {
        const auto [low, high] = std::minmax_element(shape.lat.begin() + shape.ringStart[ring],
                                                     shape.lat.begin() + shape.ringStart[ring + 1]);
        outline.ringLats.emplace_back(*low, *high);
      }
    }
    return outline;
  }

  static DcwCatalogue* catalogue_;
  static std::map<size_t, Outline> shapes_;
};

DcwCatalogue* PlacesReferenceTest::catalogue_ = nullptr;
std::map<size_t, Outline> PlacesReferenceTest::shapes_;

TEST_F(PlacesReferenceTest, CountsPerRegionEqualThoseOfEveryCellTestedAlone) {
  const std::vector<Scenario> scenarios = {
      {"Basel tripoint",
       {{47.575, 7.560, 47.602, 7.620},
        {47.600, 7.565, 47.580, 7.612},
        {47.586, 7.575, 47.594, 7.600}},
       {"CH", "DE", "FR"}},
      {"Gibraltar and Spain",
       {{36.120, -5.352, 36.200, -5.340}, {36.150, -5.370, 36.160, -5.330}},
       {"GI", "ES"}},
      {"Detroit and Windsor",
       {{42.335, -83.055, 42.312, -83.025}, {42.318, -83.060, 42.330, -83.030}},
       {"US", "CA", "US.MI", "CA.ON"}},
      {"Chukotka across 180 degrees",
       {{67.000, 179.960, 67.020, -179.960}, {66.500, -179.980, 66.530, 179.980}},
       {"RU"}},
      {"Fiji across 180 degrees", {{-16.820, 179.900, -16.700, -179.900}}, {}},
      {"Lesotho in South Africa",
       {{-29.330, 27.430, -29.290, 27.520}, {-30.650, 27.100, -30.600, 27.200}},
       {"LS", "ZA"}},
      {"San Marino in Italy", {{43.900, 12.400, 43.980, 12.520}}, {"SM", "IT"}},
      {"Antarctica round the pole",
       {{-85.000, 179.990, -85.001, -179.990}, {-70.000, 10.000, -69.800, 10.000}},
       {"AQ"}},
  };
  const std::vector<RegionInfo>& regions = catalogue_->regions();
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    const std::set<Cell> cells = CellsOf(scenario);

    // The reference, cell by cell.
    std::vector<PlaceCount> expected(regions.size());
    std::array<PlaceCount, kContinents.size()> continents{};
    PlaceCount atSea;
    for (const auto& [row, column] : cells) {
      const double x = CellCentreLon(column);
      const double y = CellCentreLat(row);
      const double km2 = CellAreaKm2(row);
      std::set<int> continentsHere;
      bool inCountry = false;
      for (size_t r = 0; r < regions.size(); ++r) {
        if (!MayHold(regions[r], x, y) || !Holds(Shape(r), x, y)) continue;
        expected[r].cells += 1;
        expected[r].km2 += km2;
        if (regions[r].level == PlaceLevel::kCountry) {
          inCountry = true;
          if (regions[r].continent >= 0) continentsHere.insert(regions[r].continent);
        }
      }
      for (int c : continentsHere) {
        continents[size_t(c)].cells += 1;
        continents[size_t(c)].km2 += km2;
      }
      if (!inCountry) {
        atSea.cells += 1;
        atSea.km2 += km2;
      }
    }

    // The same cells as store tiles of runs, through the index.
    std::map<std::pair<int32_t, int32_t>, std::vector<CellRun>> tiles;
    for (const auto& [row, column] : cells) {
      const int64_t tileRow = FloorDiv(row, kCellsPerSide);
      const int64_t tileColumn = FloorDiv(column, kCellsPerSide);
      auto& runs = tiles[{int32_t(tileRow * kCentiPerTile), int32_t(tileColumn * kCentiPerTile)}];
      const uint16_t r = uint16_t(row - tileRow * kCellsPerSide);
      const uint16_t c = uint16_t(column - tileColumn * kCellsPerSide);
      if (!runs.empty() && runs.back().row == r && runs.back().to == c) {
        ++runs.back().to;
      } else {
        runs.push_back({r, c, uint16_t(c + 1)});
      }
    }
    RegionIndex index(*catalogue_, "");
    std::vector<std::pair<int32_t, int32_t>> keys;
    for (const auto& entry : tiles) keys.push_back(entry.first);
    ASSERT_TRUE(index.Prepare(keys)) << catalogue_->problem();
    PlacesTally tally(index.regions());
    for (const auto& [key, runs] : tiles)
      tally.AddTile(key.first, runs, *index.Answer(key.first, key.second));

    ASSERT_EQ(tally.total().cells, (long long)cells.size());
    for (size_t r = 0; r < regions.size(); ++r) {
      EXPECT_EQ(tally.regions()[r].cells, expected[r].cells) << regions[r].code;
      EXPECT_NEAR(tally.regions()[r].km2, expected[r].km2, 1e-9) << regions[r].code;
    }
    for (size_t c = 0; c < kContinents.size(); ++c)
      EXPECT_EQ(tally.continents()[c].cells, continents[c].cells) << kContinents[c].code;
    EXPECT_EQ(tally.atSea().cells, atSea.cells);
    for (const std::string& code : scenario.expected) {
      bool visited = false;
      for (size_t r = 0; r < regions.size(); ++r)
        visited = visited || (regions[r].code == code && expected[r].cells > 0);
      EXPECT_TRUE(visited) << code << " should be visited";
    }
  }
}

}  // namespace
}  // namespace roamgrid
