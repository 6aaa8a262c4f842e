// Counting by place and the Places layer on made-up outlines: continents
// and the sea counted once where borders overlap, shares and their lines,
// the tint drawn where a visited place is (across 180 degrees too, states
// when zoomed in), the region under a point and the view that fits one.
#include "map/places_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "export/places_files.h"
#include "geo/places_tally.h"
#include "geo/region_index.h"
#include "geo/sphere_area.h"
#include "store/store_places.h"
#include "support/dcw_fixture.h"
#include "support/temp_dir.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

using testing::Box;
using testing::FakeDcwArrays;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr double kCell = 1.0 / 17920;

// Countries AA (Europe, two states) and BB (Europe), CC (Asia, across the
// antimeridian), FF (Europe).
std::unique_ptr<DcwCatalogue> MadeUpWorld() {
  auto arrays = std::make_unique<FakeDcwArrays>();
  arrays->Add("AA", {Box(0, 0, 10, 10)});
  arrays->Add("AAXX", {Box(0, 0, 5, 10)});
  arrays->Add("AAYY", {Box(5, 0, 10, 10)});
  arrays->Add("BB", {Box(8, 0, 12, 10)});  // overlaps AA
  arrays->Add("CC", {Box(175, -20, 185, -10)});
  arrays->Add("FF", {Box(20, 0, 30, 10)});
  DcwNames names = testing::MadeUpNames({"AA", "BB", "FF"}, {"CC"});
  names.states["AA.XX"] = "Ex";
  auto catalogue = std::make_unique<DcwCatalogue>(std::move(arrays), names);
  EXPECT_TRUE(catalogue->Open());
  return catalogue;
}

TEST(PlacesTallyTest, ContinentsAndTheSeaCountACellOnceWhereBordersOverlap) {
  auto catalogue = MadeUpWorld();
  RegionIndex index(*catalogue, "");
  ASSERT_TRUE(index.Prepare({}));
  ASSERT_TRUE(index.PrepareAreas({0, 1, 2, 3, 4, 5}));
  const std::vector<RegionInfo>& regions = index.regions();
  ASSERT_EQ(regions[1].code, "AA.XX");
  EXPECT_EQ(regions[1].name, "Ex");
  EXPECT_EQ(regions[2].name, "AA.YY");  // no name in the lists
  EXPECT_EQ(regions[1].country, 0);
  EXPECT_EQ(regions[1].continent, ContinentIndex("EU"));

  PlacesTally tally(regions);
  // A tile in AA and its state XX wholly: 10 cells in row 0.
  tally.AddTile(0, {{0, 0, 10}}, {{0, TileCover::kInside, {}}, {1, TileCover::kInside, {}}});
  // A tile where AA (columns 0..500) and BB (400..896) overlap, and one
  // where only CC (Asia) reaches: columns 0..100 of row 5.
  std::vector<RowIntervals> aa(kCellsPerSide), bb(kCellsPerSide), cc(kCellsPerSide);
  aa[0] = {{0, 500}};
  bb[0] = {{400, 896}};
  cc[5] = {{0, 100}};
  tally.AddTile(
      5, {{0, 300, 600}},
      {{0, TileCover::kTouching, EncodeRows(aa)}, {3, TileCover::kTouching, EncodeRows(bb)}});
  tally.AddTile(-1000, {{5, 50, 150}, {6, 0, 10}}, {{4, TileCover::kTouching, EncodeRows(cc)}});
  tally.AddTile(5, {{1, 0, 7}}, {});  // at sea

  EXPECT_EQ(tally.regions()[0].cells, 10 + 200);
  EXPECT_EQ(tally.regions()[1].cells, 10);
  EXPECT_EQ(tally.regions()[3].cells, 200);
  EXPECT_EQ(tally.regions()[4].cells, 50);
  const size_t europe = size_t(ContinentIndex("EU"));
  EXPECT_EQ(tally.continents()[europe].cells, 10 + 300);
  EXPECT_EQ(tally.continents()[size_t(ContinentIndex("AS"))].cells, 50);
  EXPECT_EQ(tally.atSea().cells, 50 + 10 + 7);
  EXPECT_EQ(tally.total().cells, 10 + 300 + 110 + 7);
  EXPECT_DOUBLE_EQ(tally.regions()[1].km2, 10 * CellAreaKm2(0));

  const PlacesSummary summary = Summarize(tally, regions);
  EXPECT_EQ(summary.countries, 3);
  EXPECT_EQ(summary.states, 1);
  EXPECT_EQ(summary.continents, 2);

  const std::vector<PlaceLine> countries = PlaceLines(tally, index, PlaceLevel::kCountry);
  ASSERT_EQ(countries.size(), 3u);
  EXPECT_EQ(countries[0].code, "AA");
  EXPECT_NEAR(countries[0].share, countries[0].km2 / index.AreaKm2(0), 1e-15);
  EXPECT_EQ(countries[2].code, "CC");
  EXPECT_EQ(countries[2].west, 175);
  EXPECT_EQ(countries[2].east, 185);  // across the antimeridian
  const std::vector<PlaceLine> continents = PlaceLines(tally, index, PlaceLevel::kContinent);
  ASSERT_EQ(continents.size(), 2u);
  EXPECT_EQ(continents[1].code, "EU");
  EXPECT_NEAR(continents[1].areaKm2, index.AreaKm2(0) + index.AreaKm2(3) + index.AreaKm2(5), 1e-6);
  EXPECT_EQ(AreasNeeded(tally, regions, PlaceLevel::kContinent),
            (std::vector<uint16_t>{0, 3, 4, 5}));
}

