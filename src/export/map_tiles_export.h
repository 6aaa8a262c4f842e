// Map tiles of the marks for other map tools: 256 x 256 PNG tiles in the
// Web Mercator XYZ scheme, drawn by the marks renderer of the Map window
// (MarksMap::RenderMarksTile), transparent where nothing is visited and in
// one colour where something is. They go to a folder as DIR/{z}/{x}/{y}.png
// or into one MBTiles 1.3 file (SQLite; rows of `tiles` in the TMS scheme,
// counted from the south).
//
// Only tiles that hold marks are drawn and written; which they are comes
// from the store's overview (MarksMap::ForEachMarksTile), never from a walk
// over the world. Tiles are written one at a time as they are drawn, so the
// memory stays that of one tile and its PNG bytes.
//
// Replacement: each tile file of a folder is replaced whole (temporary file,
// then rename), so an export over an earlier one updates it in place and an
// interrupted run leaves every tile either old or new. An MBTiles file is
// written whole under a temporary name in its folder and renamed over the
// old file only when complete.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "geo/rgb_image.h"
#include "geo/web_mercator.h"
#include "map/map_image.h"
#include "map/marks_map.h"

namespace roamgrid {

class MarksMap;

// Latitudes and longitudes in degrees; west above east: the box runs
// east across 180 degrees.
struct TileExportBox {
  double south = 0, west = 0, north = 0, east = 0;
};

struct MapTilesRequest {
  // A folder for XYZ tiles, or a file whose name ends in ".mbtiles".
  std::string path;
  int zoomFirst = 0;  // 0 .. kMaxMapTileZoom, zoomFirst <= zoomLast
  int zoomLast = 0;
  // Only tiles that meet the box (whole tiles, marks outside it included).
  std::optional<TileExportBox> box;
  Rgb colour{255, 0, 0};  // of the marked pixels
  // The MBTiles `name` and `attribution` rows.
  std::string name = "Roamgrid marks";
  std::string attribution = "Roamgrid";
};

struct MapTilesResult {
  bool ok = false;
  std::string error;    // what went wrong, naming the file and the reason
  long long tiles = 0;  // tiles written
};

// Told after each tile looked at: its zoom, the tiles looked at so far (of
// CountMapTiles' count) and the tiles written so far. Returning false stops
// the export: it then fails with "stopped" (tiles written stay in a
// folder; an MBTiles file is left as it was).
using MapTilesProgress = std::function<bool(int zoom, long long looked, long long written)>;

// How many tiles an export of `request` looks at (an upper bound of the
// tiles it writes), for a progress bar; found as the export finds them.
long long CountMapTiles(const MarksMap& map, const MapTilesRequest& request);

// Whether `path` names an MBTiles file (".mbtiles", letters of any case).
bool IsMbTilesPath(const std::string& path);

// The PNG bytes of a tile of marks: a two-colour palette image, index 0
// transparent, index 1 `colour`. False when libpng gave up.
bool EncodeMarksTile(const MaskImage& mask, Rgb colour, std::vector<uint8_t>& png);

// The tiles of `zoom` that meet `box`, as rows and columns (the columns
// wrap round 180 degrees: xFirst > xLast when the box crosses it).
struct MapTileRange {
  int xFirst = 0, xLast = 0, yFirst = 0, yLast = 0;
  bool Contains(int x, int y) const;
};
MapTileRange TileRangeOfBox(const TileExportBox& box, int zoom);

// Writes the tiles of `request` from `map` (brought up to date with the
// store by the caller). A failure names its cause; tiles written before it
// stay (folder) or nothing is changed (MBTiles).
MapTilesResult ExportMapTiles(MarksMap& map, const MapTilesRequest& request,
                              const MapTilesProgress& progress = {});

class GshhgStore;

// The coast beneath the marks as opaque PNG tiles in `folder`/{z}/{x}/{y}.png
// (land and water, drawn as the Map window draws them), for a page without
// another base map: the whole world up to zoom 3, then up to `zoomLast`
// (at most kMaxCoastTileZoom) the tiles that meet `around` and their
// neighbours, as long as a zoom needs no more than kMaxCoastTilesPerZoom.
// Returns the finest zoom written (-1 with the reason in `error` when the
// coast could not be drawn or a tile not written).
constexpr int kMaxCoastTileZoom = 10;
constexpr int kMaxCoastTilesPerZoom = 1024;
int WriteCoastTiles(const GshhgStore& store, const std::string& folder, int zoomLast,
                    const std::optional<WorldBox>& around, std::string& error);

}  // namespace roamgrid
