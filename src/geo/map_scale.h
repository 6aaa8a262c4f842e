// What the map view tells about where it is besides its marks: the length of
// a scale bar and the position under a pixel, as locale-independent text.
#pragma once

#include <cstdint>
#include <string>

namespace roamgrid {

struct ScaleBar {
  int pixels = 0;    // the bar's length in view pixels
  std::string text;  // "500 m", "2 km", ...
};

// The longest bar of 1, 2 or 5 times a power of ten metres that fits in
// `maxPixels` on a map of `metresPerPixel` (both above 0, else no bar).
ScaleBar ScaleBarForResolution(double metresPerPixel, int maxPixels);

// The longest bar of 1, 2 or 5 times a power of ten metres that fits in
// `maxPixels`, measured east-west at the view's centre latitude for the view
// at originLat (grid units) and zoomIndex (0..7) on a `side`-pixel view.
ScaleBar ChooseScaleBar(int32_t originLat, int zoomIndex, int side, int maxPixels);

// "35.61234, 139.80012": the latitude and longitude (north and east
// positive, five decimals, about a metre) of the centre of the pixel at
// column x, row y counted from the top, in the `side`-pixel view at origin
// (originLat, originLon) grid units and zoomIndex.
std::string PixelPositionText(int32_t originLat, int32_t originLon, int zoomIndex, int side, int x,
                              int y);

}  // namespace roamgrid
