// The optional layers of the Map window, drawn in the core into a
// transparent RGBA picture of a MercatorView (the window lays it over the
// background and under the marks):
//   - explorer tiles: explored tiles of zoom 14 tinted, and of zoom 17 when
//     zoomed in far enough; the tile grid of those zooms where its squares
//     are large enough to see; the largest square and the largest cluster of
//     each zoom outlined. The explored tiles, square and cluster are the
//     ones `roamgrid-cli stats --explorer` counts.
//   - the store's tile grid: the 0.05-degree squares of the tile files,
//     with the squares that have a file shaded, only when zoomed in.
#pragma once

#include "geo/web_mercator.h"
#include "map/map_image.h"
#include "map/marks_map.h"

namespace roamgrid {

// From this view zoom on the zoom 17 explorer tiles are drawn (each then at
// least 8 pixels wide); below it only zoom 14.
constexpr double kExplorer17FromZoom = 12.0;
// From this view zoom on the store's tile grid is drawn (a tile about 16
// pixels wide and more).
constexpr double kStoreGridFromZoom = 8.5;

// Colours of the layers.
struct ExplorerStyle {
  Rgba explored14{40, 110, 220, 70};  // tint of an explored zoom 14 tile
  Rgba explored17{40, 110, 220, 70};  // tint of an explored zoom 17 tile
  Rgba grid{40, 80, 160, 110};        // grid lines
  Rgba square{250, 160, 0, 255};      // outline of the largest square
  Rgba cluster{150, 40, 200, 255};    // outline of the largest cluster
};
struct StoreGridStyle {
  Rgba line{90, 90, 90, 150};  // the 0.05-degree lines
  Rgba withFile{0, 0, 0, 18};  // shade of a square that has a tile file
};

// Draws the explorer layer of `view` over `image` (resized to the view and
// cleared first when its size differs).
void DrawExplorerLayer(const MercatorView& view, MarksMap& map, RgbaImage& image,
                       const ExplorerStyle& style = {});

// Draws the store's tile grid of `view` over `image` (resized and cleared
// first when its size differs); nothing below kStoreGridFromZoom.
void DrawStoreTileGrid(const MercatorView& view, const MarksMap& map, RgbaImage& image,
                       const StoreGridStyle& style = {});

}  // namespace roamgrid
