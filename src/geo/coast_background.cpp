#include "geo/coast_background.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "tiles/grid_units.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

// From degrees to image pixels: x east from the west edge, y south from the
// north edge, both in pixels (a pixel's inside is [i, i + 1)).
struct Projection {
  double westDeg = 0;
  double northDeg = 0;
  double pixelsPerDegX = 0;
  double pixelsPerDegY = 0;
};

// Cuts the line from (x0, y0) to (x1, y1) to the rectangle [0, maxX] x
// [0, maxY] (Liang-Barsky). False when nothing of it is inside.
bool Clip(double& x0, double& y0, double& x1, double& y1, double maxX, double maxY) {
  const double dx = x1 - x0;
  const double dy = y1 - y0;
  double enter = 0.0;
  double leave = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0, maxX - x0, y0, maxY - y0};
  for (int edge = 0; edge < 4; ++edge) {
    if (p[edge] == 0.0) {
      if (q[edge] < 0.0) return false;  // parallel to this edge and outside it
      continue;
    }
    const double t = q[edge] / p[edge];
    if (p[edge] < 0.0) {
      if (t > leave) return false;
      enter = std::max(enter, t);
    } else {
      if (t < enter) return false;
      leave = std::min(leave, t);
    }
  }
  const double startX = x0 + enter * dx;
  const double startY = y0 + enter * dy;
  x1 = x0 + leave * dx;
  y1 = y0 + leave * dy;
  x0 = startX;
  y0 = startY;
  return true;
}

// A one-pixel line between the pixels that hold the two points (Bresenham).
int64_t DrawLine(RgbImage& image, double x0, double y0, double x1, double y1, Rgb colour) {
  // Inside the last pixel, so that floor() never names a pixel past the edge.
  const double maxX = std::nextafter(double(image.width), 0.0);
  const double maxY = std::nextafter(double(image.height), 0.0);
  if (!Clip(x0, y0, x1, y1, maxX, maxY)) return 0;
  int px = std::clamp(int(std::floor(x0)), 0, image.width - 1);
  int py = std::clamp(int(std::floor(y0)), 0, image.height - 1);
  const int ex = std::clamp(int(std::floor(x1)), 0, image.width - 1);
  const int ey = std::clamp(int(std::floor(y1)), 0, image.height - 1);
  const int dx = std::abs(ex - px);
  const int dy = -std::abs(ey - py);
  const int stepX = px < ex ? 1 : -1;
  const int stepY = py < ey ? 1 : -1;
  int error = dx + dy;
  int64_t set = 0;
  for (;;) {
    image.Set(px, py, colour);
    ++set;
    if (px == ex && py == ey) break;
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      px += stepX;
    }
    if (twice <= dx) {
      error += dx;
      py += stepY;
    }
  }
  return set;
}

// The colour of a segment of `layer` at `level`, or nothing when the view
// leaves that kind out.
std::optional<Rgb> LineColour(GshhgLayer layer, int level, int zoomIndex) {
  switch (layer) {
    case GshhgLayer::kShore:
      if (level == 1) return kSeaShoreColour;
      if (level >= 2 && level <= 4) return kLakeShoreColour;
      return std::nullopt;  // the alternative Antarctic grounding line
    case GshhgLayer::kBorder:
      if (level == 1) return kNationalBorderColour;
      if (level == 2) return kInternalBorderColour;
      return std::nullopt;  // maritime boundaries
    case GshhgLayer::kRiver:
      // Levels 1-3 (double-lined and major rivers) at every zoom, the lesser
      // permanent ones (4, 5) up close; no intermittent rivers or canals.
      if (level >= 1 && level <= (zoomIndex <= 3 ? 5 : 3)) return kRiverColour;
      return std::nullopt;
  }
  return std::nullopt;
}

int64_t DrawLayer(const GshhgStore& store, GshhgLayer layer, int zoomIndex, const Projection& view,
                  double southDeg, double eastDeg, RgbImage& image, int onlyLevel) {
  const std::optional<GshhgResolution> resolution = store.ChooseResolution(layer, zoomIndex);
  if (!resolution) return 0;
  int64_t set = 0;
  for (const PlacedBin& placed :
       store.Bins(layer, *resolution, southDeg, view.northDeg, view.westDeg, eastDeg)) {
    const GshhgBin& bin = *placed.bin;
    const double step = bin.sizeDeg / 65535.0;
    // Pixel of offset 0 and pixels per offset step.
    const double originX = (bin.westDeg + placed.lonOffsetDeg - view.westDeg) * view.pixelsPerDegX;
    const double originY = (view.northDeg - bin.southDeg) * view.pixelsPerDegY;
    const double scaleX = step * view.pixelsPerDegX;
    const double scaleY = step * view.pixelsPerDegY;
    for (const GshhgBin::Segment& segment : bin.segments) {
      if (onlyLevel != 0 && segment.level != onlyLevel) continue;
      const std::optional<Rgb> colour = LineColour(layer, segment.level, zoomIndex);
      if (!colour || segment.pointCount == 0) continue;
      const uint16_t* p = bin.points.data() + size_t(segment.firstPoint) * 2;
      double lastX = originX + p[0] * scaleX;
      double lastY = originY - p[1] * scaleY;
      if (segment.pointCount == 1) set += DrawLine(image, lastX, lastY, lastX, lastY, *colour);
      for (uint32_t at = 1; at < segment.pointCount; ++at) {
        const double x = originX + p[at * 2] * scaleX;
        const double y = originY - p[at * 2 + 1] * scaleY;
        set += DrawLine(image, lastX, lastY, x, y, *colour);
        lastX = x;
        lastY = y;
      }
    }
  }
  return set;
}

}  // namespace

CoastDrawing DrawCoastBackground(const GshhgStore& store, int32_t originLat, int32_t originLon,
                                 int zoomIndex, RgbImage& image) {
  CoastDrawing drawn;
  if (image.width <= 0 || image.height <= 0) return drawn;
  zoomIndex = std::clamp(zoomIndex, kMinZoomIndex, kMaxZoomIndex);
  const double spanDeg = double(kZoomSpans[size_t(zoomIndex)]) / kGridPerDegree;
  Projection view;
  view.westDeg = double(originLon) / kGridPerDegree;
  view.northDeg = double(originLat) / kGridPerDegree + spanDeg;
  view.pixelsPerDegX = image.width / spanDeg;
  view.pixelsPerDegY = image.height / spanDeg;
  const double southDeg = double(originLat) / kGridPerDegree;
  const double eastDeg = view.westDeg + spanDeg;
  int64_t& set = drawn.pixels;
  set += DrawLayer(store, GshhgLayer::kRiver, zoomIndex, view, southDeg, eastDeg, image, 0);
  set += DrawLayer(store, GshhgLayer::kBorder, zoomIndex, view, southDeg, eastDeg, image, 2);
  set += DrawLayer(store, GshhgLayer::kBorder, zoomIndex, view, southDeg, eastDeg, image, 1);
  set += DrawLayer(store, GshhgLayer::kShore, zoomIndex, view, southDeg, eastDeg, image, 0);
  return drawn;
}

CoastDrawing DrawCoastMercator(const GshhgStore& store, const MercatorView& view, RgbImage& image) {
  (void)store;
  if (image.width != view.width || image.height != view.height) {
    image = RgbImage(std::max(view.width, 0), std::max(view.height, 0));
  }
  return {};
}

}  // namespace roamgrid
