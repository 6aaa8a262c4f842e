#include "geo/map_viewport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace roamgrid {
namespace {

MercatorView TokyoView(double zoom = 12, int width = 1280, int height = 800) {
  return ViewOfCentre({35.68, 139.76, zoom}, width, height);
}

TEST(MapViewportTest, ZoomAboutThePointerKeepsThePointUnderIt) {
  struct Case {
    double fromZoom, toZoom, screenX, screenY;
  } cases[] = {
      {12, 12.5, 100, 700},   // wheel in near the bottom-left corner
      {12, 11.5, 1279, 0},    // wheel out at the top-right corner
      {3, 9, 640, 400},       // at the centre nothing moves
      {12, 13, 1000, 123.5},  // double-click
      {21.5, 22, 5, 5},       // to the deepest zoom
  };
  for (const Case& c : cases) {
    MercatorView view = TokyoView(c.fromZoom);
    const double worldX = view.WorldX(c.screenX), worldY = view.WorldY(c.screenY);
    ZoomViewAbout(view, c.toZoom, c.screenX, c.screenY);
    EXPECT_DOUBLE_EQ(view.zoom, c.toZoom);
    EXPECT_NEAR(view.ScreenX(worldX), c.screenX, 1e-6) << c.fromZoom << " -> " << c.toZoom;
    EXPECT_NEAR(view.ScreenY(worldY), c.screenY, 1e-6) << c.fromZoom << " -> " << c.toZoom;
  }
  // Beyond the zoom range the zoom is held and the point stays put.
  MercatorView deep = TokyoView(22);
  const double worldX = deep.WorldX(10);
  ZoomViewAbout(deep, 30, 10, 10);
  EXPECT_EQ(deep.zoom, kMapMaxZoom);
  EXPECT_NEAR(deep.ScreenX(worldX), 10, 1e-6);
}

TEST(MapViewportTest, ViewsStayNormalWhateverTheyAreMovedBy) {
  // A drag moves the map with the pointer.
  MercatorView view = TokyoView();
  const double worldX = view.WorldX(200), worldY = view.WorldY(300);
  PanView(view, 150, -40);
  EXPECT_NEAR(view.ScreenX(worldX), 350, 1e-6);
  EXPECT_NEAR(view.ScreenY(worldY), 260, 1e-6);

  // East over 180 degrees: the centre wraps to the far west.
  MercatorView pacific = ViewOfCentre({-17, 179.99, 10}, 800, 600);
  PanView(pacific, -pacific.Scale() * 0.02 / 360.0, 0);
  EXPECT_GE(pacific.centerX, 0.0);
  EXPECT_LT(pacific.centerX, 0.001);
  EXPECT_NEAR(CentreOfView(pacific).lon, -179.99, 1e-9);

  // Dragged far north, the Mercator square still fills the window's top.
  MercatorView north = TokyoView(4);
  PanView(north, 0, 1e9);
  EXPECT_NEAR(north.WorldY(0), 0.0, 1e-12);
  // Zoomed out until the square is shorter than the window: it sits in the
  // middle.
  MercatorView world = TokyoView(1);
  EXPECT_EQ(world.centerY, 0.5);

  // Rubbish in, a normal view out.
  MercatorView odd{NAN, INFINITY, NAN, 0, -5};
  NormalizeView(odd);
  EXPECT_EQ(odd.centerX, 0.5);
  EXPECT_EQ(odd.centerY, 0.5);
  EXPECT_EQ(odd.zoom, 0.0);
  EXPECT_EQ(odd.width, 1);
  EXPECT_EQ(odd.height, 1);

  // A resize keeps the centre and the zoom.
  MercatorView resized = TokyoView();
  ResizeView(resized, 300, 200);
  EXPECT_NEAR(CentreOfView(resized).lat, 35.68, 1e-9);
  EXPECT_NEAR(CentreOfView(resized).lon, 139.76, 1e-9);
  EXPECT_EQ(resized.zoom, 12);
}

TEST(MapViewportTest, ZoomStepsLandOnTheirGrid) {
  struct Case {
    double zoom;
    int steps;
    double size, expected;
  } cases[] = {
      {12.3, 1, 0.5, 12.5},
      {12.3, -1, 0.5, 12.0},
      {12.5, 1, 0.5, 13.0},
      {12.5, -1, 0.5, 12.0},
      {12.0, 3, 0.5, 13.5},
      {12.3, 1, 1, 13},
      {12.3, -1, 1, 12},
      {12.0, -1, 1, 11},
      {0.2, -1, 0.5, 0},
      {21.9, 2, 0.5, 22},
      {12.0 + 1e-12, 1, 0.5, 12.5},
      {12.7, 0, 0.5, 12.7},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(SteppedZoom(c.zoom, c.steps, c.size), c.expected)
        << c.zoom << " " << c.steps << " x " << c.size;
  }
}

TEST(MapViewportTest, WheelNotchesGatherFineTurns) {
  struct Case {
    std::vector<int> deltas;
    int notches, left;
  } cases[] = {
      {{120}, 1, 0},       {{-240}, -2, 0},          {{60, 60}, 1, 0},         {{40, 40}, 0, 80},
      {{100, -30}, 0, 70}, {{90, 90, 90, 90}, 3, 0}, {{2000000000}, 8738, 16},
  };
  for (const Case& c : cases) {
    int pending = 0, notches = 0;
    for (int delta : c.deltas) notches += TakeWheelNotches(pending, delta);
    EXPECT_EQ(notches, c.notches) << c.deltas.front();
    EXPECT_EQ(pending, c.left) << c.deltas.front();
  }
}

TEST(MapViewportTest, FitShowsTheWholeBoxWithItsMargin) {
  struct Case {
    const char* name;
    double north, west, south, east;  // degrees
    int width, height;
  } cases[] = {
      {"four continents", 60.2, -123.2, -34.0, 151.2, 1280, 800},
      {"one city, tall window", 35.8, 139.6, 35.5, 139.9, 400, 900},
      {"across 180 degrees", -16.0, 177.0, -19.0, 181.0, 800, 600},
      {"tiny window", 10, 10, 0, 20, 30, 30},
  };
  for (const Case& c : cases) {
    // East of 180 degrees as x beyond 1, as the bounds of marks give it.
    const double west = MercatorWorldX(c.west), north = MercatorWorldY(c.north);
    const double east = west + (c.east - c.west) / 360.0, south = MercatorWorldY(c.south);
    const MercatorView view = FitView(west, north, east, south, c.width, c.height);
    const double margin = std::min(kMapFitMarginPx, std::min(c.width, c.height) / 4);
    const double left = view.ScreenX(NearestWrap(west, view.centerX));
    const double right = left + (east - west) * view.Scale();
    EXPECT_NEAR(left + right, c.width, 1e-6) << c.name;  // centred
    EXPECT_GE(left, margin - 1e-6) << c.name;
    EXPECT_GE(view.ScreenY(north), margin - 1e-6) << c.name;
    EXPECT_LE(view.ScreenY(south), c.height - margin + 1e-6) << c.name;
    // Tight along one side at least.
    EXPECT_TRUE(std::fabs(left - margin) < 1e-6 || std::fabs(view.ScreenY(north) - margin) < 1e-6)
        << c.name;
  }
  // One cell: as close as a fit goes, centred on it.
  const double x = MercatorWorldX(139.76), y = MercatorWorldY(35.68);
  const MercatorView cell = FitView(x, y, x, y, 1280, 800);
  EXPECT_EQ(cell.zoom, kMapFitMaxZoom);
  EXPECT_NEAR(CentreOfView(cell).lon, 139.76, 1e-9);
  // No marks: the whole world.
  const MercatorView world = FitView(0, 0, 1, 1, 1280, 800);
  EXPECT_NEAR(world.Scale(), 800 - 2 * kMapFitMarginPx, 1e-9);
  EXPECT_NEAR(CentreOfView(world).lat, 0, 1e-9);
}

TEST(MapViewportTest, MainViewSquareLandsNearTheMapCentre) {
  // The main view's home square, one tile, at zoom 12 round its centre.
  const MercatorView tokyo = ViewOfCentre({35.675, 139.775, 12}, 1280, 800);
  const ScreenBox home = GridSquareOnScreen(tokyo, 14260, 55900, 20);
  const double side = 0.05 / 360 * tokyo.Scale();  // 58.25 pixels
  EXPECT_NEAR(home.left, 640 - side / 2, 1e-6);
  EXPECT_NEAR(home.right, 640 + side / 2, 1e-6);
  EXPECT_NEAR(home.top + home.bottom, 800, 0.05);  // Mercator: not quite symmetric
  EXPECT_LT(home.top, home.bottom);
  // A square from 179 E to 176.2 W seen from a view just east of 180
  // degrees: drawn as one piece beside it, not a globe away.
  const MercatorView dateLine = ViewOfCentre({0, -179.5, 8}, 1000, 600);
  const ScreenBox square = GridSquareOnScreen(dateLine, 0, 179 * 400, 1280);
  EXPECT_NEAR(square.left, 500 - 1.5 / 360 * dateLine.Scale(), 1e-6);
  EXPECT_NEAR(square.right - square.left, 3.2 / 360 * dateLine.Scale(), 1e-6);
  // A picture drawn a moment ago, seen after a pan over 180 degrees and a
  // zoom in about the centre: moved, then stretched twice over.
  MercatorView now = dateLine;
  PanView(now, 300, 0);
  const ScreenBox moved = PictureOnScreen(dateLine, now);
  EXPECT_NEAR(moved.left, 300, 1e-6);
  EXPECT_NEAR(moved.right, 1300, 1e-6);
  EXPECT_NEAR(moved.top, 0, 1e-6);
  ZoomViewAbout(now, now.zoom + 1, 500, 300);
  const ScreenBox stretched = PictureOnScreen(dateLine, now);
  EXPECT_NEAR(stretched.right - stretched.left, 2000, 1e-6);
  EXPECT_NEAR(stretched.bottom - stretched.top, 1200, 1e-6);
  EXPECT_NEAR(NearestWrap(0.3, 0.7), 0.3, 1e-15);
  EXPECT_NEAR(NearestWrap(0.3, 0.9), 1.3, 1e-15);
  EXPECT_NEAR(NearestWrap(0.3, -2.6), -2.7, 1e-15);
}

TEST(MapViewportTest, PointerPositionWidthAndScale) {
  const MercatorView view = TokyoView(12);
  const std::optional<MapCentre> centre = PointAt(view, 640, 400);
  ASSERT_TRUE(centre);
  EXPECT_NEAR(centre->lat, 35.68, 1e-9);
  EXPECT_NEAR(centre->lon, 139.76, 1e-9);
  // North of the Mercator square there is no position.
  const MercatorView world = ViewOfCentre({0, 0, 0.5}, 1280, 800);
  EXPECT_FALSE(PointAt(world, 640, 5));
  // West of 180 W, on the repeated map, the longitude is wrapped.
  const std::optional<MapCentre> wrapped = PointAt(world, 640 - world.Scale() * 0.75, 400);
  ASSERT_TRUE(wrapped);
  EXPECT_NEAR(wrapped->lon, 90, 1e-9);

  // At the equator and zoom z, 1280 pixels are 1280 / (256 2^z) of the globe;
  // at 60 degrees half as much ground; never more than once round.
  EXPECT_NEAR(VisibleWidthKm(ViewOfCentre({0, 0, 10}, 1280, 800)), 40075.016686 * 5 / 1024, 1e-6);
  EXPECT_NEAR(VisibleWidthKm(ViewOfCentre({60, 0, 10}, 1280, 800)), 40075.016686 * 5 / 2048, 1e-6);
  EXPECT_NEAR(VisibleWidthKm(world), 40075.016686, 1e-6);

  EXPECT_EQ(MapStatusText(view, centre), "35.68000, 139.76000   zoom 12.0   width 39.7 km");
  EXPECT_EQ(MapStatusText(ViewOfCentre({0, 0, 16.5}, 1000, 800), std::nullopt),
            "zoom 16.5   width 1.69 km");
  EXPECT_EQ(MapStatusText(ViewOfCentre({0, 0, 20}, 1000, 800), std::nullopt),
            "zoom 20.0   width 0.149 km");

  // The scale bar at the equator, zoom 0: 156.5 km per pixel, so 5000 km
  // fits 100 pixels as 32 pixels.
  const ScaleBar bar = MercatorScaleBar(ViewOfCentre({0, 0, 0}, 256, 256), 100);
  EXPECT_EQ(bar.text, "10000 km");
  EXPECT_EQ(bar.pixels, 64);
}

TEST(MapViewportTest, MapViewTextsReadBackAndRubbishIsRefused) {
  struct Case {
    const char* text;
    bool valid;
    MapCentre centre;
  } cases[] = {
      {"35.68,139.76,12", true, {35.68, 139.76, 12}},
      {" -33.9 , 151.2 , 0.5 ", true, {-33.9, 151.2, 0.5}},
      {"+90,-180,22", true, {90, -180, 22}},
      {"0,0,0", true, {0, 0, 0}},
      {"35.68,139.76", false, {}},
      {"35.68,139.76,12,3", false, {}},
      {"35,68,139,76,12", false, {}},
      {"35.68;139.76;12", false, {}},
      {"90.5,0,3", false, {}},
      {"0,180.1,3", false, {}},
      {"0,0,22.5", false, {}},
      {"0,0,-1", false, {}},
      {"0,0,12x", false, {}},
      {"0,,12", false, {}},
      {"nan,0,1", false, {}},
      {"1e1,0,1", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    const std::optional<MapCentre> read = ParseMapView(c.text);
    ASSERT_EQ(read.has_value(), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(*read, c.centre) << c.text;
    }
  }
  const MapCentre centre{-33.912345, 151.2, 7.25};
  EXPECT_EQ(FormatMapView(centre), "-33.912345,151.200000,7.25");
  EXPECT_EQ(ParseMapView(FormatMapView(centre)), centre);
}

}  // namespace
}  // namespace roamgrid
