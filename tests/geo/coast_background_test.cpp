// The coast background drawn from the GSHHG files Debian installs: known
// capes land on their pixels at a wide and a close zoom, open ocean is all
// sea, and a point of the data lands exactly on the pixel its cell has.
#include "geo/coast_background.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "geo/map_scale.h"
#include "tiles/grid_units.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

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
