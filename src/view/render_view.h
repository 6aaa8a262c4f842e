// The raster builder of the map view: turns the view state into the 448 x
// 448 view raster by reading the tile files of the view one at a time,
// commits the pending move and formats the three status texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "view/view_state.h"

namespace roamgrid {

// Rebuilds `raster` (kRasterSize bytes) from the tile files for the view at origin + pending move,
// commits the pending move (origin += pending, pending = 0) and returns the three texts.
//
// Every raster byte is written, by exactly one tile, with 0 (unmarked) or 1 (marked): a pixel is
// marked when any cell of its b x b block (b = span / 10 cells) is marked in a tile whose mask
// bytes are not both 0. A missing tile, or one whose file header is damaged, gives unmarked pixels;
// cells that a damaged code stream stops short of read as unmarked. At most one tile is read at a
// time and no tile file is changed.
//
// Guards for states the navigation never produces: a zoom index outside 0..7 is drawn and
// formatted as the nearest valid one; an origin that breaks the alignment rule is drawn as the
// aligned view whose origin is the nearest aligned one to the south and west (the committed origin
// and the texts keep the exact values); origin + pending wraps like 32-bit arithmetic.
ViewTexts RebuildView(ViewState& state, uint8_t* raster);

// The folders of the tile files that the committed view (origin, zoom; no
// pending move) shows, such as "RGD/E139N035": those RebuildView would read
// from, whether they exist or not, sorted and each once. A program that
// shows the view watches them to redraw when another program saves a tile.
std::vector<std::string> ViewTileFolders(const ViewState& state);

// The three status texts for the committed state ("%7.3lf"/"%7.4lf" results, locale-independent via
// FormatFixed).
//   spanText       span / 400.0 in degrees, "  0.050" at zoom index 1;
//   centerLatText  (span / 2 + originLat) / 400.0, "35.6750" for the default home;
//   centerLonText  (span / 2 + originLon) / 400.0, "139.7750" for the default home.
ViewTexts FormatViewTexts(const ViewState& state);

}  // namespace roamgrid
