// The tile store below "RGD" seen as a Web Mercator map, for the Map window,
// map tile exports and the tile server: the marks of any view or any map
// tile z/x/y at any zoom (0 to 22), the bounds of all marks, the map tiles
// that hold marks, a change stamp per map tile, and the explored tiles of
// the explorer layer.
//
// How marks are drawn (the same rules for a view and for a map tile):
//   - Cell zooms (a cell at least one screen pixel wide, zoom 14.62 and
//     closer): every visited cell is its exact Mercator rectangle; a pixel
//     is marked when its centre lies in a visited cell. Latitude and
//     longitude lines are straight, so a cell is a rectangle.
//   - Wide zooms: a pixel is marked when a visited cell's centre lies in it,
//     and every marked pixel is drawn 2 x 2 (it also marks the pixels east,
//     south and south-east of it), so a lone ride stays visible at the world
//     view. At a fractional zoom z the cell centres are first placed on the
//     whole zoom ceil(z) (the finest whole zoom no coarser than the view),
//     and a view pixel is marked when it holds the centre of a marked pixel
//     of that zoom; at whole zooms the two are the same.
//   - Cells are placed exactly as the explorer tiles place them (a cell
//     centre on a pixel's west or north edge belongs to that pixel), so the
//     explored tiles of zoom Z are the marked pixels of zoom Z - 8. Cells
//     beyond the Web Mercator square (about 85.05 degrees north or south)
//     draw nothing. The world repeats east and west of 180 degrees.
//   - As in the main view, a tile whose two mask bytes are 0 marks nothing,
//     a tile with a damaged header nothing, and a damaged code stream what
//     it describes before the damage.
//
// Views up to zoom 11 (the world down to some 30 km across) read the
// overview (see overview.h), never the tile files; the pyramid lives in
// memory and in a cache file in ${XDG_CACHE_HOME:-~/.cache}/roamgrid/overview/,
// one per store, and is brought up to date tile by tile: Refresh reads
// again only the tiles whose size, modification time or inode changed.
// Closer views read the code streams of the tiles in view (a few hundred at
// most), kept in a bounded cache. Nothing is ever written below "RGD", so a
// store on a read-only medium works. One thread: a MarksMap is used by one
// thread at a time.
//
// Relative paths: the store is "RGD" below the working directory at the
// time of each call, which the programs set once at start-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "geo/web_mercator.h"
#include "map/map_image.h"
#include "store/explorer_tiles.h"

namespace roamgrid {

class OverviewPyramid;

// Screen pixels per world unit at which a cell is one pixel wide:
// 360 x 17920 cells around the world.
constexpr double kCellPixelScale = 360.0 * 17920.0;
// True at zooms where cells are drawn as rectangles (see above); false at
// wide zooms.
bool IsCellZoom(double zoom);

// A box on the world square (world units as in MercatorView: x from 180 W
// eastward, y from the north edge southward). west <= east and north <=
// south; east may exceed 1 when the box crosses 180 degrees eastward (x - 1
// then lies at the world's west side).
struct WorldBox {
  double west = 0, north = 0, east = 0, south = 0;
  bool operator==(const WorldBox&) const = default;
};

struct MarksMapOptions {
  // Folder of the cache file; empty: OverviewCacheFolder(XDG_CACHE_HOME,
  // HOME) from the environment.
  std::string cacheFolder;
  // False: the overview lives in memory only (no file is read or written).
  bool useCacheFile = true;
  // Receives the one line told when a cache file is damaged, foreign or
  // of another version and is rebuilt; null: written to standard error.
  std::function<void(const std::string&)> warn;
  // Bytes of tile code streams kept for close zooms.
  size_t codeCacheBytes = size_t{24} << 20;
};

// "$XDG_CACHE_HOME/roamgrid/overview" when XDG_CACHE_HOME is an absolute
// path, else "$HOME/.cache/roamgrid/overview" when HOME is, else empty (no
// cache file can be named).
std::string OverviewCacheFolder(const char* xdgCacheHome, const char* home);

// The explored tiles of one explorer zoom (14 or 17) as `stats --explorer`
// counts them, with the largest square and largest cluster placed.
struct ExplorerLayerData {
  int zoom = 0;
  ExplorerSummary summary;
  ExplorerShapes shapes;
};

class MarksMap {
 public:
  // Takes the cache file of the store in the working directory when there
  // is a sound one (a damaged, foreign or outdated one is set aside and
  // told once through `warn`). Reads no tile: call Refresh().
  explicit MarksMap(MarksMapOptions options = {});
  // Writes the cache file when it is behind (SaveCache).
  ~MarksMap();
  MarksMap(const MarksMap&) = delete;
  MarksMap& operator=(const MarksMap&) = delete;

