// The twelve navigation commands of the main dialog, as operations on the
// view state: four pans by half a view, four by one tile, two zoom steps
// that hold the centre, Jump to a typed centre and Home. Each returns
// whether the command's common ending must follow (rebuild the view with
// RebuildView, then repaint the view window); only a zoom step at its
// bound returns false, and then it has changed nothing at all.
#pragma once

#include <cstdint>
#include <string>

#include "view/view_state.h"

namespace roamgrid {

// The enabled state of the Zoom Up (1007) and Zoom Down (1008) buttons.
// Both are enabled when the dialog opens; after every later command
// EnableZoomButtons enables exactly those that can act at the current zoom,
// and the dialog applies the result to its buttons.
struct ZoomButtons {
  bool upEnabled = true;
  bool downEnabled = true;
  bool operator==(const ZoomButtons&) const = default;
};

// Half-view pans (buttons 1001 "N", 1003 "S", 1004 "E", 1002 "W"): set
// pendingDLat or pendingDLon to plus or minus half the current span.
bool PanNorth(ViewState& state);
bool PanSouth(ViewState& state);
bool PanEast(ViewState& state);
bool PanWest(ViewState& state);

// One-tile pans (buttons 1017 "n", 1016 "s", 1015 "e", 1014 "w"): set
// pendingDLat or pendingDLon to plus or minus 20 grid units.
bool StepTileNorth(ViewState& state);
bool StepTileSouth(ViewState& state);
bool StepTileEast(ViewState& state);
bool StepTileWest(ViewState& state);

// Zoom Up (1007): one zoom index closer, the centre held by a pending move
// of half the new span on both axes. Disables Zoom Up on reaching index 0
// and enables Zoom Down. At index 0 it returns false and changes nothing.
bool ZoomUp(ViewState& state, ZoomButtons& buttons);

// Zoom Down (1008): one zoom index wider; the pending move is minus half the
// old span, cut toward zero so that the new origin keeps the alignment rule
// of the new index. Disables Zoom Down on reaching index 7 and enables Zoom
// Up. At index 7 it returns false and changes nothing.
bool ZoomDown(ViewState& state, ZoomButtons& buttons);

// Jump (1011): reads the typed centre from the texts of edits 1005 and 1006
// (decimal degrees, read locale-independently, a lone comma as the decimal
// point, see ParseTypedDecimal; 0.0 where no number stands)
// and sets the origin to the tile boundary toward zero from the centre
// minus half a view. Zoom and pending move stay. A centre so far off that
// the origin would not fit the view's integers is held at
// +-kJumpLimitTiles tiles.
bool Jump(ViewState& state, const std::string& centerLatText, const std::string& centerLonText);

// Home (1018): origin and zoom index from the home fields.
bool GoHome(ViewState& state);

// After any command: enables each zoom button whose command can act at the
// current zoom index and disables the other (Zoom Up at index 0, Zoom Down
// at index 7), so no enabled button does nothing. A damaged zoom index
// leaves both as they are.
void EnableZoomButtons(const ViewState& state, ZoomButtons& buttons);

// Double-click on the map: centres the view on view pixel (pixelX, pixelY),
// both 0..447, pixelY counted from the south edge. The new origin is the
// pixel's centre minus half a view, rounded to the nearest origin the
// alignment rule of the current zoom allows (5, 10 or 20 grid units), so
// the point stays in the middle half of the view; it is held within
// +-kJumpLimitTiles tiles. Zoom and pending move stay.
bool CentreOnPixel(ViewState& state, int pixelX, int pixelY);

// The furthest tile boundary Jump goes to, in tiles of 20 grid units from
// the equator or the prime meridian (500,000 degrees): far beyond the
// globe, and far enough inside the 32-bit range that the origin arithmetic
// of the view cannot overflow.
constexpr int32_t kJumpLimitTiles = 10'000'000;
static_assert(int64_t{kJumpLimitTiles} * 20 + 1280 * 2 < INT32_MAX);

}  // namespace roamgrid