TEST(PlacesTallyTest, SharesSortLargestFirstWithUnknownLast) {
  std::vector<PlaceLine> lines(4);
  const double shares[] = {0.2, kNaN, 0.7, 0.2};
  const char* codes[] = {"DD", "AA", "BB", "CC"};
  for (size_t k = 0; k < lines.size(); ++k) {
    lines[k].code = codes[k];
    lines[k].share = shares[k];
  }
  std::vector<std::string> order;
  for (const PlaceLine& line : SortedByShare(lines)) order.push_back(line.code);
  EXPECT_EQ(order, (std::vector<std::string>{"BB", "CC", "DD", "AA"}));
}

// Screen pixel of (lon, lat) in `view`, the copy of the globe nearest its
// centre.
std::pair<int, int> PixelOf(const MercatorView& view, double lon, double lat) {
  double worldX = (lon + 180) / 360;
  worldX += std::round(view.centerX - worldX);
  return {int(std::floor(view.ScreenX(worldX))),
          int(std::floor(view.ScreenY(MercatorWorldY(lat))))};
}

PlaceLine Visited(size_t index, const std::string& code, double share) {
  PlaceLine line;
  line.index = int32_t(index);
  line.code = code;
  line.share = share;
  return line;
}

TEST(PlacesMapTest, VisitedPlacesAreTintedWhereTheyAreAndStatesWhenZoomedIn) {
  auto catalogue = MadeUpWorld();
  PlacesMap map(*catalogue);
  map.SetPlaces({Visited(0, "AA", 1e-3), Visited(4, "CC", 1.0), Visited(5, "FF", 1e-9)},
                {Visited(1, "AA.XX", 0.5)});
  const auto tinted = [&](const MercatorView& view, double lon, double lat) {
    RgbaImage image(view.width, view.height);
    EXPECT_TRUE(map.Draw(view, image));
    const auto [x, y] = PixelOf(view, lon, lat);
    return image.At(x, y);
  };
  MercatorView world{(15.0 + 180) / 360, MercatorWorldY(5), 4, 800, 600};
  EXPECT_EQ(tinted(world, 2, 5), ShareTint(1e-3));
  EXPECT_EQ(tinted(world, 7.5, 5), ShareTint(1e-3));
  EXPECT_EQ(tinted(world, 11, 5).alpha, 0);  // BB is not visited
  EXPECT_EQ(tinted(world, 25, 5), ShareTint(1e-9));
  EXPECT_EQ(tinted(world, 15, 5).alpha, 0);
  EXPECT_EQ(tinted(world, 2, -1).alpha, 0);

  // Zoomed in: AA shows its visited state, FF (no states) itself.
  MercatorView close = world;
  close.zoom = kPlacesStateZoom;
  close.width = 1400;
  EXPECT_EQ(tinted(close, 2, 5), ShareTint(0.5));
  EXPECT_EQ(tinted(close, 7.5, 5).alpha, 0);
  EXPECT_EQ(tinted(close, 25, 5), ShareTint(1e-9));

  // Both sides of the antimeridian, from a view centred on it.
  MercatorView pacific{0.0, MercatorWorldY(-15), 4, 600, 400};
  EXPECT_EQ(tinted(pacific, 178, -15), ShareTint(1.0));
  EXPECT_EQ(tinted(pacific, -178, -15), ShareTint(1.0));
  EXPECT_EQ(tinted(pacific, -170, -15).alpha, 0);
  EXPECT_EQ(tinted(pacific, 178, -21).alpha, 0);

  // The edge of a place falls between pixel centres.
  RgbaImage image(world.width, world.height);
  ASSERT_TRUE(map.Draw(world, image));
  const int y = PixelOf(world, 5, 5).second;
  const double edge = world.ScreenX((10.0 + 180) / 360);  // AA's east edge
  EXPECT_GT(image.At(int(std::ceil(edge - 0.5)) - 1, y).alpha, 0);
  EXPECT_EQ(image.At(int(std::ceil(edge - 0.5)), y).alpha, 0);
}

