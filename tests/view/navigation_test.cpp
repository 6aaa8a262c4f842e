#include "view/navigation.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/view_at.h"
#include "view/render_view.h"

namespace roamgrid {
namespace {

ViewState DefaultHome() { return ViewState{}; }

ViewState At(int32_t lat, int32_t lon, int32_t zoom) { return testing::ViewAt(lat, lon, zoom); }

// Runs a command with its common ending, as the dialog does: a command that
// asks for it is followed by a rebuild of the view, which commits the
// pending move. The working directory is an empty temp dir, so no tile
// file exists.
class NavigationTest : public testing::TempDirTest {
 protected:
  ViewTexts Run(const std::function<bool(ViewState&)>& command, ViewState& state) {
    ranEnding = command(state);
    if (ranEnding) texts = RebuildView(state, raster.get());
    return texts;
  }
  std::unique_ptr<uint8_t[]> raster = std::make_unique<uint8_t[]>(kRasterSize);
  ViewTexts texts;
  bool ranEnding = false;
};

struct PanCase {
  const char* name;
  bool (*command)(ViewState&);
  int32_t zoom;
  int32_t dLat, dLon;
};

TEST_F(NavigationTest, PansMoveTheOriginByHalfAViewOrOneTile) {
  const PanCase cases[] = {
      {"N", PanNorth, 1, 10, 0},
      {"S", PanSouth, 1, -10, 0},
      {"E", PanEast, 1, 0, 10},
      {"W", PanWest, 1, 0, -10},
      {"n", StepTileNorth, 1, 20, 0},
      {"s", StepTileSouth, 1, -20, 0},
      {"e", StepTileEast, 1, 0, 20},
      {"w", StepTileWest, 1, 0, -20},
      {"N at 0", PanNorth, 0, 5, 0},
      {"W at 7", PanWest, 7, 0, -640},
      {"n at 7", StepTileNorth, 7, 20, 0},
      {"E at 4", PanEast, 4, 0, 80},
  };
  for (const PanCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t lat = c.zoom == 0 ? 14265 : 14260;
    ViewState state = At(lat, 55900, c.zoom);
    Run(c.command, state);
    EXPECT_TRUE(ranEnding);
    EXPECT_EQ(state.originLat, lat + c.dLat);
    EXPECT_EQ(state.originLon, 55900 + c.dLon);
    EXPECT_EQ(state.zoomIndex, c.zoom);
    EXPECT_EQ(state.pendingDLat, 0);
    EXPECT_EQ(state.pendingDLon, 0);
  }
}

TEST_F(NavigationTest, ZoomUpFromDefaultHomeKeepsTheCentreAndDisablesZoomUp) {
  ViewState state = DefaultHome();
  ZoomButtons buttons{true, false};
  Run([&](ViewState& s) { return ZoomUp(s, buttons); }, state);
  EXPECT_EQ(state.zoomIndex, 0);
  EXPECT_EQ(state.originLat, 14265);
  EXPECT_EQ(state.originLon, 55905);
  EXPECT_EQ(texts.centerLatText, "35.6750");
  EXPECT_EQ(texts.centerLonText, "139.7750");
  EXPECT_EQ(buttons, (ZoomButtons{false, true}));
}

TEST_F(NavigationTest, ZoomDownFromDefaultHomeCutsTheOriginToTheTileGrid) {
  ViewState state = DefaultHome();
  ZoomButtons buttons{false, true};
  Run([&](ViewState& s) { return ZoomDown(s, buttons); }, state);
  EXPECT_EQ(state.zoomIndex, 2);
  EXPECT_EQ(state.originLat, 14240);
  EXPECT_EQ(state.originLon, 55880);
  EXPECT_EQ(texts.centerLatText, "35.6500");
  EXPECT_EQ(texts.centerLonText, "139.7500");
  EXPECT_EQ(buttons, (ZoomButtons{true, true}));
}

struct ZoomDownCase {
  const char* name;
  int32_t lat, lon, zoom;
  int32_t wantLat, wantLon, wantZoom;
  ZoomButtons wantButtons;
};

TEST_F(NavigationTest, ZoomDownAlignsToTheNewIndexTowardZero) {
  const ZoomDownCase cases[] = {
      {"0 to 1 aligns to 10", 14265, 55905, 0, 14260, 55900, 1, {true, true}},
      {"origin + d = -30 cuts to -20", -20, 30, 1, -20, 20, 2, {true, true}},
      {"0 to 1 cuts negatives toward zero", -10, -15, 0, -10, -20, 1, {true, true}},
      {"3 to 4 needs no cut", -60, 14260, 3, -100, 14220, 4, {true, true}},
      {"6 to 7 disables Zoom Down", 0, 0, 6, -320, -320, 7, {true, false}},
  };
  for (const ZoomDownCase& c : cases) {
    SCOPED_TRACE(c.name);
    ViewState state = At(c.lat, c.lon, c.zoom);
    ZoomButtons buttons;
    Run([&](ViewState& s) { return ZoomDown(s, buttons); }, state);
    EXPECT_TRUE(ranEnding);
    EXPECT_EQ(state.originLat, c.wantLat);
    EXPECT_EQ(state.originLon, c.wantLon);
    EXPECT_EQ(state.zoomIndex, c.wantZoom);
    EXPECT_EQ(buttons, c.wantButtons);
  }
}

TEST_F(NavigationTest, ZoomDownNearTheIntegerLimitStaysDefined) {
  // A home file may hold any 32-bit origin; origin + d must not overflow.
  ViewState state = At(-2147483645, 0, 0);
  ZoomButtons buttons;
  EXPECT_TRUE(ZoomDown(state, buttons));
  EXPECT_EQ(state.pendingDLat, -5);  // -2147483650 is already a multiple of 10
  EXPECT_EQ(state.pendingDLon, 0);   // -5 is cut toward zero to 0
}

TEST_F(NavigationTest, ZoomAtItsBoundChangesNothingAtAll) {
  struct Case {
    const char* name;
    int32_t zoom;
    bool up;
  };
  for (const Case& c : {Case{"Zoom Up at 0", 0, true}, Case{"Zoom Down at 7", 7, false}}) {
    SCOPED_TRACE(c.name);
    ViewState state = At(14260, 55900, c.zoom);
    const ViewState before = state;
    // An enabled button at its bound (possible at start or after Home)
    // stays enabled, and the other keeps whatever state it had.
    ZoomButtons buttons{true, false};
    const bool ending = c.up ? ZoomUp(state, buttons) : ZoomDown(state, buttons);
    EXPECT_FALSE(ending);
    EXPECT_EQ(state.originLat, before.originLat);
    EXPECT_EQ(state.originLon, before.originLon);
    EXPECT_EQ(state.zoomIndex, before.zoomIndex);
    EXPECT_EQ(state.pendingDLat, 0);
    EXPECT_EQ(state.pendingDLon, 0);
    EXPECT_EQ(buttons, (ZoomButtons{true, false}));
  }
}

// Zoom Up holds the centre exactly and Zoom Down up to the new alignment,
// at every index and on both sides of zero.
TEST_F(NavigationTest, ZoomStepsKeepTheAlignmentRuleAndTheCentre) {
  for (int32_t lat : {14260, -14260, -20, 0, 40}) {
    for (int32_t zoom = 1; zoom <= 7; ++zoom) {
      SCOPED_TRACE(::testing::Message() << "lat " << lat << " zoom " << zoom);
      ViewState state = At(lat, -lat, zoom);
      const int32_t center2 = 2 * lat + kZoomSpans[size_t(zoom)];  // twice the centre
      ZoomButtons buttons;
      Run([&](ViewState& s) { return ZoomUp(s, buttons); }, state);
      EXPECT_EQ(2 * state.originLat + kZoomSpans[size_t(zoom) - 1], center2);
      EXPECT_EQ(state.originLat % AlignmentStep(state.zoomIndex), 0);
      Run([&](ViewState& s) { return ZoomDown(s, buttons); }, state);
      EXPECT_EQ(state.zoomIndex, zoom);
      EXPECT_EQ(state.originLat % AlignmentStep(zoom), 0);
      EXPECT_EQ(state.originLon % AlignmentStep(zoom), 0);
      EXPECT_LT(std::abs(2 * state.originLat + kZoomSpans[size_t(zoom)] - center2),
                2 * AlignmentStep(zoom));
    }
  }
}

struct JumpCase {
  const char* name;
  const char* latText;
  const char* lonText;
  int32_t zoom;
  int32_t wantLat, wantLon;
};

TEST_F(NavigationTest, JumpSnapsTheTypedCentreToATileBoundaryTowardZero) {
  const JumpCase cases[] = {
      {"default home centre", "35.675", "139.775", 1, 14260, 55900},
      {"712.75 truncates to 712", "35.65", "139.775", 0, 14240, 55900},
      {"empty at zoom 1", "", "", 1, 0, 0},
      {"empty at zoom 7", "", "", 7, -640, -640},
      {"-712.5 truncates to -712", "-35.6", "0", 1, -14240, 0},
      {"as RenderView writes them", " 35.6750", "139.7750", 1, 14260, 55900},
      {"leading blanks and trailing text", "  35.675N", "\t139.775 deg", 1, 14260, 55900},
      {"no number reads 0.0", "north", "-", 1, 0, 0},
      {"one comma and no dot: a decimal comma", "35,675", "139,775", 1, 14260, 55900},
      {"with a dot or a second comma, a comma ends it", "35.675,5", "139,775,1", 1, 14260, 55580},
      {"a decimal comma, trailing text, no number", "35,675abc", "abc", 1, 14260, 0},
      {"exponent", "3.5675e1", "1397.75E-1", 1, 14260, 55900},
  };
  for (const JumpCase& c : cases) {
    SCOPED_TRACE(c.name);
    ViewState state = At(14260, 55900, c.zoom);
    Run([&](ViewState& s) { return Jump(s, c.latText, c.lonText); }, state);
    EXPECT_TRUE(ranEnding);
    EXPECT_EQ(state.originLat, c.wantLat);
    EXPECT_EQ(state.originLon, c.wantLon);
    EXPECT_EQ(state.zoomIndex, c.zoom);
  }
}

// A centre beyond any integer origin must neither overflow nor be
// undefined: it is held at the Jump limit.
TEST_F(NavigationTest, JumpHoldsAnOutOfRangeCentreAtTheLimit) {
  constexpr int32_t kLimit = kJumpLimitTiles * 20;
  struct Case {
    const char* text;
    int32_t want;
  };
  for (const Case& c : {Case{"1e300", kLimit}, Case{"-1e300", -kLimit}, Case{"inf", kLimit},
                        Case{"-infinity", -kLimit}, Case{"nan", 0}, Case{"500001", kLimit},
                        Case{"500000", kLimit - 20}}) {
    SCOPED_TRACE(c.text);
    ViewState state = At(0, 0, 1);
    EXPECT_TRUE(Jump(state, c.text, c.text));
    EXPECT_EQ(state.originLat, c.want);
    EXPECT_EQ(state.originLon, c.want);
  }
}

TEST_F(NavigationTest, HomeRestoresOriginAndZoomFromTheHomeFields) {
  ViewState state = At(-400, 1200, 6);
  state.homeLat = 14265;
  state.homeLon = -55905;
  state.homeZoom = 0;
  Run(GoHome, state);
  EXPECT_TRUE(ranEnding);
  EXPECT_EQ(state.originLat, 14265);
  EXPECT_EQ(state.originLon, -55905);
  EXPECT_EQ(state.zoomIndex, 0);
  EXPECT_EQ(texts.spanText, "  0.025");
}

TEST_F(NavigationTest, DoubleClickCentresOnTheNearestAlignedOrigin) {
  struct Case {
    ViewState state;
    int pixelX, pixelY;
    int32_t lat, lon;  // the new origin
  };
  const Case cases[] = {
      // The clicked pixel's centre minus half a view, to the nearest 5, 10, 20.
      {At(14265, 55905, 0), 0, 447, 14270, 55900},    // +4.99 and -4.99: a whole step
      {At(14260, 55900, 1), 336, 112, 14260, 55910},  // -4.98 and +5.02
      {At(-640, -640, 7), 447, 111, -960, 0},         // -321.43 and +638.57
      {At(-20, -20, 2), 0, 335, -20, -40},            // +9.96 and -19.96
      // Out of the view, a click counts at its nearest edge pixel.
      {At(14260, 55900, 1), 999, -5, 14250, 55910},
  };
  for (const Case& c : cases) {
    ViewState state = c.state;
    Run([&](ViewState& s) { return CentreOnPixel(s, c.pixelX, c.pixelY); }, state);
    EXPECT_TRUE(ranEnding);
    EXPECT_EQ(state.originLat, c.lat) << c.pixelX << "," << c.pixelY;
    EXPECT_EQ(state.originLon, c.lon) << c.pixelX << "," << c.pixelY;
    EXPECT_EQ(state.zoomIndex, c.state.zoomIndex);
  }
  // The clicked point lands in the middle half of the new view, aligned, at
  // every zoom.
  for (int zoom = kMinZoomIndex; zoom <= kMaxZoomIndex; ++zoom) {
    const int32_t span = kZoomSpans[size_t(zoom)];
    for (int pixel = 0; pixel < kRasterSide; ++pixel) {
      ViewState state = At(-1280, 1280, zoom);
      const double clicked = -1280 + (pixel + 0.5) * span / kRasterSide;
      CentreOnPixel(state, pixel, pixel);
      EXPECT_EQ(state.originLat % AlignmentStep(zoom), 0);
      EXPECT_GE(clicked - state.originLat, span / 4.0) << zoom << " " << pixel;
      EXPECT_LE(clicked - state.originLat, span * 3 / 4.0) << zoom << " " << pixel;
    }
  }
  // Far out, the origin is held at the Jump limit.
  ViewState far = At(kJumpLimitTiles * 20, -kJumpLimitTiles * 20, 7);
  CentreOnPixel(far, 0, 447);
  EXPECT_EQ(far.originLat, kJumpLimitTiles * 20);
  EXPECT_EQ(far.originLon, -kJumpLimitTiles * 20);
}

}  // namespace
}  // namespace roamgrid
