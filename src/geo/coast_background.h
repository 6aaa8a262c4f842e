// The offline map background drawn from GSHHG: land and water filled
// (land, sea, lakes, islands in lakes, ponds in those islands), then rivers,
// borders and shorelines as thin lines, into an RgbImage. Two views are
// served: the main view's square-degree plate carrée (the data's own, so a
// point's pixel is a linear function of its longitude and latitude, the
// same one the view raster uses for cells: a line through a cell's pixel
// lies on that cell) and a Web Mercator view of any size and zoom (the Map
// window).
#pragma once

#include <cstdint>

#include "geo/gshhg_store.h"
#include "geo/rgb_image.h"
#include "geo/web_mercator.h"

namespace roamgrid {

// The line colours: blues and greys, far from the marks' red.
constexpr Rgb kSeaShoreColour{110, 150, 205};
constexpr Rgb kLakeShoreColour{140, 175, 220};
constexpr Rgb kRiverColour{165, 200, 235};
constexpr Rgb kNationalBorderColour{150, 135, 165};
constexpr Rgb kInternalBorderColour{195, 185, 205};
// The fill colours: a light land tint, pale blue sea, lakes and ponds in a
// deeper blue; islands in lakes are land.
constexpr Rgb kLandColour{244, 241, 230};
constexpr Rgb kSeaColour{216, 232, 246};
constexpr Rgb kLakeColour{184, 212, 242};

// What a drawing managed.
struct CoastDrawing {
  // Land and water were filled over the whole view from sound shoreline
  // data; false when no shoreline file is installed or it failed.
  bool filled = false;
  int64_t pixels = 0;  // pixels set by the fill and the lines
};

// Where the background comes from and under which licence, for the places
// users read it (the map's "Map data" item, the help texts).
inline constexpr char kGshhgAttribution[] =
    "The map background (shorelines, lakes, borders and rivers) is drawn offline from\n"
    "GSHHG, the Global Self-consistent, Hierarchical, High-resolution Geography\n"
    "Database by Paul Wessel and Walter H. F. Smith, distributed under the GNU Lesser\n"
    "General Public License, version 3 or later. It is read from /usr/share/gmt-gshhg\n"
    "(Debian packages gmt-gshhg-low and gmt-gshhg-high; gmt-gshhg-full for the finest\n"
    "detail).";

// Draws the background of the square view whose south-west corner is
// (originLat, originLon) in grid units (1/400 degree) and whose side is
// kZoomSpans[zoomIndex] into `image` (any size; row 0 is the view's north
// edge): every pixel whose centre lies between the poles is filled as land
// or water, then rivers, borders and shorelines are drawn on top, each at
// the resolution that suits the zoom (GshhgStore::ChooseResolution). Where
// the shoreline data is missing or fails, nothing is filled and the image
// keeps what the caller put there beneath the other lines.
CoastDrawing DrawCoastBackground(const GshhgStore& store, int32_t originLat, int32_t originLon,
                                 int zoomIndex, RgbImage& image);

// Draws the same background for a Web Mercator view (the Map window):
// `image` is made view.width x view.height (its pixels kept when it already
// has that size), every pixel inside the Mercator square (within
// +-kMercatorMaxLat) is filled as land or water, the world repeating east
// and west, and major rivers, borders and shorelines are drawn on top.
// Pixels north and south of the square keep their colour. Each layer is
// read at the finest installed resolution the zoom needs
// (ResolutionsForMercator on the ground size of a pixel at the view's
// centre): full when gmt-gshhg-full is installed and the view is close.
// Nothing is drawn for a view of more than 16384 pixels on a side or one
// showing the world more than 16 times across. A 1280 x 800 view whose bins
// the store holds costs a few milliseconds at the world view and about one
// in a city (bench/coast_bench.cpp); the first drawing of a place also
// reads and decodes its bins.
CoastDrawing DrawCoastMercator(const GshhgStore& store, const MercatorView& view, RgbImage& image);

}  // namespace roamgrid
