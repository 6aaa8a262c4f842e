#include "view/render_view.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/number_text.h"
#include "tiles/grid_units.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

namespace roamgrid {

namespace {

int ClampZoom(int32_t zoomIndex) {
  return std::clamp<int32_t>(zoomIndex, kMinZoomIndex, kMaxZoomIndex);
}

// Where one tile lands in the raster: pixel columns [xA, xB), pixel rows
// [yA, yB), and the tile cell (r0, c0) under pixel (yA, xA).
struct TilePlacement {
  int xA, xB, yA, yB;
  int r0, c0;
};

// Places tile (i, j) in the view with south-west corner (lat, lon), both
// aligned, at e pixels per tile side. Every division is exact for an aligned
// origin; the results are clamped anyway so that no cell address can leave
// the tile.
TilePlacement PlaceTile(int64_t i, int64_t j, int64_t lat, int64_t lon, int e) {
  const int64_t T = kGridPerTile * i;
  const int64_t U = kGridPerTile * j;
  const int64_t x0 = ((U - lon) * e) / kGridPerTile;
  const int64_t y0 = ((T - lat) * e) / kGridPerTile;
  TilePlacement p;
  p.xA = int(std::max<int64_t>(x0, 0));
  p.xB = int(std::min<int64_t>(x0 + e, kRasterSide));
  p.yA = int(std::max<int64_t>(y0, 0));
  p.yB = int(std::min<int64_t>(y0 + e, kRasterSide));
  p.c0 = int((((int64_t(p.xA) * kGridPerTile) / e + lon - U) * kCellsPerSide) / kGridPerTile);
  p.r0 = int((((int64_t(p.yA) * kGridPerTile) / e + lat - T) * kCellsPerSide) / kGridPerTile);
  return p;
}

}  // namespace

ViewTexts RebuildView(ViewState& state, uint8_t* raster) {
  const int zoom = ClampZoom(state.zoomIndex);
  const int S = kZoomSpans[zoom];
  const int e = 8960 / S;  // pixels per tile side
  const int b = S / 10;    // cells per pixel side
  // Origin + pending move with 32-bit wrap-around, as the commit stores it.
  const int32_t aLat = int32_t(int64_t(state.originLat) + state.pendingDLat);
  const int32_t aLon = int32_t(int64_t(state.originLon) + state.pendingDLon);
  // The drawn origin: the effective one, moved south-west onto the alignment
  // grid when it is off it, so that tiles abut and cells stay in their tile.
  const int64_t step = AlignmentStep(zoom);
  const int64_t lat = FloorDiv(aLat, step) * step;
  const int64_t lon = FloorDiv(aLon, step) * step;

  const int64_t iA = FloorDiv(lat, kGridPerTile), iB = FloorDiv(lat + S - 1, kGridPerTile);
  const int64_t jA = FloorDiv(lon, kGridPerTile), jB = FloorDiv(lon + S - 1, kGridPerTile);
  for (int64_t i = iA; i <= iB; ++i) {
    for (int64_t j = jA; j <= jB; ++j) {
      const TilePlacement p = PlaceTile(i, j, lat, lon, e);
      auto tile = std::make_unique<TrackTile>();
      OpenTile(*tile, int32_t(kCentiPerTile * i), kCentiPerTile * j);
      const bool marked = (tile->northMask | tile->southMask) != 0 && tile->cells;
      for (int x = p.xA; x < p.xB; ++x) {
        for (int y = p.yA; y < p.yB; ++y) {
          uint8_t pixel = 0;
          if (marked) {
            const int r = p.r0 + (y - p.yA) * b;
            const int c = p.c0 + (x - p.xA) * b;
            for (int k = 0; k < b && !pixel; ++k)
              for (int l = 0; l < b && !pixel; ++l)
                if (tile->cells[size_t(r + k) * kCellsPerSide + size_t(c + l)]) pixel = 1;
          }
          raster[y * kRasterSide + x] = pixel;
        }
      }
      ReleaseTile(tile);  // never dirty: nothing is written
    }
  }

  state.originLon = aLon;
  state.originLat = aLat;
  state.pendingDLon = 0;
  state.pendingDLat = 0;
  return FormatViewTexts(state);
}

ViewTexts FormatViewTexts(const ViewState& state) {
  const int64_t S = kZoomSpans[ClampZoom(state.zoomIndex)];
  ViewTexts texts;
  texts.spanText = FormatFixed(double(S) / 400.0, 7, 3);
  texts.centerLatText = FormatFixed(double(S / 2 + state.originLat) / 400.0, 7, 4);
  texts.centerLonText = FormatFixed(double(S / 2 + state.originLon) / 400.0, 7, 4);
  return texts;
}

}  // namespace roamgrid
