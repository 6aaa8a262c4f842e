// The offline map background: GSHHG shorelines, borders and rivers drawn as
// thin light lines into an RgbImage of the map view. The view's plate
// carrée is the data's own, so a point's pixel is a linear function of its
// longitude and latitude, the same one the view raster uses for cells: a
// line through a cell's pixel lies on that cell.
#pragma once

#include <cstdint>

#include "geo/gshhg_store.h"
#include "geo/rgb_image.h"

namespace roamgrid {

// The line colours: blues and greys, far from the marks' red.
constexpr Rgb kSeaShoreColour{110, 150, 205};
constexpr Rgb kLakeShoreColour{140, 175, 220};
constexpr Rgb kRiverColour{165, 200, 235};
constexpr Rgb kNationalBorderColour{150, 135, 165};
constexpr Rgb kInternalBorderColour{195, 185, 205};

// Where the background comes from and under which licence, for the places
// users read it (the map's "Map data" item, the help texts).
inline constexpr char kGshhgAttribution[] =
    "The map background (shorelines, lakes, borders and rivers) is drawn offline from\n"
    "GSHHG, the Global Self-consistent, Hierarchical, High-resolution Geography\n"
    "Database by Paul Wessel and Walter H. F. Smith, distributed under the GNU Lesser\n"
    "General Public License, version 3 or later. It is read from /usr/share/gmt-gshhg\n"
    "(Debian packages gmt-gshhg-low and gmt-gshhg-high; gmt-gshhg-full for the finest\n"
    "detail).";

// Draws the background lines of the square view whose south-west corner is
// (originLat, originLon) in grid units (1/400 degree) and whose side is
// kZoomSpans[zoomIndex], over what `image` holds (the caller fills it, white
// or with a layer beneath); row 0 of the image is the view's north edge.
// Rivers first, then borders, then shorelines on top, each at the
// resolution that suits the zoom (GshhgStore::ChooseResolution). Draws
// nothing when no data is installed or the files fail. Returns the number
// of pixels set.
int64_t DrawCoastBackground(const GshhgStore& store, int32_t originLat, int32_t originLon,
                            int zoomIndex, RgbImage& image);

}  // namespace roamgrid