  // Brings the map up to date with the store: lists the tile files, and
  // reads again each one that is new or whose size, modification time or
  // inode changed (a file changed within the last two seconds is looked at
  // again next time, so that a change within one clock tick is not missed);
  // drops what removed files marked. Returns true when anything drawn may
  // have changed (marks, explored tiles, the tiles of the store), false
  // when the store is as it was. A file another program replaces while it
  // is read is read again by the next Refresh. About one status call per
  // tile file when nothing changed.
  bool Refresh();

  // Writes the cache file (whole, through a temporary file) when it is
  // behind what is in memory. False when it could not be written (the map
  // then stays in memory only) or no cache file is used.
  bool SaveCache();

  // Grows with every Refresh that returned true; 0 before the first.
  uint64_t generation() const { return generation_; }

  // Marks of `view` (zoom clamped to 0..22) into `mask`, resized to the
  // view's width x height (so the caller bounds the memory).
  void RenderMarks(const MercatorView& view, MaskImage& mask);

  // Marks of map tile z/x/y (XYZ scheme, 256 x 256 pixels) into `mask`:
  // the pixels a view at whole zoom z gives where it shows that tile.
  // Returns whether any pixel is marked; false (and an empty 256 x 256
  // mask) for a tile outside 0..2^z - 1 or z outside 0..22.
  bool RenderMarksTile(int z, int x, int y, MaskImage& mask);

  // The smallest box holding every mark (to within a pixel of zoom 11),
  // crossing 180 degrees when the marks leave their widest east-west gap
  // there; nothing when there is no mark.
  std::optional<WorldBox> MarksBounds() const;

  // Calls `visit` once for every map tile at zoom z (0..22) that
  // RenderMarksTile may mark: exactly the marked ones up to zoom 11, in
  // order of x, then y; beyond it also a few unmarked ones near marks,
  // grouped by the zoom 11 tile they lie in (those in order of x, then y)
  // and in order of x, then y within it. Found from the overview, never by
  // looking at the whole world; memory grows with one zoom 11 tile's worth.
  void ForEachMarksTile(int z, const std::function<void(MapTileKey)>& visit) const;

  // A value that changes whenever a tile file that can mark map tile z/x/y
  // changed, was added or removed (for HTTP ETags); equal tiles of equal
  // stores give equal stamps.
  uint64_t TileStamp(int z, int x, int y) const;

  // The explored tiles and shapes of explorer zoom 14 or 17 (each computed
  // once per store state, when first asked for); the explored tiles
  // themselves: ForEachExploredTile.
  const ExplorerLayerData& Explorer(int zoom);
  // Calls `visit` for each explored tile of zoom 14 or 17 within tiles x in
  // [xFirst, xLast], y in [yFirst, yLast].
  void ForEachExploredTile(int zoom, int32_t xFirst, int32_t xLast, int32_t yFirst, int32_t yLast,
                           const std::function<void(ExplorerTile)>& visit) const;

  // Whether the store holds a tile file for key (latKey, lonKey), as of the
  // last Refresh.
  bool HasTileFile(int32_t latKey, int32_t lonKey) const;

  // What the constructor found of the cache file.
  enum class CacheFile { kUnused, kAbsent, kLoaded, kSetAside };
  CacheFile cacheFile() const { return cacheFile_; }
  // The cache file's path (empty without one).
  const std::string& cachePath() const { return cachePath_; }
  // Tile files read by the last Refresh (for tests and benchmarks).
  long long tilesReadLastRefresh() const { return tilesRead_; }
  // The pyramid (for tests: equal to a fresh build of the same store).
  const OverviewPyramid& overview() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
  uint64_t generation_ = 0;
  CacheFile cacheFile_ = CacheFile::kUnused;
  std::string cachePath_;
  long long tilesRead_ = 0;
};

}  // namespace roamgrid
