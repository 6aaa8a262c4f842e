// The coast background: land and water filled from shoreline levels and
// corner levels (synthetic bins, exactly), known places in their colour
// with the expected level read independently from the shorelines, a Web
// Mercator view wider than the world, and drawn from the GSHHG files
// Debian installs: known capes land on their pixels at a wide and a close
// zoom, open ocean is all sea, and a point of the data lands exactly on
// the pixel its cell has.
#include "geo/coast_background.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <random>

#include "geo/map_scale.h"
#include "support/synthetic_gshhg.h"
#include "support/temp_dir.h"
#include "tiles/grid_units.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

using testing::SyntheticBin;
using testing::SyntheticSegment;

// The fill colour of each shoreline level.
Rgb FillColour(int level) {
  return level == 0 ? kSeaColour : level % 2 == 1 ? kLandColour : kLakeColour;
}
bool IsFill(Rgb colour) {
  return colour == kSeaColour || colour == kLandColour || colour == kLakeColour;
}

// The level at (latDeg, lonDeg) found without the fill and its corner
// levels: the shorelines a meridian crosses between the point and the
// North Pole, which lies in the open sea. A point lies inside a polygon of
// level L when the meridian crosses level-L shorelines an odd number of
// times; its level is the highest such L.
int LevelAlongTheMeridian(const GshhgStore& store, GshhgResolution resolution, double latDeg,
                          double lonDeg) {
  std::array<int, 5> crossings{};
  for (const PlacedBin& placed :
       store.Bins(GshhgLayer::kShore, resolution, latDeg, 90.0, lonDeg - 1e-9, lonDeg + 1e-9)) {
    const GshhgBin& bin = *placed.bin;
    const double west = bin.westDeg + placed.lonOffsetDeg;
    if (lonDeg < west || lonDeg >= west + bin.sizeDeg) continue;
    const double x = (lonDeg - west) / bin.sizeDeg * kGshhgBinSteps;
    // Only the part of the point's own bin north of the point.
    const double fromY = std::max((latDeg - bin.southDeg) / bin.sizeDeg * kGshhgBinSteps, -1.0);
    for (const GshhgBin::Segment& segment : bin.segments) {
      if (segment.level < 1 || segment.level > 4) continue;
      const uint16_t* p = bin.points.data() + size_t(segment.firstPoint) * 2;
      const uint32_t n = segment.pointCount;
      const uint32_t edges = segment.entrySide == kGshhgInside ? n : n - 1;
      for (uint32_t e = 0; e < edges; ++e) {
        const uint16_t* a = p + size_t(e) * 2;
        const uint16_t* b = p + size_t((e + 1) % n) * 2;
        if ((a[0] <= x) == (b[0] <= x)) continue;
        const double y = a[1] + (x - a[0]) * (double(b[1]) - a[1]) / (double(b[0]) - a[0]);
        if (y > fromY) ++crossings[segment.level];
      }
    }
  }
  int level = 0;
  for (int l = 1; l <= 4; ++l) {
    if (crossings[size_t(l)] % 2 == 1) level = l;
  }
  return level;
}

// Whether the fill pixels within two pixels of (x, y) are all `colour`, and
// there is at least one: lines drawn over the fill are passed over.
::testing::AssertionResult FilledAround(const RgbImage& image, int x, int y, Rgb colour) {
  int seen = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) {
      const int px = x + dx;
      const int py = y + dy;
      if (px < 0 || py < 0 || px >= image.width || py >= image.height) continue;
      const Rgb at = image.At(px, py);
      if (!IsFill(at)) continue;
      if (!(at == colour)) {
        return ::testing::AssertionFailure()
               << "pixel " << px << ", " << py << " is " << int(at.red) << "," << int(at.green)
               << "," << int(at.blue);
      }
      ++seen;
    }
  }
  if (seen == 0) return ::testing::AssertionFailure() << "no filled pixel near " << x << ", " << y;
  return ::testing::AssertionSuccess();
}

MercatorView ViewAt(double latDeg, double lonDeg, double zoom, int width, int height) {
  return {MercatorWorldX(lonDeg), MercatorWorldY(latDeg), zoom, width, height};
}

