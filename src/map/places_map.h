// The "Places" layer of the map, drawn in the core: the visited countries
// (or, zoomed in, states) tinted by the share of them explored, the name
// of the region under a point, and the visited regions sorted by share
// with the view that fits each. The window only shows what this draws.
//
// Outlines are read from the catalogue when first drawn or looked up and
// kept within a memory bound (the least recently used are let go of).
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "geo/dcw_regions.h"
#include "geo/places_tally.h"
#include "geo/region_index.h"
#include "geo/web_mercator.h"
#include "map/map_image.h"
#include "store/store_places.h"

namespace roamgrid {

// From this map zoom on, states are shown where the outlines have them.
constexpr double kPlacesStateZoom = 5;

// The level the layer shows at a map zoom: countries, or states from
// kPlacesStateZoom on.
PlaceLevel PlacesLevelForZoom(double zoom);

// The tint of a place explored by `share` (0..1): one hue, its opacity
// growing with the share on a logarithmic scale, so that a millionth
// still shows and a whole region is strong. Straight (not premultiplied)
// alpha.
Rgba ShareTint(double share);

// Fills the outline (even-odd rule, edges straight in longitude and
// latitude) into `image` with `tint` blended over what is there: every
// pixel whose centre lies inside, in every copy of the outline round the
// globe that the view shows.
void FillOutline(const MercatorView& view, const RegionShape& shape, Rgba tint, RgbaImage& image);

// The view of `width` x `height` pixels that fits the bounds of `place`
// (with a margin of a tenth), at a zoom within 0..kMaxMapTileZoom.
MercatorView FitPlace(const PlaceLine& place, int width, int height);

class PlacesMap {
 public:
  // Reads outlines through `catalogue`; keeps at most `cacheBytes` of them.
  explicit PlacesMap(DcwCatalogue& catalogue, size_t cacheBytes = size_t(256) << 20);

  // The visited places with their shares: the lines of PlaceLines for
  // countries and for states.
  void SetPlaces(std::vector<PlaceLine> countries, std::vector<PlaceLine> states);

  // Draws the visited places of the level the view's zoom shows (a state
  // level falls back to the country for countries without states). False
  // when an outline could not be read (the catalogue's problem says why);
  // what was drawn stays.
  bool Draw(const MercatorView& view, RgbaImage& image);

  // The region of `level` whose outline holds (lon, lat), visited or not
  // (at the state level, the country where no state holds it); nothing at
  // sea or when the outlines cannot be read.
  std::optional<RegionInfo> RegionAt(double lon, double lat, PlaceLevel level);

  // The visited places of `level` sorted by share, largest first.
  std::vector<PlaceLine> SortedPlaces(PlaceLevel level) const;

  size_t cachedBytes() const { return cachedBytes_; }

 private:
  std::shared_ptr<const RegionShape> Outline(size_t region);

  DcwCatalogue& catalogue_;
  size_t cacheLimit_;
  std::vector<PlaceLine> countries_;
  std::vector<PlaceLine> states_;
  std::map<size_t, std::pair<std::shared_ptr<const RegionShape>, std::list<size_t>::iterator>>
      cache_;
  std::list<size_t> recent_;  // most recently used first
  size_t cachedBytes_ = 0;
};

// One row of the list of visited places beside the map: a country, or one
// of its states indented beneath it.
struct PlacesListRow {
  PlaceLine place;
  bool state = false;
  std::string text;  // "France  12.3%  (1,234 km²)"
};

// The counts by place of the store in the working directory, kept tile by
// tile so that counting again after a change decodes only the tiles whose
// bytes changed. Every tile file is still read and hashed (the hash of the
// overview cache), which costs a small part of decoding it; a tile whose
// hash is the one it had at the last count keeps its counts.
class PlacesRecount {
 public:
  // The counts of the whole store, as CountStorePlaces gives them (the
  // areas summed tile by tile, so they may differ in the last bits).
  StorePlaces Count(RegionIndex& index);
  // Tiles decoded by the last count.
  size_t tilesDecoded() const { return decoded_; }

 private:
  struct Tile {
    uint64_t hash = 0;
    TallyPart part;
    bool damaged = false;
  };
  std::map<std::string, Tile> tiles_;                 // by path
  const std::vector<RegionInfo>* regions_ = nullptr;  // of the index the parts count
  size_t decoded_ = 0;
};

// The Places layer of the store in the working directory: the outlines of
// gmt-dcw, the region index with its cache, the counts by place and their
// drawing, behind one object the window holds.
class PlacesLayer {
 public:
  // Outlines from `dcwFolder`, the index cache at `cachePath` (none when
  // empty).
  PlacesLayer(std::string dcwFolder, std::string cachePath);
  // Given outlines (tests).
  explicit PlacesLayer(std::unique_ptr<DcwCatalogue> catalogue);
  ~PlacesLayer();

  // Counts the store by place again (and keeps the index). False when the
  // outlines cannot be read: problem() says why in one line, and nothing
  // is drawn or listed.
  bool Refresh();
  const std::string& problem() const { return problem_; }
  // Tiles and folders the last count could not read whole.
  const std::vector<std::string>& unread() const { return unread_; }
  // Tiles decoded by the last count: those new or changed since the one
  // before.
  size_t tilesDecoded() const { return recount_.tilesDecoded(); }

  // Draws the visited places of `view` (see PlacesMap::Draw).
  bool Draw(const MercatorView& view, RgbaImage& image);
  // The name of the place at (lon, lat) as the map at `zoom` shows it:
  // "Texas, United States" at the state level, "France"; empty at sea.
  std::string NameAt(double lon, double lat, double zoom);
  // The visited countries sorted by share, each followed by its visited
  // states sorted by share.
  std::vector<PlacesListRow> ListRows() const;

 private:
  std::unique_ptr<DcwCatalogue> catalogue_;
  std::unique_ptr<RegionIndex> index_;
  std::unique_ptr<PlacesMap> map_;
  PlacesRecount recount_;
  std::string problem_;
  std::vector<std::string> unread_;
};

}  // namespace roamgrid
