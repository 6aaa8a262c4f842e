// How the Map window's view moves: the arithmetic behind dragging, the
// wheel, the keys and "Fit to marks" on a Web Mercator view of any size,
// plus the texts the window shows (pointer position, zoom, visible width)
// and the LAT,LON,ZOOM form of a view that the command line takes and the
// per-user settings keep. The window only turns its events into these calls.
//
// Every function leaves a view normal (see NormalizeView): zoom within
// kMapMinZoom..kMapMaxZoom, centre x wrapped into 0..1 (the map repeats
// east and west), centre y held so the Mercator square covers the window
// vertically whenever it is tall enough to.
#pragma once

#include <optional>
#include <string>

#include "geo/map_scale.h"
#include "geo/web_mercator.h"

namespace roamgrid {

constexpr double kMapMinZoom = 0.0;
constexpr double kMapMaxZoom = kMaxMapTileZoom;
// "Fit to marks" never comes closer than this: a lone cell stays a few
// pixels wide with its surroundings in sight.
constexpr double kMapFitMaxZoom = 17.0;
// Pixels left free around the marks by "Fit to marks" (at most a quarter
// of the window's smaller side).
constexpr int kMapFitMarginPx = 24;
// Zoom change of one wheel notch (120 units of angle delta).
constexpr double kWheelZoomStep = 0.5;
constexpr int kWheelNotchDelta = 120;
// Metres along the equator: one world unit of x (WGS 84 semi-major axis).
constexpr double kEquatorMetres = 40075016.686;

// A rectangle on screen in pixels (fractions kept), left/top inclusive.
struct ScreenBox {
  double left = 0, top = 0, right = 0, bottom = 0;
};

// A view as a person gives it: centre latitude and longitude in degrees and
// a zoom (the --map-view LAT,LON,ZOOM option and the remembered view).
struct MapCentre {
  double lat = 0;
  double lon = 0;
  double zoom = 0;
  bool operator==(const MapCentre&) const = default;
};

// Brings `view` into the normal form above; sizes below 1 pixel count as 1.
void NormalizeView(MercatorView& view);

// The view of `centre` (latitude clamped to the Mercator square, longitude
// wrapped) in a window of width x height pixels.
MercatorView ViewOfCentre(const MapCentre& centre, int width, int height);
// The centre of `view` in degrees, longitude within -180..180.
MapCentre CentreOfView(const MercatorView& view);

// The window was resized: the centre and zoom stay.
void ResizeView(MercatorView& view, int width, int height);

// Drag: the map moves with the pointer by (dx, dy) screen pixels.
void PanView(MercatorView& view, double dx, double dy);

// Sets the zoom to `zoom` (clamped) keeping the world point under screen
// position (screenX, screenY) where it is on screen, as far as the clamps
// allow.
void ZoomViewAbout(MercatorView& view, double zoom, double screenX, double screenY);

// The zoom `steps` steps of `stepSize` away from `zoom`, landing on a
// multiple of `stepSize`: from 12.3 one half step in gives 12.5 and one out
// 12.0; from 12.5 they give 13.0 and 12.0. Clamped to the zoom range.
double SteppedZoom(double zoom, int steps, double stepSize);

// Gathers wheel turns: adds `angleDelta` to `pending` (a fine-grained wheel
// sends parts of a notch) and returns the whole notches it now holds,
// forward positive, leaving the rest in `pending`.
int TakeWheelNotches(int& pending, int angleDelta);

// The view of a window width x height pixels that shows all of the world
// box from (west, north) to (east, south) (world units as in MercatorView;
// east may exceed 1 when the box crosses 180 degrees eastward) with
// kMapFitMarginPx to spare on every side, zoomed in at most to
// kMapFitMaxZoom. The box (0, 0, 1, 1) shows the whole world.
MercatorView FitView(double west, double north, double east, double south, int width, int height);

// Where the square of `spanGrid` grid units whose south-west corner is
// (originLat, originLon) grid units (the main view) lies on screen: of its
// copies round the globe, the one nearest the view's centre.
ScreenBox GridSquareOnScreen(const MercatorView& view, int32_t originLat, int32_t originLon,
                             int32_t spanGrid);

// Where a picture drawn for view `drawnFor` lies on screen in view `now`
// (stretched when the zooms differ), of its copies round the globe the one
// nearest the view's centre: a background drawn a moment ago stands in
// while the view moves.
ScreenBox PictureOnScreen(const MercatorView& drawnFor, const MercatorView& now);

// `worldX` moved by whole turns of the globe to lie nearest `nearX`, so a
// place east of 180 degrees is drawn beside a view centred just west of it.
double NearestWrap(double worldX, double nearX);

// The point under screen position (screenX, screenY): latitude within the
// Mercator square and longitude within -180..180, in degrees. Nothing when
// the position lies north or south of the Mercator square.
std::optional<MapCentre> PointAt(const MercatorView& view, double screenX, double screenY);

// Metres on the ground per screen pixel along the parallel through the
// view's centre.
double MetresPerPixel(const MercatorView& view);
// The ground width the view shows at its centre's latitude, in km; at most
// once round the globe along that parallel.
double VisibleWidthKm(const MercatorView& view);

// The longest bar of 1, 2 or 5 times a power of ten metres that fits in
// `maxPixels` at the view's centre latitude.
ScaleBar MercatorScaleBar(const MercatorView& view, int maxPixels);

// The status line: "35.68000, 139.76000   zoom 12.0   width 12.5 km"; the
// position part is left out when `pointer` is empty.
std::string MapStatusText(const MercatorView& view, const std::optional<MapCentre>& pointer);

// "35.680000,139.760000,12.00": the form ParseMapView reads.
std::string FormatMapView(const MapCentre& centre);
// Reads "LAT,LON,ZOOM": three decimal numbers (a dot as decimal point,
// blanks around them allowed) with latitude -90..90, longitude -180..180
// and zoom 0..22. Anything else gives nothing.
std::optional<MapCentre> ParseMapView(const std::string& text);

}  // namespace roamgrid
