#include "view/navigation_tips.h"

#include <gtest/gtest.h>

namespace roamgrid {
namespace {

struct TipCase {
  const char* label;
  int zoomIndex;
  const char* tip;
};

// The one-tile buttons say what share of the view a tile is at each zoom;
// the half-view buttons always move by half.
TEST(NavigationTip, TellsHowFarEachButtonMovesAtTheZoom) {
  const TipCase cases[] = {
      {"N", 1, "Move north by half the view"},
      {"W", 7, "Move west by half the view"},
      {"n", 0, "Move north by two views (one tile, 0.05°)"},
      {"n", 1, "Move north by a whole view (one tile, 0.05°)"},
      {"s", 2, "Move south by half the view (one tile, 0.05°)"},
      {"e", 3, "Move east by a quarter of the view (one tile, 0.05°)"},
      {"w", 4, "Move west by an eighth of the view (one tile, 0.05°)"},
      {"n", 5, "Move north by 1/16 of the view (one tile, 0.05°)"},
      {"n", 7, "Move north by 1/64 of the view (one tile, 0.05°)"},
      {"n", 99, "Move north by 1/64 of the view (one tile, 0.05°)"},  // held at 7
      {"n", -3, "Move north by two views (one tile, 0.05°)"},         // held at 0
      {"Zoom Up", 3, "Zoom in: half the view's side"},
      {"Zoom Down", 3, "Zoom out: twice the view's side"},
      {"Jump", 1, "Centre the view near the position typed above"},
      {"deg", 1, ""},
      {"", 1, ""},
  };
  for (const TipCase& c : cases) {
    SCOPED_TRACE(std::string(c.label) + " at " + std::to_string(c.zoomIndex));
    EXPECT_EQ(NavigationTip(c.label, c.zoomIndex), c.tip);
  }
}

}  // namespace
}  // namespace roamgrid
