// The outline decoder and the region index on made-up outlines: what the
// decoder refuses, rings round a pole, areas with holes, a tile's cover
// against a test of every cell centre, and the cache file kept, dropped
// when damaged or of other files, and rebuilt.
#include "geo/region_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>

#include "geo/sphere_area.h"
#include "support/dcw_fixture.h"
#include "support/temp_dir.h"
#include "tiles/grid_units.h"

namespace roamgrid {
namespace {

using testing::Box;
using testing::FakeDcwArrays;
using testing::MadeUpNames;
using testing::TempDirTest;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDegree = std::numbers::pi / 180;

RegionShape Decoded(const std::vector<testing::Ring>& rings) {
  FakeDcwArrays arrays;
  arrays.Add("XX", rings);
  std::vector<uint16_t> lon, lat;
  std::string problem;
  arrays.Read(0, lon, lat, problem);
  RegionShape shape;
  EXPECT_TRUE(DecodeDcwRegion(arrays.Regions()[0], lon, lat, shape, problem)) << problem;
  return shape;
}

TEST(DcwDecodeTest, UnsoundArraysAreRefusedWithTheRegionNamed) {
  const DcwVariable sound{"XX", 5, {0, 1, 65534}, {0, 1, 65534}};
  const std::vector<uint16_t> square = {65535, 0, 65534, 65534, 0};
  const std::vector<uint16_t> squareLat = {0, 0, 0, 65534, 65534};
  struct Case {
    const char* what;
    DcwVariable variable;
    std::vector<uint16_t> lon, lat;
  };
  DcwVariable nanScale = sound;
  nanScale.lon.scale = kNaN;
  DcwVariable zeroScale = sound;
  zeroScale.lat.scale = 0;
  DcwVariable tinyScale = sound;  // values decode far beyond the poles
  tinyScale.lat.scale = 1;
  DcwVariable farWest = sound;
  farWest.lon.min = -1000;
  DcwVariable longer = sound;
  longer.length = 6;
  DcwVariable twice = sound;  // a ring that goes round the globe twice
  twice.length = 8;
  twice.lon = {-180, 180, 65534.0 / 360};
  const auto at = [](double lon) { return uint16_t(std::lround((lon + 180) * 65534.0 / 360)); };
  const std::vector<uint16_t> twiceLon = {65535,  at(0),    at(150), at(-60),
                                          at(90), at(-120), at(30),  at(179)};
  for (const Case& c : std::vector<Case>{
           {"nan scale", nanScale, square, squareLat},
           {"zero scale", zeroScale, square, squareLat},
           {"beyond the pole", tinyScale, square, squareLat},
           {"far west", farWest, square, squareLat},
           {"lengths", longer, square, squareLat},
           {"winds twice", twice, twiceLon, std::vector<uint16_t>(8, 100)},
           {"no ring", sound, {65535, 65535, 0, 65535, 1}, {0, 0, 0, 0, 0}},
       }) {
    RegionShape shape;
    std::string problem;
    EXPECT_FALSE(DecodeDcwRegion(c.variable, c.lon, c.lat, shape, problem)) << c.what;
    EXPECT_TRUE(problem.starts_with("XX: ")) << c.what << ": " << problem;
    EXPECT_EQ(shape.rings(), 0u) << c.what;
  }
  RegionShape shape;
  std::string problem;
  EXPECT_TRUE(DecodeDcwRegion(sound, square, squareLat, shape, problem)) << problem;
}

TEST(DcwDecodeTest, RingsAreSplitClosedAndShortOnesDropped) {
  FakeDcwArrays arrays;
  arrays.Add("XX", {Box(0, 0, 1, 1), {{0.2, 0.2}, {0.3, 0.3}}, Box(2, 0, 3, 1)});
  std::vector<uint16_t> lon, lat;
  std::string problem;
  arrays.Read(0, lon, lat, problem);
  RegionShape shape;
  ASSERT_TRUE(DecodeDcwRegion(arrays.Regions()[0], lon, lat, shape, problem));
  ASSERT_EQ(shape.rings(), 2u);       // the two-point ring is gone
  EXPECT_EQ(shape.ringStart[1], 4u);  // the repeated first point is dropped
  EXPECT_EQ(shape.next[3], 0u);       // and the edge back is implied
  EXPECT_TRUE(shape.Contains(0.5, 0.5));
  EXPECT_TRUE(shape.Contains(2.5, 0.5));
  EXPECT_FALSE(shape.Contains(1.5, 0.5));
}

TEST(DcwDecodeTest, ARingRoundTheGlobeEnclosesItsPole) {
  // The coast at 70 S, stored from 0 east to 180, then on from -180 (as
  // the outlines store Antarctica), ending where it began.
  testing::Ring coast;
  for (int lon = 0; lon <= 180; lon += 10) coast.push_back({lon, -70});
  for (int lon = -170; lon < 0; lon += 10) coast.push_back({lon, -70});
  const RegionShape shape = Decoded({coast});
  ASSERT_EQ(shape.rings(), 1u);
  EXPECT_EQ(shape.south, -90);
  for (double lon : {-179.99, -90.0, 0.0, 45.0, 179.99}) {
    // Tested as the index does: at the longitude and a turn away.
    const auto contains = [&](double lat) {
      return shape.Contains(lon, lat) || shape.Contains(lon + 360, lat) ||
             shape.Contains(lon - 360, lat);
    };
    EXPECT_TRUE(contains(-80)) << lon;
    EXPECT_TRUE(contains(-89.9)) << lon;
    EXPECT_FALSE(contains(-60)) << lon;
  }
  const double cap =
      2 * std::numbers::pi * kEarthRadiusKm * kEarthRadiusKm * (1 - std::sin(70 * kDegree));
  EXPECT_NEAR(shape.areaKm2 / cap, 1.0, 1e-4);
}

TEST(DcwDecodeTest, AreaCountsHolesWhateverTheirOrderAndDirection) {
  const double square = kEarthRadiusKm * kEarthRadiusKm * 2 * kDegree * std::sin(2 * kDegree);
  const double hole = kEarthRadiusKm * kEarthRadiusKm * 1 * kDegree *
                      (std::sin(1.5 * kDegree) - std::sin(0.5 * kDegree));
  testing::Ring clockwiseHole = Box(0.5, 0.5, 1.5, 1.5);
  std::reverse(clockwiseHole.begin(), clockwiseHole.end());
  for (const auto& rings :
       std::vector<std::vector<testing::Ring>>{{Box(0, 0, 2, 2), Box(0.5, 0.5, 1.5, 1.5)},
                                               {Box(0.5, 0.5, 1.5, 1.5), Box(0, 0, 2, 2)},
                                               {clockwiseHole, Box(0, 0, 2, 2)}}) {
    const RegionShape shape = Decoded(rings);
    EXPECT_NEAR(shape.areaKm2, square - hole, 1e-3 * square);
    EXPECT_FALSE(shape.Contains(1.0, 1.0));  // in the hole
    EXPECT_TRUE(shape.Contains(0.25, 1.0));
  }
}

// Cells of tile (latKey, lonKey) whose centres the shape holds at the
// tile's longitude or a turn away, tested one by one.
std::vector<RowIntervals> CellByCell(const RegionShape& shape, int32_t latKey, int32_t lonKey) {
  std::vector<RowIntervals> rows(kCellsPerSide);
  const int64_t row0 = int64_t(latKey) / 5 * kCellsPerSide;
  const int64_t column0 = int64_t(lonKey) / 5 * kCellsPerSide;
  for (int r = 0; r < kCellsPerSide; ++r) {
    for (int c = 0; c < kCellsPerSide; ++c) {
      const double x = CellCentreLon(column0 + c);
      const double y = CellCentreLat(row0 + r);
      if (!(shape.Contains(x, y) || shape.Contains(x + 360, y) || shape.Contains(x - 360, y)))
        continue;
      RowIntervals& intervals = rows[size_t(r)];
      if (!intervals.empty() && intervals.back().second == c) {
        ++intervals.back().second;
      } else {
        intervals.emplace_back(uint16_t(c), uint16_t(c + 1));
      }
    }
  }
  return rows;
}

TEST(ClassifyTileTest, CoverAgreesWithEveryCellCentre) {
  const RegionShape triangle = Decoded({{{7.0, 47.0}, {7.1, 47.0}, {7.0, 47.1}}});
  // A region across the antimeridian, stored east of 180.
  const RegionShape across = Decoded({Box(179.97, -17.0, 180.02, -16.9)});
  const RegionShape ring = Decoded({Box(7.0, 47.0, 7.2, 47.2), Box(7.06, 47.06, 7.09, 47.09)});
  struct Case {
    const char* what;
    const RegionShape& shape;
    int32_t latKey, lonKey;
    std::optional<TileCover> cover;
  };
  for (const Case& c : std::vector<Case>{
           {"inside", ring, 4710, 710, TileCover::kInside},
           {"hole edges", ring, 4705, 705, TileCover::kTouching},
           {"diagonal", triangle, 4705, 700, TileCover::kTouching},
           {"corner", triangle, 4700, 700, TileCover::kInside},
           {"outside", triangle, 4705, 705, std::nullopt},
           {"north", triangle, 4715, 700, std::nullopt},
           {"west of 180", across, -1700, 17995, TileCover::kTouching},
           {"east of 180", across, -1700, -18000, TileCover::kTouching},
       }) {
    const std::optional<TileRegion> cover = ClassifyTile(c.shape, 3, c.latKey, c.lonKey);
    const std::vector<RowIntervals> expected = CellByCell(c.shape, c.latKey, c.lonKey);
    ASSERT_EQ(cover.has_value(), c.cover.has_value()) << c.what;
    if (!cover) {
      EXPECT_EQ(expected, std::vector<RowIntervals>(kCellsPerSide)) << c.what;
      continue;
    }
    EXPECT_EQ(cover->region, 3) << c.what;
    EXPECT_EQ(cover->cover, *c.cover) << c.what;
    std::vector<RowIntervals> rows(kCellsPerSide, RowIntervals{{0, kCellsPerSide}});
    if (cover->cover == TileCover::kTouching) {
      ASSERT_TRUE(DecodeRows(cover->rows.data(), cover->rows.size(), rows)) << c.what;
    }
    EXPECT_EQ(rows, expected) << c.what;
  }
}

TEST(RowCodeTest, RowsRoundTripAndDamagedBytesAreRefused) {
  std::vector<RowIntervals> rows(kCellsPerSide);
  rows[0] = {{0, 3}, {10, 896}};
  rows[895] = {{500, 501}};
  const std::vector<uint8_t> bytes = EncodeRows(rows);
  std::vector<RowIntervals> back;
  ASSERT_TRUE(DecodeRows(bytes.data(), bytes.size(), back));
  EXPECT_EQ(back, rows);

  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(DecodeRows(longer.data(), longer.size(), back));
  EXPECT_FALSE(DecodeRows(bytes.data(), bytes.size() - 1, back));
  std::vector<RowIntervals> beyond(kCellsPerSide);
  beyond[3] = {{890, 897}};
  std::vector<uint8_t> bad = EncodeRows(beyond);
  EXPECT_FALSE(DecodeRows(bad.data(), bad.size(), back));
  std::vector<RowIntervals> touching(kCellsPerSide);
  touching[3] = {{1, 5}, {5, 9}};
  bad = EncodeRows(touching);
  EXPECT_FALSE(DecodeRows(bad.data(), bad.size(), back));
}

class RegionIndexCacheTest : public TempDirTest {
 protected:
  // A catalogue of two made-up countries that stands for files of
  // `identity`; `reads` counts the outlines read.
  std::unique_ptr<DcwCatalogue> Catalogue(const std::string& identity) {
    auto arrays = std::make_unique<FakeDcwArrays>();
    arrays->Add("AA", {Box(7.0, 47.0, 7.22, 47.2)});
    arrays->Add("BB", {{{7.22, 47.0}, {7.42, 47.0}, {7.22, 47.2}}});
    reads = arrays->reads;
    return std::make_unique<DcwCatalogue>(std::move(arrays), MadeUpNames({"AA", "BB"}), identity);
  }
  std::string cache() const { return (dir() / "cache" / "places.idx").string(); }

