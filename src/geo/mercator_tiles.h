// The map tiles of a Web Mercator view (MercatorView: a window of any size
// at a fractional zoom): which tile zoom it shows, which tiles lie on
// screen and where each one is drawn, nearest the centre first. Tiles show
// at their native size at whole zooms and are scaled between whole zooms.
#pragma once

#include <cstddef>
#include <vector>

#include "geo/web_mercator.h"

namespace roamgrid {

// One tile on the screen of a MercatorView.
struct PlacedTile {
  MapTileKey key;  // x wrapped into 0 .. 2^zoom - 1
  // Its screen rectangle in pixels, right and bottom exclusive. Edges are
  // rounded from the exact tile edges, so neighbours abut without gap or
  // overlap; the side is 256 x 2^(view zoom - tile zoom), give or take one.
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const PlacedTile&) const = default;
};

struct MercatorTilePlan {
  int zoom = 0;                    // the tile zoom
  std::vector<PlacedTile> placed;  // every tile that touches the screen, nearest the centre first
  std::vector<MapTileKey> keys;    // the distinct keys of `placed`, in the same order
  bool operator==(const MercatorTilePlan&) const = default;
};

// The tiles `view` shows from a source that has zooms minZoom..maxZoom: the
// tile zoom is TileZoomForNativeZoom(view.zoom, ...), so tiles show at 0.7
// to 1.4 times their size where the source has the zoom (larger beyond its
// finest zoom). Rows stop at the north and south edges of the Mercator
// square; columns wrap round the globe, so a view wider than the world
// places the same key more than once. Distance to the centre is measured
// from the middle of each tile to the middle of the screen. When more than
// `maxTiles` tiles would touch the screen (a source whose coarsest zoom is
// far finer than the view), `placed` and `keys` are empty. An empty view
// (width or height not positive) places nothing.
MercatorTilePlan PlanMercatorTiles(const MercatorView& view, int minZoom, int maxZoom,
                                   size_t maxTiles);

// The part of a coarser tile that covers `tile`: the tile `levels` zooms
// up (levels clamped to 0..tile.zoom) and the square of its 256 x 256
// pixels that `tile` takes, at (x, y) with side `side` (256 / 2^levels).
struct CoveringPart {
  MapTileKey key;
  double x = 0, y = 0, side = kMapTilePixels;
};
CoveringPart CoveringTile(const MapTileKey& tile, int levels);

}  // namespace roamgrid
