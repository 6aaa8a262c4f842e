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
#include "geo/web_mercator.h"

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
struct Rgba {
  uint8_t red = 0, green = 0, blue = 0, alpha = 0;
  bool operator==(const Rgba&) const = default;
};
Rgba ShareTint(double share);

// A picture of `width` x `height` pixels of 4 bytes (red, green, blue,
// alpha; straight alpha), rows from the top: what the layer draws into.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;
  RgbaImage() = default;
  RgbaImage(int w, int h) : width(w), height(h), bytes(size_t(w) * size_t(h) * 4, 0) {}
  Rgba At(int x, int y) const {
    const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 4;
    return {bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]};
  }
};

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

}  // namespace roamgrid
