// The state of the map view that the main dialog carries: where the view
// stands, how far it is zoomed, a pending move and the home position, plus
// the table of view spans and the raster geometry.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace roamgrid {

// Side of the square view in grid units for zoom indices 0 to 7.
constexpr std::array<int32_t, 8> kZoomSpans = {10, 20, 40, 80, 160, 320, 640, 1280};
constexpr int kMinZoomIndex = 0;
constexpr int kMaxZoomIndex = 7;

// The view raster: 448 x 448 bytes, row-major, row 0 at the south edge,
// column 0 at the west edge; non-zero means marked.
constexpr int kRasterSide = 448;
constexpr int kRasterSize = kRasterSide * kRasterSide;
static_assert(kRasterSize == 200704);

// Default home: south-west corner 35.65 N, 139.75 E, one tile wide.
constexpr int32_t kDefaultHomeLat = 14260;
constexpr int32_t kDefaultHomeLon = 55900;
constexpr int32_t kDefaultHomeZoom = 1;

// Alignment rule: the origin is a multiple of 5 grid units at zoom index 0,
// of 10 at zoom index 1 and of 20 at zoom indices 2 to 7.
constexpr int32_t AlignmentStep(int zoomIndex) {
  return zoomIndex == 0 ? 5 : zoomIndex == 1 ? 10 : 20;
}

struct ViewState {
  int32_t originLat = kDefaultHomeLat;   // south edge, grid units
  int32_t originLon = kDefaultHomeLon;   // west edge, grid units
  int32_t zoomIndex = kDefaultHomeZoom;  // index into kZoomSpans
  int32_t pendingDLat = 0;               // northward move the next render applies
  int32_t pendingDLon = 0;               // eastward move the next render applies
  int32_t homeLat = kDefaultHomeLat;
  int32_t homeLon = kDefaultHomeLon;
  int32_t homeZoom = kDefaultHomeZoom;
};

// The three status texts that RenderView formats.
struct ViewTexts {
  std::string spanText;       // edit 1012: "%7.3lf" of the span in degrees
  std::string centerLatText;  // edit 1005: "%7.4lf" of the centre latitude
  std::string centerLonText;  // edit 1006: "%7.4lf" of the centre longitude
  bool operator==(const ViewTexts&) const = default;
};

}  // namespace roamgrid