  std::shared_ptr<int> reads;
  const std::vector<std::pair<int32_t, int32_t>> tiles = {
      {4705, 705}, {4710, 715}, {4700, 720}, {4720, 725}, {-100, -100}};
};

TEST_F(RegionIndexCacheTest, ALaterRunReadsNoOutlineAndADamagedCacheIsRebuilt) {
  std::vector<TileAnswer> first;
  {
    auto catalogue = Catalogue("one");
    RegionIndex index(*catalogue, cache());
    ASSERT_TRUE(index.Prepare(tiles));
    EXPECT_FALSE(index.report().cacheRead);
    EXPECT_EQ(index.report().tilesWorkedOut, 5);
    ASSERT_TRUE(index.Save());
    for (const auto& [lat, lon] : tiles) first.push_back(*index.Answer(lat, lon));
    EXPECT_TRUE(first[4].empty());   // at sea
    EXPECT_EQ(first[2].size(), 2u);  // on the border of both
    EXPECT_EQ(first[2][1].cover, TileCover::kTouching);
  }
  const auto answers = [&](RegionIndex& index) {
    std::vector<TileAnswer> got;
    for (const auto& [lat, lon] : tiles) got.push_back(*index.Answer(lat, lon));
    return got;
  };
  {
    auto catalogue = Catalogue("one");
    RegionIndex index(*catalogue, cache());
    ASSERT_TRUE(index.Prepare(tiles));
    EXPECT_TRUE(index.report().cacheRead);
    EXPECT_EQ(index.report().tilesWorkedOut, 0);
    EXPECT_EQ(*reads, 0);
    EXPECT_EQ(answers(index), first);
    EXPECT_EQ(index.regions().size(), 2u);
    EXPECT_GT(index.AreaKm2(0), 0);
  }
  const std::vector<uint8_t> sound = testing::ReadBytes(cache());
  std::vector<std::vector<uint8_t>> damaged = {
      {sound.begin(), sound.begin() + std::ptrdiff_t(sound.size() / 2)}, {}, sound, sound};
  damaged[2][10] ^= 1;                               // the version
  damaged[3][36 + (sound.size() - 36) / 2] ^= 0x40;  // the compressed body
  for (size_t k = 0; k < damaged.size(); ++k) {
    testing::WriteBytes(cache(), damaged[k]);
    auto catalogue = Catalogue("one");
    RegionIndex index(*catalogue, cache());
    ASSERT_TRUE(index.Prepare(tiles)) << k;
    EXPECT_TRUE(index.report().cacheDropped) << k;
    EXPECT_EQ(index.report().tilesWorkedOut, 5) << k;
    EXPECT_EQ(answers(index), first) << k;
    ASSERT_TRUE(index.Save()) << k;
    EXPECT_EQ(testing::ReadBytes(cache()), sound) << k;  // the same answers, the same bytes
  }
  // The files changed: nothing of the cache is trusted.
  auto catalogue = Catalogue("two");
  RegionIndex index(*catalogue, cache());
  ASSERT_TRUE(index.Prepare(tiles));
  EXPECT_TRUE(index.report().cacheDropped);
  EXPECT_EQ(index.report().tilesWorkedOut, 5);
}

TEST_F(RegionIndexCacheTest, ACacheThatCannotBeWrittenLosesOnlyTime) {
  testing::WriteBytes((dir() / "cache").string(), {1, 2, 3});  // a file where the folder goes
  auto catalogue = Catalogue("one");
  RegionIndex index(*catalogue, cache());
  ASSERT_TRUE(index.Prepare(tiles));
  EXPECT_FALSE(index.Save());
  EXPECT_NE(index.report().cacheProblem.find(cache()), std::string::npos)
      << index.report().cacheProblem;
  EXPECT_EQ(index.Answer(4705, 705)->size(), 1u);
}

}  // namespace
}  // namespace roamgrid
