// The tooltips of the main dialog's command buttons, found by the
// buttons' labels. "N" and "n" look alike; the tips say how far each
// moves: half the view, or one tile, which is a different share of the
// view at every zoom.
#pragma once

#include <string>
#include <string_view>

namespace roamgrid {

// The tip of the button labelled `label` ("N", "n", "Zoom Up", "Jump",
// ...) at zoom index `zoomIndex` (0..7; another index counts as the
// nearest). Empty for a label that has none.
std::string NavigationTip(std::string_view label, int zoomIndex);

}  // namespace roamgrid