// The pixel of (latDeg, lonDeg) in `view`.
std::pair<int, int> PixelOf(const MercatorView& view, double latDeg, double lonDeg) {
  return {int(std::floor(view.ScreenX(MercatorWorldX(lonDeg)))),
          int(std::floor(view.ScreenY(MercatorWorldY(latDeg))))};
}

class SyntheticCoastTest : public testing::TempDirTest {
 protected:
  // A store of one crude shoreline file of `bins`.
  std::unique_ptr<GshhgStore> Store(std::vector<SyntheticBin> bins) {
    testing::PlaceStandIn(dir(), "binned_GSHHS_c.nc");
    return std::make_unique<GshhgStore>(
        dir().string(), size_t(1) << 20, [](const std::string& line) { ADD_FAILURE() << line; },
        testing::ServeFile(testing::SyntheticShoreFile(1200, std::move(bins))));
  }
};

// The bin from 0 to 20 E and 10 S to 10 N, in 1/65535 of its side.
constexpr int kIslandBin = 4 * 18;
std::pair<double, double> InIslandBin(double x, double y) {
  return {-10.0 + y / kGshhgBinSteps * 20.0, x / kGshhgBinSteps * 20.0};
}

TEST_F(SyntheticCoastTest, NestedShorelinesFillByTheirLevels) {
  // An island with a lake, an island in it and a pond in that, all closed
  // inside one bin of open sea.
  SyntheticBin bin;
  bin.bin = kIslandBin;
  for (int level = 1; level <= 4; ++level) {
    bin.segments.push_back(
        testing::Square(level, uint16_t(8000 * level), uint16_t(65535 - 8000 * level)));
  }
  const auto store = Store({bin});
  const MercatorView view = ViewAt(0, 10, 3.81, 256, 256);
  RgbImage image(256, 256);
  const CoastDrawing drawn = DrawCoastMercator(*store, view, image);
  EXPECT_TRUE(drawn.filled);
  // Along the middle row, out from the sea to the pond.
  const std::pair<double, int> rings[] = {
      {4000, 0}, {12000, 1}, {20000, 2}, {28000, 3}, {32768, 4}};
  for (const auto& [x, level] : rings) {
    const auto [lat, lon] = InIslandBin(x, 32768);
    const auto [px, py] = PixelOf(view, lat, lon);
    EXPECT_EQ(image.At(px, py), FillColour(level)) << "level " << level;
    EXPECT_EQ(LevelAlongTheMeridian(*store, GshhgResolution::kCrude, lat, lon), level);
  }
  // The shorelines are drawn over the fill, on the pixel of the point or
  // the one beside it where it lies on their border.
  const auto [lat, lon] = InIslandBin(8000, 20000);
  const auto [px, py] = PixelOf(view, lat, lon);
  EXPECT_TRUE(image.At(px, py) == kSeaShoreColour || image.At(px - 1, py) == kSeaShoreColour);
}

TEST_F(SyntheticCoastTest, ShorelinesThatCrossABinFillFromItsCorners) {
  // Land south of a coast running west to east across the bin; in the next
  // bin east, land with a sea inlet that comes in from the west edge.
  SyntheticBin coast;
  coast.bin = kIslandBin + 1;  // 20 to 40 E
  coast.corners = {1, 1, 0, 0};
  coast.segments.push_back(
      {1, kGshhgWest, kGshhgEast, {{0, 30000}, {30000, 34000}, {65535, 30000}}});
  SyntheticBin inlet;
  inlet.bin = kIslandBin + 2;  // 40 to 60 E
  inlet.corners = {1, 1, 1, 1};
  inlet.segments.push_back(
      {1, kGshhgWest, kGshhgWest, {{0, 20000}, {30000, 20000}, {30000, 45000}, {0, 45000}}});
  const auto store = Store({coast, inlet});
  const MercatorView view = ViewAt(0, 40, 3.0, 512, 256);
  RgbImage image(512, 256);
  ASSERT_TRUE(DrawCoastMercator(*store, view, image).filled);
  struct Point {
    double lonDeg;
    double y;  // in the bin
    int level;
  };
  const Point points[] = {{30, 10000, 1}, {30, 50000, 0}, {25, 33000, 0}, {25, 29000, 1},
                          {43, 32768, 0}, {55, 32768, 1}, {43, 10000, 1}, {43, 55000, 1},
                          {10, 32768, 0}};  // and the empty sea bin to the west
  for (const Point& point : points) {
    const double lat = -10.0 + point.y / kGshhgBinSteps * 20.0;
    const auto [px, py] = PixelOf(view, lat, point.lonDeg);
    EXPECT_EQ(image.At(px, py), FillColour(point.level)) << point.lonDeg << ", " << point.y;
  }
}

