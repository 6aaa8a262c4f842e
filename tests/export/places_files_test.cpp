// The places table as text, CSV, JSON and GeoJSON: shares as people read
// them, names that need quoting or escaping, and outlines with holes as
// GIS programs expect them (closed rings, outer ones anticlockwise).
#include "export/places_files.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "support/dcw_fixture.h"

namespace roamgrid {
namespace {

using testing::Box;

// What `write` puts into a TextOutput, as a string.
template <class Write>
std::string Written(Write&& write) {
  std::FILE* file = std::tmpfile();
  {
    TextOutput out(file);
    write(out);
    EXPECT_TRUE(out.Finish());
  }
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += char(c);
  std::fclose(file);
  return text;
}

TEST(PlacesFilesTest, SharesReadAsPerCentWithThreeDigits) {
  const struct {
    double share;
    const char* text;
  } cases[] = {{0.385, "38.5%"},
               {0.0385, "3.85%"},
               {3.85e-4, "0.0385%"},
               {3.85e-8, "0.00000385%"},
               {1.0, "100%"},
               {0.0, "0%"},
               {std::numeric_limits<double>::quiet_NaN(), "-"}};
  for (const auto& c : cases) EXPECT_EQ(ShareText(c.share), c.text) << c.share;
  EXPECT_EQ(PlaceLevelFromName("state"), PlaceLevel::kState);
  EXPECT_EQ(PlaceLevelFromName("State"), std::nullopt);
}

TEST(PlacesFilesTest, TablesQuoteAndEscapeNames) {
  PlaceLine line;
  line.code = "BQ";
  line.name = "Bonaire, \"Sint\" Eustatius\\Saba";
  line.cells = 12;
  line.km2 = 0.000312;
  line.share = 1.5e-7;
  PlacesSummary summary;
  summary.countries = 1;
  summary.continents = 1;
  summary.atSea = {3, 0.0001};
  summary.total = {15, 0.0004};
  EXPECT_EQ(Written([&](TextOutput& out) {
              WritePlacesTable(out, PlacesFormat::kCsv, PlaceLevel::kCountry, {line}, summary);
            }),
            "code,name,cells,km2,share\n"
            "BQ,\"Bonaire, \"\"Sint\"\" Eustatius\\Saba\",12,0.000312,1.5e-07\n");
  const std::string json = Written([&](TextOutput& out) {
    WritePlacesTable(out, PlacesFormat::kJson, PlaceLevel::kCountry, {line}, summary);
  });
  rapidjson::Document doc;
  doc.Parse(json.c_str());
  ASSERT_FALSE(doc.HasParseError()) << json;
  EXPECT_EQ(std::string(doc["places"][0]["name"].GetString()), line.name);
  EXPECT_EQ(doc["places"][0]["share"].GetDouble(), 1.5e-7);
  EXPECT_EQ(doc["summary"]["atSea"]["cells"].GetInt(), 3);
  const std::string text = Written([&](TextOutput& out) {
    WritePlacesTable(out, PlacesFormat::kText, PlaceLevel::kCountry, {line}, summary);
  });
  EXPECT_EQ(text,
            "code  cells       km2       share  name\n"
            "BQ       12  0.000312  0.0000150%  " +
                line.name +
                "\n\n"
                "countries visited: 1\nstates visited: 0\ncontinents visited: 1\n"
                "at sea or unassigned: 3 cells, 0.000100 km2\n");
}

// Twice the signed area of a GeoJSON ring by the shoelace formula:
// positive when anticlockwise.
double Shoelace(const rapidjson::Value& ring) {
  double sum = 0;
  for (rapidjson::SizeType k = 0; k + 1 < ring.Size(); ++k)
    sum += ring[k][0].GetDouble() * ring[k + 1][1].GetDouble() -
           ring[k + 1][0].GetDouble() * ring[k][1].GetDouble();
  return sum;
}

TEST(PlacesFilesTest, GeoJsonHoldsOutlinesWithTheirHolesAsGisProgramsReadThem) {
  auto arrays = std::make_unique<testing::FakeDcwArrays>();
  testing::Ring clockwise = Box(350, 0, 360, 10);  // east of 180, as the file stores it
  std::reverse(clockwise.begin(), clockwise.end());
  arrays->Add("ZA", {Box(10, -10, 20, 0), Box(12, -8, 14, -6), clockwise});
  DcwCatalogue catalogue(std::move(arrays), testing::MadeUpNames({"ZA"}));
  ASSERT_TRUE(catalogue.Open());
  PlaceLine line;
  line.code = "ZA";
  line.name = "Land ZA";
  line.index = 0;
  line.share = std::numeric_limits<double>::quiet_NaN();
  const std::string text = Written([&](TextOutput& out) {
    EXPECT_TRUE(WritePlacesGeoJson(out, PlaceLevel::kCountry, {line}, catalogue.regions(),
                                   [&](size_t r) { return catalogue.Shape(r); }));
  });
  rapidjson::Document doc;
  doc.Parse(text.c_str());
  ASSERT_FALSE(doc.HasParseError()) << text;
  const auto& feature = doc["features"][0];
  EXPECT_TRUE(feature["properties"]["share"].IsNull());
  const auto& polygons = feature["geometry"]["coordinates"];
  ASSERT_EQ(polygons.Size(), 2u);
  ASSERT_EQ(polygons[0].Size(), 2u);  // the outer ring and its hole
  ASSERT_EQ(polygons[1].Size(), 1u);
  EXPECT_GT(Shoelace(polygons[0][0]), 0);
  EXPECT_LT(Shoelace(polygons[0][1]), 0);
  EXPECT_GT(Shoelace(polygons[1][0]), 0);
  // Placed within -180..180 (the 16-bit steps of a 350-degree span are 0.005 degree).
  EXPECT_NEAR(polygons[1][0][0][0].GetDouble(), -10.0, 0.01);
  for (const auto* ring : {&polygons[0][0], &polygons[0][1], &polygons[1][0]}) {
    EXPECT_EQ(ring->Size(), 5u);
    EXPECT_EQ((*ring)[0][0].GetDouble(), (*ring)[4][0].GetDouble());
    EXPECT_EQ((*ring)[0][1].GetDouble(), (*ring)[4][1].GetDouble());
  }
}

}  // namespace
}  // namespace roamgrid
