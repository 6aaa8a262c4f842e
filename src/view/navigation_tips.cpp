#include "view/navigation_tips.h"

#include <algorithm>

#include "tiles/grid_units.h"
#include "view/view_state.h"

namespace roamgrid {

namespace {

struct Direction {
  char half;  // the half-view button's label
  char tile;  // the one-tile button's label
  const char* name;
};

constexpr Direction kDirections[] = {
    {'N', 'n', "north"}, {'S', 's', "south"}, {'E', 'e', "east"}, {'W', 'w', "west"}};

// One tile as a share of the view's side at `zoomIndex`.
std::string TileShare(int zoomIndex) {
  const int span = kZoomSpans[size_t(zoomIndex)];
  if (span * 2 == kGridPerTile) return "two views";
  if (span == kGridPerTile) return "a whole view";
  switch (span / kGridPerTile) {
    case 2:
      return "half the view";
    case 4:
      return "a quarter of the view";
    case 8:
      return "an eighth of the view";
    default:
      return "1/" + std::to_string(span / kGridPerTile) + " of the view";
  }
}

}  // namespace

std::string NavigationTip(std::string_view label, int zoomIndex) {
  zoomIndex = std::clamp(zoomIndex, kMinZoomIndex, kMaxZoomIndex);
  if (label == "Zoom Up") return "Zoom in: half the view's side";
  if (label == "Zoom Down") return "Zoom out: twice the view's side";
  if (label == "Jump") return "Centre the view near the position typed above";
  if (label == "Home") return "Go back to the home position";
  if (label == "Set Home Position") return "Keep this view as the home position";
  if (label == "Import") return "Add GPS logs to the map";
  if (label == "Export") return "Save the view as an image";
  if (label.size() != 1) return {};
  for (const Direction& direction : kDirections) {
    if (label[0] == direction.half)
      return std::string("Move ") + direction.name + " by half the view";
    if (label[0] == direction.tile) {
      return std::string("Move ") + direction.name + " by " + TileShare(zoomIndex) +
             " (one tile, 0.05°)";
    }
  }
  return {};
}

}  // namespace roamgrid