TEST_F(SyntheticCoastTest, TheWorldRepeatsEastAndWestAndNothingLiesBeyondItsEdges) {
  SyntheticBin bin;
  bin.bin = kIslandBin;
  bin.segments.push_back(testing::Square(1, 10000, 55000));
  const auto store = Store({bin});
  // Zoom 0 is 256 pixels around the world: 600 pixels show it more than
  // twice, and 400 rows reach past the north and south edges.
  const MercatorView view{0.5, 0.5, 0, 600, 400};
  RgbImage image(600, 400);
  const Rgb kGrey{128, 128, 128};
  image.Fill(kGrey);
  ASSERT_TRUE(DrawCoastMercator(*store, view, image).filled);
  int land = 0;
  for (int y = 0; y < 400; ++y) {
    const bool beyond = y < 72 || y >= 328;  // the square spans rows 72 to 327
    for (int x = 0; x < 600; ++x) {
      const Rgb colour = image.At(x, y);
      if (beyond) {
        ASSERT_EQ(colour, kGrey) << x << ", " << y;
        continue;
      }
      ASSERT_NE(colour, kGrey) << x << ", " << y;
      if (x + 256 < 600) {
        ASSERT_EQ(colour, image.At(x + 256, y)) << x << ", " << y;
      }
      land += colour == kLandColour;
    }
  }
  EXPECT_GT(land, 3 * 60);  // the island, three times over, a dozen pixels each
  // Views wholly north or south of the world draw nothing.
  for (const double centerY : {-1.0, 2.0}) {
    RgbImage outside(64, 64);
    outside.Fill(kGrey);
    DrawCoastMercator(*store, {0.5, centerY, 0, 64, 64}, outside);
    RgbImage grey(64, 64);
    grey.Fill(kGrey);
    EXPECT_EQ(outside.bytes, grey.bytes) << centerY;
  }
}

bool DataInstalled() {
  return std::filesystem::exists(std::string(kGshhgFolder) + "/binned_GSHHS_l.nc");
}

// The view of zoomIndex whose centre is nearest (lat, lon) degrees.
struct CentredView {
  int32_t originLat;
  int32_t originLon;
};
CentredView Centre(double lat, double lon, int zoomIndex) {
  const int32_t half = kZoomSpans[size_t(zoomIndex)] / 2;
  return {int32_t(std::lround(lat * kGridPerDegree)) - half,
          int32_t(std::lround(lon * kGridPerDegree)) - half};
}

// Whether a shoreline pixel lies within `radius` pixels of the image centre.
bool ShoreNearCentre(const RgbImage& image, int radius) {
  for (int y = image.height / 2 - radius; y <= image.height / 2 + radius; ++y) {
    for (int x = image.width / 2 - radius; x <= image.width / 2 + radius; ++x) {
      if (image.At(x, y) == kSeaShoreColour) return true;
    }
  }
  return false;
}

TEST(CoastBackgroundTest, KnownCapesLandOnTheirPixelsAtTwoZooms) {
  if (!DataInstalled()) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  struct Cape {
    const char* name;
    double lat;
    double lon;
  };
  // Lighthouses on the shore, east and west of Greenwich, north and south.
  const Cape capes[] = {{"Nojimazaki", 34.9017, 139.8883},
                        {"Inubosaki", 35.7075, 140.8686},
                        {"Cabo da Roca", 38.7804, -9.4989},
                        {"Cape Agulhas", -34.8303, 20.0094}};
  GshhgStore store;
  // At 3.2 degrees a pixel is about 800 m; at 0.4 degrees about 100 m, and
  // the high resolution shoreline is good to a few hundred metres.
  for (const auto& [zoomIndex, radius] : {std::pair{7, 2}, std::pair{4, 5}}) {
    for (const Cape& cape : capes) {
      const CentredView view = Centre(cape.lat, cape.lon, zoomIndex);
      RgbImage image(kRasterSide, kRasterSide);
      DrawCoastBackground(store, view.originLat, view.originLon, zoomIndex, image);
      EXPECT_TRUE(ShoreNearCentre(image, radius)) << cape.name << " at zoom index " << zoomIndex;
    }
  }
  EXPECT_TRUE(store.problems().empty());
}