TEST(PlacesMapTest, TheRegionUnderAPointAndTheViewThatFitsOne) {
  auto catalogue = MadeUpWorld();
  PlacesMap map(*catalogue, 1);  // keeps one outline at a time
  struct Case {
    double lon, lat;
    PlaceLevel level;
    const char* code;  // "": none
  };
  for (const Case& c : std::vector<Case>{{2.5, 5, PlaceLevel::kState, "AA.XX"},
                                         {7.5, 5, PlaceLevel::kState, "AA.YY"},
                                         {7.5, 5, PlaceLevel::kCountry, "AA"},
                                         {25, 5, PlaceLevel::kState, "FF"},
                                         {15, 5, PlaceLevel::kCountry, ""},
                                         {-178, -15, PlaceLevel::kCountry, "CC"},
                                         {178, -15, PlaceLevel::kCountry, "CC"}}) {
    const std::optional<RegionInfo> region = map.RegionAt(c.lon, c.lat, c.level);
    EXPECT_EQ(region ? region->code : "", c.code) << c.lon << "," << c.lat;
  }
  EXPECT_LE(map.cachedBytes(), size_t(1) << 20);

  PlaceLine across = Visited(4, "CC", 1.0);
  across.west = 175;
  across.east = 185;
  across.south = -20;
  across.north = -10;
  const MercatorView view = FitPlace(across, 800, 600);
  EXPECT_GE(view.centerX, 0.0);
  EXPECT_LT(view.centerX, 1.0);
  for (double lon : {175.5, -175.5}) {
    for (double lat : {-19.5, -10.5}) {
      const auto [x, y] = PixelOf(view, lon, lat);
      EXPECT_TRUE(x >= 0 && x < 800 && y >= 0 && y < 600) << lon << "," << lat;
    }
  }
  EXPECT_LT(PixelOf(view, 185, -15).first - PixelOf(view, 175, -15).first, 800);
  // The height limits the fit here: 10 degrees of latitude in 600 / 1.2 pixels.
  EXPECT_GT(PixelOf(view, 185, -15).first - PixelOf(view, 175, -15).first, 450);
}

class PlacesLayerTest : public testing::TempDirTest {};

TEST_F(PlacesLayerTest, CountsTheStoreListsCountriesWithTheirStatesAndNamesThePlaceAtAPoint) {
  {
    TrackRecorder recorder;
    // 3 x 3 cells in AA's state XX, 2 in FF, 1 at sea.
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 3; ++col)
        AddPoint(recorder, 5 + (row + 0.5) * kCell, 2 + (col + 0.5) * kCell);
    AddPoint(recorder, 5.5, 25.5 + 0.5 * kCell);
    AddPoint(recorder, 5.5, 25.5 + 1.5 * kCell);
    AddPoint(recorder, 5.5, 15.5);
    ReleaseRecorderTile(recorder);
  }
  PlacesLayer layer(MadeUpWorld());
  ASSERT_TRUE(layer.Refresh()) << layer.problem();
  EXPECT_TRUE(layer.unread().empty());
  const std::vector<PlacesListRow> rows = layer.ListRows();
  ASSERT_EQ(rows.size(), 3u);
  // AA and FF are equal in size: AA's 9 cells give it the larger share.
  EXPECT_EQ(rows[0].place.code, "AA");
  EXPECT_FALSE(rows[0].state);
  EXPECT_EQ(rows[0].place.cells, 9);
  EXPECT_EQ(rows[1].place.code, "AA.XX");
  EXPECT_TRUE(rows[1].state);
  EXPECT_EQ(rows[2].place.code, "FF");
  EXPECT_EQ(rows[2].place.cells, 2);
  EXPECT_EQ(rows[0].text.rfind("Land AA  " + ShareText(rows[0].place.share) + "  (0.", 0), 0u)
      << rows[0].text;
  EXPECT_TRUE(rows[0].text.ends_with(" km²)")) << rows[0].text;

  EXPECT_EQ(layer.NameAt(2.5, 5, kPlacesStateZoom), "Ex, Land AA");
  EXPECT_EQ(layer.NameAt(2.5, 5, kPlacesStateZoom - 1), "Land AA");
  EXPECT_EQ(layer.NameAt(9, 5, 0), "Land AA");  // AA and BB overlap: the first listed
  EXPECT_EQ(layer.NameAt(11, 5, 0), "Land BB");
  EXPECT_EQ(layer.NameAt(15, 5, 0), "");

  RgbaImage image(200, 100);
  EXPECT_TRUE(layer.Draw({(15.0 + 180) / 360, MercatorWorldY(5), 3, 200, 100}, image));
}

