#include "geo/map_scale.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/number_text.h"
#include "tiles/grid_units.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

// Metres along a degree of longitude at the equator (WGS 84 semi-major axis).
constexpr double kMetresPerDegreeEquator = 111319.49;

double SpanDegrees(int zoomIndex) {
  return double(kZoomSpans[size_t(std::clamp(zoomIndex, kMinZoomIndex, kMaxZoomIndex))]) /
         kGridPerDegree;
}

}  // namespace

ScaleBar ScaleBarForResolution(double metresPerPixel, int maxPixels) {
  ScaleBar bar;
  if (!(metresPerPixel > 0) || maxPixels <= 0) return bar;
  const double fits = metresPerPixel * maxPixels;
  double metres = std::pow(10.0, std::floor(std::log10(fits)));
  for (double factor : {5.0, 2.0}) {
    if (metres * factor <= fits) {
      metres *= factor;
      break;
    }
  }
  bar.pixels = int(std::lround(metres / metresPerPixel));
  bar.text = metres >= 1000.0 ? FormatFixed(metres / 1000.0, 0, 0) + " km"
                              : FormatFixed(metres, 0, 0) + " m";
  return bar;
}

ScaleBar ChooseScaleBar(int32_t originLat, int zoomIndex, int side, int maxPixels) {
  if (side <= 0 || maxPixels <= 0) return {};
  const double spanDeg = SpanDegrees(zoomIndex);
  const double centreLat =
      std::clamp(double(originLat) / kGridPerDegree + spanDeg / 2, -89.0, 89.0);
  const double metresPerPixel =
      spanDeg / side * kMetresPerDegreeEquator * std::cos(centreLat * std::numbers::pi / 180.0);
  return ScaleBarForResolution(metresPerPixel, maxPixels);
}

std::string PixelPositionText(int32_t originLat, int32_t originLon, int zoomIndex, int side, int x,
                              int y) {
  const double spanDeg = SpanDegrees(zoomIndex);
  const double perPixel = spanDeg / std::max(side, 1);
  const double lat = double(originLat) / kGridPerDegree + (side - 1 - y + 0.5) * perPixel;
  const double lon = double(originLon) / kGridPerDegree + (x + 0.5) * perPixel;
  return FormatFixed(lat, 0, 5) + ", " + FormatFixed(lon, 0, 5);
}

}  // namespace roamgrid