TEST(CoastBackgroundTest, OpenOceanIsAllSea) {
  if (!DataInstalled()) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  GshhgStore store;
  for (int zoomIndex : {0, 4, 7}) {
    // Mid-Pacific, west of Greenwich, and the South Atlantic.
    for (const auto& [lat, lon] : {std::pair{0.0, -150.0}, std::pair{-30.0, -20.0}}) {
      const CentredView view = Centre(lat, lon, zoomIndex);
      RgbImage image(kRasterSide, kRasterSide);
      const CoastDrawing drawn =
          DrawCoastBackground(store, view.originLat, view.originLon, zoomIndex, image);
      EXPECT_TRUE(drawn.filled);
      EXPECT_EQ(drawn.pixels, kRasterSide * kRasterSide);
      RgbImage sea(kRasterSide, kRasterSide);
      sea.Fill(kSeaColour);
      EXPECT_EQ(image.bytes, sea.bytes) << lat << ", " << lon << " at zoom index " << zoomIndex;
    }
  }
}

TEST(CoastBackgroundTest, AShorePointLandsOnThePixelOfItsCell) {
  if (!DataInstalled()) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  GshhgStore store;
  // The default home at its closest zoom lies on Tokyo's shore.
  const int zoomIndex = 0;
  const int32_t originLat = 14260;
  const int32_t originLon = 55900;
  const double span = double(kZoomSpans[0]) / kGridPerDegree;
  const double south = double(originLat) / kGridPerDegree;
  const double west = double(originLon) / kGridPerDegree;
  const auto resolution = store.ChooseResolution(GshhgLayer::kShore, zoomIndex);
  ASSERT_TRUE(resolution);
  RgbImage image(kRasterSide, kRasterSide);
  ASSERT_GT(DrawCoastBackground(store, originLat, originLon, zoomIndex, image).pixels, 0);
  int checked = 0;
  for (const PlacedBin& placed :
       store.Bins(GshhgLayer::kShore, *resolution, south, south + span, west, west + span)) {
    const GshhgBin& bin = *placed.bin;
    for (size_t at = 0; at < bin.points.size(); at += 2) {
      const double lon = bin.westDeg + placed.lonOffsetDeg + bin.points[at] * bin.sizeDeg / 65535;
      const double lat = bin.southDeg + bin.points[at + 1] * bin.sizeDeg / 65535;
      // The raster's column and row (from the south) of the cell at lat, lon.
      const double column = std::floor((lon - west) / span * kRasterSide);
      const double row = std::floor((lat - south) / span * kRasterSide);
      if (column < 0 || row < 0 || column >= kRasterSide || row >= kRasterSide) continue;
      const Rgb colour = image.At(int(column), kRasterSide - 1 - int(row));
      EXPECT_TRUE(colour == kSeaShoreColour || colour == kLakeShoreColour) << lat << ", " << lon;
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

struct Place {
  const char* name;
  double latDeg;
  double lonDeg;
  int level;  // 0 sea, 1 land, 2 lake, 3 island in a lake, 4 pond in such an island
};
// Places whose level does not depend on the resolution from intermediate up.
// Places whose level does not depend on the resolution from intermediate
// up, each at least 2.5 km from another level.
const Place kPlaces[] = {
    {"Pacific Ocean", 0.0, -150.0, 0},
    {"Tokyo Bay", 35.5, 139.9, 0},
    {"Tokyo", 35.7, 139.6, 1},
    {"Lake Huron", 44.5, -82.0, 2},
    {"Lake Baikal", 53.5, 108.2, 2},
    {"Caspian Sea", 42.0, 50.5, 2},
    {"Isle Royale, Lake Superior", 47.91, -89.06, 3},
    {"Lake Manitou, Manitoulin Island, Lake Huron", 45.76, -81.96, 4},
    {"Antarctica", -80.0, 30.0, 1},
    {"Viti Levu, Fiji", -17.8, 178.0, 1},
    {"Koro Sea, east of 180 degrees", -17.5, -179.5, 0},
};

bool FinerDataInstalled() {
  return std::filesystem::exists(std::string(kGshhgFolder) + "/binned_GSHHS_i.nc") &&
         std::filesystem::exists(std::string(kGshhgFolder) + "/binned_GSHHS_h.nc");
}

TEST(CoastBackgroundTest, KnownPlacesFillWithTheirLevelInBothViews) {
  if (!FinerDataInstalled()) GTEST_SKIP() << "gmt-gshhg-low and -high are not installed";
  GshhgStore store;
  for (const Place& place : kPlaces) {
    // The main view at 3.2 and 0.4 degrees (intermediate and high data).
    for (int zoomIndex : {7, 4}) {
      const CentredView view = Centre(place.latDeg, place.lonDeg, zoomIndex);
      const auto resolution = store.ChooseResolution(GshhgLayer::kShore, zoomIndex);
      ASSERT_TRUE(resolution);
      EXPECT_EQ(LevelAlongTheMeridian(store, *resolution, place.latDeg, place.lonDeg), place.level)
          << place.name;
      RgbImage image(kRasterSide, kRasterSide);
      ASSERT_TRUE(
          DrawCoastBackground(store, view.originLat, view.originLon, zoomIndex, image).filled);
      const double span = double(kZoomSpans[size_t(zoomIndex)]) / kGridPerDegree;
      const double west = double(view.originLon) / kGridPerDegree;
      const double south = double(view.originLat) / kGridPerDegree;
      const int x = int(std::floor((place.lonDeg - west) / span * kRasterSide));
      const int y = kRasterSide - 1 - int(std::floor((place.latDeg - south) / span * kRasterSide));
      EXPECT_TRUE(FilledAround(image, x, y, FillColour(place.level)))
          << place.name << " at zoom index " << zoomIndex;
    }
    // Web Mercator, a country and a region across.
    for (double zoom : {7.0, 10.0}) {
      const MercatorView view = ViewAt(place.latDeg, place.lonDeg, zoom, 320, 200);
      RgbImage image(320, 200);
      ASSERT_TRUE(DrawCoastMercator(store, view, image).filled);
      const auto [x, y] = PixelOf(view, place.latDeg, place.lonDeg);
      EXPECT_TRUE(FilledAround(image, x, y, FillColour(place.level)))
          << place.name << " at zoom " << zoom;
    }
  }
  EXPECT_TRUE(store.problems().empty());
}

TEST(CoastBackgroundTest, EveryFilledPixelAgreesWithTheShorelinesAlongItsMeridian) {
  if (!FinerDataInstalled()) GTEST_SKIP() << "gmt-gshhg-low and -high are not installed";
  GshhgStore store;
  std::mt19937 random(27);
  // The Great Lakes, Finland's lake district, the Aegean, Fiji across 180
  // degrees, the world, the fjords by Bergen (full data when installed);
  // each at the data its scale takes.
  const MercatorView views[] = {ViewAt(45.5, -84.0, 6, 320, 200), ViewAt(62.0, 28.5, 7, 320, 200),
                                ViewAt(38.0, 25.0, 7, 320, 200),  ViewAt(-17.0, 180.0, 8, 320, 200),
                                ViewAt(0.0, 0.0, 1.5, 320, 200),  ViewAt(60.3, 5.2, 12, 320, 200)};
  for (const MercatorView& view : views) {
    RgbImage image(view.width, view.height);
    ASSERT_TRUE(DrawCoastMercator(store, view, image).filled);
    const double metres =
        2 * M_PI * 6378137.0 * std::cos(LatitudeOfWorldY(view.centerY) * M_PI / 180) / view.Scale();
    const auto resolution =
        store.ChooseResolution(GshhgLayer::kShore, ResolutionsForMercator(metres));
    ASSERT_TRUE(resolution);
    int checked = 0;
    int water = 0;
    for (int sample = 0; sample < 400; ++sample) {
      const int x = int(random() % uint32_t(view.width));
      const int y = int(random() % uint32_t(view.height));
      const Rgb colour = image.At(x, y);
      if (!IsFill(colour)) continue;  // a line
      const double lat = LatitudeOfWorldY(view.WorldY(y + 0.5));
      const double lon = LongitudeOfWorldX(view.WorldX(x + 0.5));
      const int level = LevelAlongTheMeridian(store, *resolution, lat, lon);
      EXPECT_EQ(colour, FillColour(level)) << lat << ", " << lon << " at zoom " << view.zoom;
      ++checked;
      water += level % 2 == 0;
    }
    EXPECT_GT(checked, 300) << view.zoom;
    EXPECT_GT(water, 0) << view.zoom;
    EXPECT_LT(water, checked) << view.zoom;
  }
}

class CoastFolderTest : public testing::TempDirTest {};

TEST_F(CoastFolderTest, ADamagedShorelineFileLeavesTheFillToAnother) {
  const std::string folder = kGshhgFolder;
  if (!FinerDataInstalled()) GTEST_SKIP() << "gmt-gshhg-low and -high are not installed";
  // Intermediate data damaged: the widest main view falls back to low.
  for (const char* name : {"binned_GSHHS_l.nc", "binned_GSHHS_i.nc"}) {
    std::filesystem::copy_file(folder + "/" + name, dir() / name);
  }
  std::filesystem::resize_file(dir() / "binned_GSHHS_i.nc", 5000);
  std::vector<std::string> said;
  GshhgStore store(dir().string(), size_t(8) << 20,
                   [&](const std::string& line) { said.push_back(line); });
  const CentredView view = Centre(35.3, 139.8, 7);
  RgbImage image(kRasterSide, kRasterSide);
  const CoastDrawing drawn = DrawCoastBackground(store, view.originLat, view.originLon, 7, image);
  EXPECT_TRUE(drawn.filled);
  ASSERT_EQ(said.size(), size_t(1));
  EXPECT_NE(said[0].find("binned_GSHHS_i.nc: cut short"), std::string::npos) << said[0];
  // The picture is the one drawn where low data alone is installed.
  EXPECT_EQ(store.ChooseResolution(GshhgLayer::kShore, 7), GshhgResolution::kLow);
  const std::filesystem::path lowOnly = dir() / "low";
  std::filesystem::create_directory(lowOnly);
  std::filesystem::copy_file(folder + "/binned_GSHHS_l.nc", lowOnly / "binned_GSHHS_l.nc");
  GshhgStore low(lowOnly.string());
  RgbImage fromLow(kRasterSide, kRasterSide);
  ASSERT_TRUE(DrawCoastBackground(low, view.originLat, view.originLon, 7, fromLow).filled);
  EXPECT_EQ(image.bytes, fromLow.bytes);
  // With both damaged, nothing is filled.
  std::filesystem::resize_file(dir() / "binned_GSHHS_l.nc", 5000);
  GshhgStore none(dir().string(), size_t(8) << 20, [](const std::string&) {});
  RgbImage blank(kRasterSide, kRasterSide);
  EXPECT_FALSE(DrawCoastBackground(none, view.originLat, view.originLon, 7, blank).filled);
  EXPECT_EQ(blank.bytes, RgbImage(kRasterSide, kRasterSide).bytes);
}

TEST(MapScaleTest, ScaleBarsAndPositionTexts) {
  // 3.2 degrees over 448 pixels at 35.6 N: 646 m a pixel, 112 pixels at most;
  // 0.025 degrees at 35.66 N: 5.05 m a pixel.
  ScaleBar bar = ChooseScaleBar(13600, 7, kRasterSide, 112);
  EXPECT_EQ(bar.text, "50 km");
  EXPECT_EQ(bar.pixels, 77);
  bar = ChooseScaleBar(14260, 0, kRasterSide, 112);
  EXPECT_EQ(bar.text, "500 m");
  EXPECT_EQ(bar.pixels, 99);
  // The centre of the top-left and the bottom-right pixel of the default home.
  EXPECT_EQ(PixelPositionText(14260, 55900, 1, kRasterSide, 0, 0), "35.69994, 139.75006");
  EXPECT_EQ(PixelPositionText(-14260, -55900, 1, kRasterSide, 447, 447), "-35.64994, -139.70006");
}

}  // namespace
}  // namespace roamgrid