// Fixes through the recorder, each tile saved.
void Record(const std::vector<std::pair<double, double>>& fixes) {
  TrackRecorder recorder;
  for (const auto& [lat, lon] : fixes) AddPoint(recorder, lat, lon);
  ReleaseRecorderTile(recorder);
}

// The recount gives what counting the whole store afresh gives: the same
// cells (areas summed in another order) and the same problems.
void ExpectSameCounts(const StorePlaces& recount, const StorePlaces& fresh) {
  ASSERT_TRUE(recount.tally && fresh.tally);
  EXPECT_EQ(recount.problems, fresh.problems);
  const auto same = [](const PlaceCount& a, const PlaceCount& b) {
    EXPECT_EQ(a.cells, b.cells);
    EXPECT_NEAR(a.km2, b.km2, 1e-9 * (1 + b.km2));
  };
  ASSERT_EQ(recount.tally->regions().size(), fresh.tally->regions().size());
  for (size_t r = 0; r < fresh.tally->regions().size(); ++r)
    same(recount.tally->regions()[r], fresh.tally->regions()[r]);
  for (size_t c = 0; c < fresh.tally->continents().size(); ++c)
    same(recount.tally->continents()[c], fresh.tally->continents()[c]);
  same(recount.tally->atSea(), fresh.tally->atSea());
  same(recount.tally->total(), fresh.tally->total());
}

TEST_F(PlacesLayerTest, CountingAgainDecodesOnlyTheTilesThatChanged) {
  // Tiles inside AA, on the border AA and BB share, at sea, and in CC
  // across 180 degrees.
  Record({{5.01, 2.01},
          {5.02, 2.02},
          {5.01, 2.06},
          {5.01, 9.01},
          {5.012, 9.012},
          {5.01, 15.01},
          {-15.01, 179.99},
          {-15.01, -179.99}});
  const std::unique_ptr<DcwCatalogue> world = MadeUpWorld();
  RegionIndex index(*world, "");
  const auto fresh = [&] {
    RegionIndex own(*world, "");
    return CountStorePlaces(own, std::nullopt);
  };
  PlacesRecount recount;
  StorePlaces first = recount.Count(index);
  EXPECT_EQ(recount.tilesDecoded(), 6u);
  ExpectSameCounts(first, fresh());
  EXPECT_GT(first.tally->total().cells, 0);

  // Nothing changed: nothing decoded.
  ExpectSameCounts(recount.Count(index), fresh());
  EXPECT_EQ(recount.tilesDecoded(), 0u);

  // A tile that gains cells, a new tile, a tile removed (at sea) and a
  // tile cut short: only the three there are decoded.
  const auto pathOf = [](int32_t latKey, int32_t lonKey) {
    char path[kTilePathSize];
    FormatTilePath(latKey, lonKey, path);
    return std::string(path);
  };
  Record({{5.03, 2.03}, {5.11, 2.11}});
  ASSERT_TRUE(std::filesystem::remove(pathOf(500, 1500)));
  const std::string damaged = pathOf(500, 205);
  std::filesystem::resize_file(damaged, std::filesystem::file_size(damaged) / 2);
  const StorePlaces after = recount.Count(index);
  EXPECT_EQ(recount.tilesDecoded(), 3u);
  ExpectSameCounts(after, fresh());
  EXPECT_EQ(after.problems, std::vector<std::string>{"'" + damaged + "': damaged"});
  EXPECT_EQ(after.tally->atSea().cells, 0);
  EXPECT_NE(after.tally->total().cells, first.tally->total().cells);
}

TEST_F(PlacesLayerTest, MissingOutlinesGiveOneLineAndNoPlaces) {
  PlacesLayer layer((dir() / "no-dcw").string(), "");
  EXPECT_FALSE(layer.Refresh());
  EXPECT_EQ(layer.problem().rfind("install gmt-dcw", 0), 0u) << layer.problem();
  EXPECT_TRUE(layer.ListRows().empty());
  EXPECT_EQ(layer.NameAt(2, 48, 3), "");
  RgbaImage image(10, 10);
  EXPECT_FALSE(layer.Draw({0.5, 0.5, 3, 10, 10}, image));
}

}  // namespace
}  // namespace roamgrid
