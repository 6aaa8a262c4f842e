#include "geo/map_viewport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <vector>

#include "common/number_text.h"
#include "tiles/grid_units.h"

namespace roamgrid {
namespace {

constexpr double kDegToRad = std::numbers::pi / 180.0;
// Zooms this close to a step count as on it (fractions left by float sums).
constexpr double kStepSlack = 1e-9;

double Wrap01(double x) { return x - std::floor(x); }

double CentreLatitude(const MercatorView& view) {
  return LatitudeOfWorldY(std::clamp(view.centerY, 0.0, 1.0));
}

// "12.5 km", "850 m" as km with as many decimals as a person reads.
std::string KmText(double km) {
  const int decimals = km >= 100 ? 0 : km >= 10 ? 1 : km >= 1 ? 2 : 3;
  return FormatFixed(km, 0, decimals) + " km";
}

// One number of LAT,LON,ZOOM: blanks around it allowed, nothing else.
std::optional<double> ParseField(std::string_view field) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!field.empty() && blank(field.front())) field.remove_prefix(1);
  while (!field.empty() && blank(field.back())) field.remove_suffix(1);
  if (!field.empty() && field.front() == '+') field.remove_prefix(1);
  double value = 0;
  const char* end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), end, value, std::chars_format::fixed);
  if (field.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

void NormalizeView(MercatorView& view) {
  view.width = std::max(view.width, 1);
  view.height = std::max(view.height, 1);
  if (!std::isfinite(view.zoom)) view.zoom = kMapMinZoom;
  view.zoom = std::clamp(view.zoom, kMapMinZoom, kMapMaxZoom);
  view.centerX = std::isfinite(view.centerX) ? Wrap01(view.centerX) : 0.5;
  if (!std::isfinite(view.centerY)) view.centerY = 0.5;
  // Half the window's height in world units: the square stays behind the
  // whole window, or sits in its middle when it is shorter than the window.
  const double half = view.height / 2.0 / view.Scale();
  view.centerY = half >= 0.5 ? 0.5 : std::clamp(view.centerY, half, 1.0 - half);
}

MercatorView ViewOfCentre(const MapCentre& centre, int width, int height) {
  MercatorView view;
  view.centerX = MercatorWorldX(std::isfinite(centre.lon) ? centre.lon : 0.0);
  view.centerY = MercatorWorldY(std::isfinite(centre.lat) ? centre.lat : 0.0);
  view.zoom = centre.zoom;
  view.width = width;
  view.height = height;
  NormalizeView(view);
  return view;
}

MapCentre CentreOfView(const MercatorView& view) {
  return {CentreLatitude(view), LongitudeOfWorldX(Wrap01(view.centerX)), view.zoom};
}

void ResizeView(MercatorView& view, int width, int height) {
  view.width = width;
  view.height = height;
  NormalizeView(view);
}

void PanView(MercatorView& view, double dx, double dy) {
  view.centerX -= dx / view.Scale();
  view.centerY -= dy / view.Scale();
  NormalizeView(view);
}

void ZoomViewAbout(MercatorView& view, double zoom, double screenX, double screenY) {
  const double worldX = view.WorldX(screenX);
  const double worldY = view.WorldY(screenY);
  view.zoom = std::isfinite(zoom) ? std::clamp(zoom, kMapMinZoom, kMapMaxZoom) : view.zoom;
  view.centerX = worldX - (screenX - view.width / 2.0) / view.Scale();
  view.centerY = worldY - (screenY - view.height / 2.0) / view.Scale();
  NormalizeView(view);
}

double SteppedZoom(double zoom, int steps, double stepSize) {
  if (steps == 0 || !(stepSize > 0)) return std::clamp(zoom, kMapMinZoom, kMapMaxZoom);
  const double inSteps = zoom / stepSize;
  const double base =
      steps > 0 ? std::floor(inSteps + kStepSlack) : std::ceil(inSteps - kStepSlack);
  return std::clamp((base + steps) * stepSize, kMapMinZoom, kMapMaxZoom);
}

int TakeWheelNotches(int& pending, int angleDelta) {
  // Both stay far inside int: pending is below one notch before the sum.
  pending = std::clamp(pending, -kWheelNotchDelta, kWheelNotchDelta) +
            std::clamp(angleDelta, -(1 << 20), 1 << 20);
  const int notches = pending / kWheelNotchDelta;
  pending -= notches * kWheelNotchDelta;
  return notches;
}

MercatorView FitView(double west, double north, double east, double south, int width, int height) {
  MercatorView view;
  view.width = std::max(width, 1);
  view.height = std::max(height, 1);
  const double boxWidth = std::isfinite(east - west) ? std::max(east - west, 0.0) : 1.0;
  const double boxHeight = std::isfinite(south - north) ? std::max(south - north, 0.0) : 1.0;
  view.centerX = west + boxWidth / 2;
  view.centerY = north + boxHeight / 2;
  const int margin = std::min(kMapFitMarginPx, std::min(view.width, view.height) / 4);
  const double freeWidth = std::max(view.width - 2 * margin, 1);
  const double freeHeight = std::max(view.height - 2 * margin, 1);
  // Screen pixels per world unit that fit the box along each side; a box
  // without extent (one cell) fits at any zoom.
  const double fitX = boxWidth > 0 ? freeWidth / boxWidth : HUGE_VAL;
  const double fitY = boxHeight > 0 ? freeHeight / boxHeight : HUGE_VAL;
  view.zoom = std::min(std::log2(std::min(fitX, fitY) / kMapTilePixels), kMapFitMaxZoom);
  NormalizeView(view);
  return view;
}

ScreenBox GridSquareOnScreen(const MercatorView& view, int32_t originLat, int32_t originLon,
                             int32_t spanGrid) {
  const double south = double(originLat) / kGridPerDegree;
  const double west = double(originLon) / kGridPerDegree;
  const double span = double(spanGrid) / kGridPerDegree;
  // Straight from the degrees, not through MercatorWorldX: a square across
  // 180 degrees stays one piece.
  const double westX = NearestWrap((west + 180.0) / 360.0, view.centerX);
  return {view.ScreenX(westX), view.ScreenY(MercatorWorldY(south + span)),
          view.ScreenX(westX + span / 360.0), view.ScreenY(MercatorWorldY(south))};
}

ScreenBox PictureOnScreen(const MercatorView& drawnFor, const MercatorView& now) {
  const double shift = NearestWrap(drawnFor.centerX, now.centerX) - drawnFor.centerX;
  return {now.ScreenX(drawnFor.WorldX(0) + shift), now.ScreenY(drawnFor.WorldY(0)),
          now.ScreenX(drawnFor.WorldX(drawnFor.width) + shift),
          now.ScreenY(drawnFor.WorldY(drawnFor.height))};
}

double NearestWrap(double worldX, double nearX) { return worldX - std::round(worldX - nearX); }

std::optional<MapCentre> PointAt(const MercatorView& view, double screenX, double screenY) {
  const double worldX = view.WorldX(screenX);
  const double worldY = view.WorldY(screenY);
  if (!(worldY >= 0.0 && worldY <= 1.0) || !std::isfinite(worldX)) return std::nullopt;
  return MapCentre{LatitudeOfWorldY(worldY), LongitudeOfWorldX(Wrap01(worldX)), view.zoom};
}

double MetresPerPixel(const MercatorView& view) {
  return kEquatorMetres * std::cos(CentreLatitude(view) * kDegToRad) / view.Scale();
}

double VisibleWidthKm(const MercatorView& view) {
  const double turns = std::min(view.width / view.Scale(), 1.0);
  return turns * kEquatorMetres * std::cos(CentreLatitude(view) * kDegToRad) / 1000.0;
}

ScaleBar MercatorScaleBar(const MercatorView& view, int maxPixels) {
  return ScaleBarForResolution(MetresPerPixel(view), maxPixels);
}

std::string MapStatusText(const MercatorView& view, const std::optional<MapCentre>& pointer) {
  std::string text;
  if (pointer)
    text = FormatFixed(pointer->lat, 0, 5) + ", " + FormatFixed(pointer->lon, 0, 5) + "   ";
  return text + "zoom " + FormatFixed(view.zoom, 0, 1) + "   width " + KmText(VisibleWidthKm(view));
}

std::string FormatMapView(const MapCentre& centre) {
  return FormatFixed(centre.lat, 0, 6) + "," + FormatFixed(centre.lon, 0, 6) + "," +
         FormatFixed(centre.zoom, 0, 2);
}

std::optional<MapCentre> ParseMapView(const std::string& text) {
  std::vector<std::string_view> fields;
  std::string_view rest(text);
  for (size_t comma; (comma = rest.find(',')) != std::string_view::npos;) {
    fields.push_back(rest.substr(0, comma));
    rest.remove_prefix(comma + 1);
  }
  fields.push_back(rest);
  if (fields.size() != 3) return std::nullopt;
  const std::optional<double> lat = ParseField(fields[0]);
  const std::optional<double> lon = ParseField(fields[1]);
  const std::optional<double> zoom = ParseField(fields[2]);
  if (!lat || !lon || !zoom || std::fabs(*lat) > 90.0 || std::fabs(*lon) > 180.0 ||
      *zoom < kMapMinZoom || *zoom > kMapMaxZoom) {
    return std::nullopt;
  }
  return MapCentre{*lat, *lon, *zoom};
}

}  // namespace roamgrid
