// How the 448 x 448 map view draws map tiles: each view pixel blends the
// tile pixels around the point it shows, with a tent filter as wide as the
// pixel's footprint on the tile. Where tiles are enlarged that is bilinear
// interpolation; where they are shrunk it averages the pixels under the
// footprint, so fine lines and lettering stay whole instead of losing
// pixels. Web Mercator keeps rows and columns apart (a row of the view is
// one latitude, a column one longitude), so the filter is separable.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "geo/web_mercator.h"

namespace roamgrid {

// One tile pixel a view row or column takes, and its share.
struct SampleTap {
  int32_t pixel = 0;  // global tile pixel (row, or column wrapped round the world)
  float weight = 0;   // the shares of one view row or column add up to 1
};

// The taps of every view row or column: those of view position i are
// taps[first[i] .. first[i + 1]).
struct AxisTaps {
  std::array<uint32_t, kRasterSide + 1> first{};
  std::vector<SampleTap> taps;
};

// The taps along the rows (view row 0 at the south edge; none for a row
// beyond the Mercator square) and the columns of `map`. Taps stay within
// the tile pixels that the view's pixel centres fall on, so the tiles they
// reach are those of map.tiles.
AxisTaps RowTaps(const ViewTileMap& map);
AxisTaps ColumnTaps(const ViewTileMap& map);

// Premultiplied ARGB words, 0xAARRGGBB, as QImage's ARGB32_Premultiplied
// holds them.
using Argb = uint32_t;

// Fills `out` (kRasterSide x kRasterSide words, row 0 the NORTH edge, as an
// image is drawn) with the view of `map`. `tileAt` gives the 256 x 256
// pixels of a tile at map.zoom (row-major, row 0 at the tile's north edge)
// or null when the tile is not at hand. A pixel blends the taps whose tile
// is at hand, their shares scaled up to a whole; a pixel with none is
// transparent (0). Returns whether every tap of every row found its tile.
bool ComposeViewTiles(const ViewTileMap& map,
                      const std::function<const Argb*(const MapTileKey&)>& tileAt, Argb* out);

}  // namespace roamgrid
