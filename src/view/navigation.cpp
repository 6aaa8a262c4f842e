#include "view/navigation.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"

namespace roamgrid {
namespace {

constexpr int32_t kTileSideGrid = 20;  // one tile, in grid units

bool ValidZoom(int32_t zoomIndex) {
  return zoomIndex >= kMinZoomIndex && zoomIndex <= kMaxZoomIndex;
}

// The current span S; the closest span for a zoom index outside the table,
// so a damaged state cannot index past it.
int32_t Span(const ViewState& state) {
  if (state.zoomIndex < kMinZoomIndex) return kZoomSpans[kMinZoomIndex];
  if (state.zoomIndex > kMaxZoomIndex) return kZoomSpans[kMaxZoomIndex];
  return kZoomSpans[size_t(state.zoomIndex)];
}

int32_t HalfSpan(const ViewState& state) { return Span(state) / 2; }

// Converts a number of tiles to a signed 32-bit integer truncating toward
// zero, as the view's arithmetic wants; a value out of range (or not a
// number, from typed "nan") is held at the Jump limit instead of being
// undefined.
int32_t TruncateTiles(double tiles) {
  if (std::isnan(tiles)) return 0;
  if (tiles >= double(kJumpLimitTiles)) return kJumpLimitTiles;
  if (tiles <= -double(kJumpLimitTiles)) return -kJumpLimitTiles;
  return int32_t(tiles);
}

// The origin, in grid units, on the tile boundary toward zero from the typed
// centre (degrees) minus half a view.
int32_t JumpOrigin(const std::string& centerText, double halfViewDeg) {
  const double center = ParseTypedDecimal(centerText);
  return TruncateTiles((center - halfViewDeg) * 20.0) * kTileSideGrid;
}

// The origin on one axis that centres the view on pixel `pixel` (from the
// origin's edge): the pixel's centre, origin + (pixel + 0.5) x span / 448,
// minus half the span, rounded half up to a multiple of `step`. Worked in
// 1/896 grid units so that it stays exact in integers.
int32_t CentredOrigin(int32_t origin, int pixel, int32_t span, int32_t step) {
  const int64_t scale = 2 * kRasterSide;
  const int64_t target = int64_t(origin) * scale + int64_t(2 * pixel + 1 - kRasterSide) * span;
  const int64_t unit = step * scale;
  // Floor division of (target + unit / 2) by unit.
  const int64_t shifted = target + unit / 2;
  int64_t steps = shifted / unit;
  if (shifted % unit != 0 && shifted < 0) --steps;
  const int64_t limit = int64_t(kJumpLimitTiles) * kTileSideGrid;
  return int32_t(std::clamp<int64_t>(steps * step, -limit, limit));
}

}  // namespace

bool PanNorth(ViewState& state) {
  state.pendingDLat = HalfSpan(state);
  return true;
}

bool PanSouth(ViewState& state) {
  state.pendingDLat = -HalfSpan(state);
  return true;
}

bool PanEast(ViewState& state) {
  state.pendingDLon = HalfSpan(state);
  return true;
}

bool PanWest(ViewState& state) {
  state.pendingDLon = -HalfSpan(state);
  return true;
}

bool StepTileNorth(ViewState& state) {
  state.pendingDLat = kTileSideGrid;
  return true;
}

bool StepTileSouth(ViewState& state) {
  state.pendingDLat = -kTileSideGrid;
  return true;
}

bool StepTileEast(ViewState& state) {
  state.pendingDLon = kTileSideGrid;
  return true;
}

bool StepTileWest(ViewState& state) {
  state.pendingDLon = -kTileSideGrid;
  return true;
}

bool ZoomUp(ViewState& state, ZoomButtons& buttons) {
  if (!ValidZoom(state.zoomIndex) || state.zoomIndex == kMinZoomIndex)
    return false;  // at the bound
  const int32_t zoom = state.zoomIndex - 1;
  state.zoomIndex = zoom;
  if (zoom == kMinZoomIndex) buttons.upEnabled = false;
  buttons.downEnabled = true;
  // Half the new span: the old origin plus half the old span stays the centre.
  const int32_t d = (kZoomSpans[size_t(zoom) + 1] - kZoomSpans[size_t(zoom)]) / 2;
  state.pendingDLon = d;
  state.pendingDLat = d;
  return true;
}

bool ZoomDown(ViewState& state, ZoomButtons& buttons) {
  if (!ValidZoom(state.zoomIndex) || state.zoomIndex == kMaxZoomIndex)
    return false;  // at the bound
  const int32_t zoom = state.zoomIndex + 1;
  state.zoomIndex = zoom;
  if (zoom == kMaxZoomIndex) buttons.downEnabled = false;
  buttons.upEnabled = true;
  // Minus half the old span, then cut toward zero (the remainder takes the
  // sign of the dividend) to the alignment step of the new index. The sum is
  // formed in 64 bits: a home file may hold an origin near the 32-bit limit.
  const int32_t d = (kZoomSpans[size_t(zoom) - 1] - kZoomSpans[size_t(zoom)]) / 2;
  const int32_t g = AlignmentStep(zoom);
  state.pendingDLon = int32_t(d - (int64_t(state.originLon) + d) % g);
  state.pendingDLat = int32_t(d - (int64_t(state.originLat) + d) % g);
  return true;
}

bool Jump(ViewState& state, const std::string& centerLatText, const std::string& centerLonText) {
  const double halfViewDeg = (Span(state) / 400.0) * 0.5;
  state.originLat = JumpOrigin(centerLatText, halfViewDeg);
  state.originLon = JumpOrigin(centerLonText, halfViewDeg);
  return true;
}

bool GoHome(ViewState& state) {
  state.originLat = state.homeLat;
  state.originLon = state.homeLon;
  state.zoomIndex = state.homeZoom;
  return true;
}

void EnableZoomButtons(const ViewState& state, ZoomButtons& buttons) {
  if (!ValidZoom(state.zoomIndex)) return;
  buttons.upEnabled = state.zoomIndex > kMinZoomIndex;
  buttons.downEnabled = state.zoomIndex < kMaxZoomIndex;
}

bool CentreOnPixel(ViewState& state, int pixelX, int pixelY) {
  pixelX = std::clamp(pixelX, 0, kRasterSide - 1);
  pixelY = std::clamp(pixelY, 0, kRasterSide - 1);
  const int32_t span = Span(state);
  const int32_t step = AlignmentStep(std::clamp(state.zoomIndex, kMinZoomIndex, kMaxZoomIndex));
  state.originLat = CentredOrigin(state.originLat, pixelY, span, step);
  state.originLon = CentredOrigin(state.originLon, pixelX, span, step);
  return true;
}

}  // namespace roamgrid
