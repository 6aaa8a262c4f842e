#include "map/places_map.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "common/number_text.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "export/places_files.h"
#include "map/overview_cache.h"
#include "store/store_places.h"
#include "tiles/tile_file.h"

namespace roamgrid {

namespace {

// The tint's hue, and its opacity for the smallest and the whole share.
constexpr Rgba kTintHue{24, 110, 200, 0};
constexpr double kFaintestAlpha = 48;
constexpr double kStrongestAlpha = 200;
// Shares from a millionth (and below) to the whole spread over the
// opacities on a logarithmic scale.
constexpr double kFaintestShareLog10 = -6;
// Copies of an outline round the globe drawn at most on either side.
constexpr int64_t kMaxTurns = 8;
constexpr double kFitMargin = 1.2;

double WorldXOfLon(double lon) { return (lon + 180.0) / 360.0; }

// The view's bounds in degrees: longitudes as the world x gives them
// (beyond 180 when it shows a copy of the globe), latitudes within the
// Mercator square.
struct ViewBounds {
  double west, south, east, north;
};
ViewBounds BoundsOf(const MercatorView& view) {
  const auto lat = [](double worldY) { return LatitudeOfWorldY(std::clamp(worldY, 0.0, 1.0)); };
  return {LongitudeOfWorldX(view.WorldX(0)), lat(view.WorldY(view.height)),
          LongitudeOfWorldX(view.WorldX(view.width)), lat(view.WorldY(0))};
}

}  // namespace

PlaceLevel PlacesLevelForZoom(double zoom) {
  return zoom >= kPlacesStateZoom ? PlaceLevel::kState : PlaceLevel::kCountry;
}

Rgba ShareTint(double share) {
  double strength = 0;
  if (share > 0)
    strength = std::clamp(1 - std::log10(std::min(share, 1.0)) / kFaintestShareLog10, 0.0, 1.0);
  Rgba tint = kTintHue;
  tint.alpha = uint8_t(std::lround(kFaintestAlpha + (kStrongestAlpha - kFaintestAlpha) * strength));
  return tint;
}

void FillOutline(const MercatorView& view, const RegionShape& shape, Rgba tint, RgbaImage& image) {
  if (shape.rings() == 0 || image.width <= 0 || image.height <= 0) return;
  const double viewWest = view.WorldX(0);
  const double viewEast = view.WorldX(image.width);
  const int64_t firstTurn =
      std::max<int64_t>(int64_t(std::floor(viewWest - WorldXOfLon(shape.east))), -kMaxTurns);
  const int64_t lastTurn =
      std::min<int64_t>(int64_t(std::ceil(viewEast - WorldXOfLon(shape.west))), kMaxTurns);
  if (firstTurn > lastTurn) return;
  // The rows the outline's latitudes reach.
  const double top = view.ScreenY(MercatorWorldY(shape.north));
  const double bottom = view.ScreenY(MercatorWorldY(shape.south));
  const int rowFrom = int(std::clamp(std::floor(top - 0.5), 0.0, double(image.height)));
  const int rowTo = int(std::clamp(std::ceil(bottom + 0.5), 0.0, double(image.height)));
  std::vector<double> crossings;
  for (int y = rowFrom; y < rowTo; ++y) {
    const double worldY = view.WorldY(y + 0.5);
    if (worldY < 0 || worldY > 1) continue;
    const double lat = LatitudeOfWorldY(worldY);
    const auto [begin, end] = shape.BandEdges(int64_t(std::floor(lat * kBandsPerDegree)));
    crossings.clear();
    for (const uint32_t* e = begin; e != end; ++e) {
      const uint32_t i = *e;
      const uint32_t j = shape.next[i];
      if ((shape.lat[i] > lat) != (shape.lat[j] > lat))
        crossings.push_back((shape.lon[j] - shape.lon[i]) * (lat - shape.lat[i]) /
                                (shape.lat[j] - shape.lat[i]) +
                            shape.lon[i]);
    }
    std::sort(crossings.begin(), crossings.end());
    for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
      for (int64_t turn = firstTurn; turn <= lastTurn; ++turn) {
        const double from = view.ScreenX(WorldXOfLon(crossings[k]) + double(turn));
        const double to = view.ScreenX(WorldXOfLon(crossings[k + 1]) + double(turn));
        // Pixels whose centre lies in [from, to).
        const int first = int(std::clamp(std::ceil(from - 0.5), 0.0, double(image.width)));
        const int last = int(std::clamp(std::ceil(to - 0.5), 0.0, double(image.width)));
        image.BlendSpan(first, last, y, tint);
      }
    }
  }
}

MercatorView FitPlace(const PlaceLine& place, int width, int height) {
  MercatorView view;
  view.width = width;
  view.height = height;
  const double west = WorldXOfLon(place.west);
  const double east = WorldXOfLon(place.east);
  const double north = MercatorWorldY(place.north);
  const double south = MercatorWorldY(place.south);
  const double centerX = (west + east) / 2;
  view.centerX = centerX - std::floor(centerX);
  view.centerY = std::clamp((north + south) / 2, 0.0, 1.0);
  const double perPixel = std::max((east - west) * kFitMargin / std::max(width, 1),
                                   (south - north) * kFitMargin / std::max(height, 1));
  const double zoom =
      perPixel > 0 ? std::log2(1 / (perPixel * kMapTilePixels)) : double(kMaxMapTileZoom);
  view.zoom = std::clamp(zoom, 0.0, double(kMaxMapTileZoom));
  return view;
}

PlacesMap::PlacesMap(DcwCatalogue& catalogue, size_t cacheBytes)
    : catalogue_(catalogue), cacheLimit_(cacheBytes) {}

void PlacesMap::SetPlaces(std::vector<PlaceLine> countries, std::vector<PlaceLine> states) {
  countries_ = std::move(countries);
  states_ = std::move(states);
}

std::shared_ptr<const RegionShape> PlacesMap::Outline(size_t region) {
  if (auto found = cache_.find(region); found != cache_.end()) {
    recent_.splice(recent_.begin(), recent_, found->second.second);
    return found->second.first;
  }
  std::shared_ptr<const RegionShape> shape = catalogue_.Shape(region);
  if (!shape) return nullptr;
  recent_.push_front(region);
  cache_[region] = {shape, recent_.begin()};
  cachedBytes_ += shape->Bytes();
  // The outline just read stays, whatever its size.
  while (cachedBytes_ > cacheLimit_ && recent_.size() > 1) {
    const auto oldest = cache_.find(recent_.back());
    cachedBytes_ -= oldest->second.first->Bytes();
    cache_.erase(oldest);
    recent_.pop_back();
  }
  return shape;
}

bool PlacesMap::Draw(const MercatorView& view, RgbaImage& image) {
  if (countries_.empty() && states_.empty()) return true;
  if (!catalogue_.Open()) return false;
  const std::vector<RegionInfo>& regions = catalogue_.regions();
  std::vector<const PlaceLine*> places;
  if (PlacesLevelForZoom(view.zoom) == PlaceLevel::kCountry) {
    for (const PlaceLine& place : countries_) places.push_back(&place);
  } else {
    // Countries the outlines divide into states show their states.
    std::set<int32_t> divided;
    for (const RegionInfo& region : regions) {
      if (region.level == PlaceLevel::kState) divided.insert(region.country);
    }
    for (const PlaceLine& place : states_) places.push_back(&place);
    for (const PlaceLine& place : countries_) {
      if (divided.count(place.index) == 0) places.push_back(&place);
    }
  }
  const ViewBounds bounds = BoundsOf(view);
  for (const PlaceLine* place : places) {
    if (place->index < 0 || size_t(place->index) >= regions.size() ||
        !RegionMayMeet(regions[size_t(place->index)], bounds.west, bounds.south, bounds.east,
                       bounds.north))
      continue;
    const std::shared_ptr<const RegionShape> shape = Outline(size_t(place->index));
    if (!shape) return false;
    FillOutline(view, *shape, ShareTint(place->share), image);
  }
  return true;
}

std::optional<RegionInfo> PlacesMap::RegionAt(double lon, double lat, PlaceLevel level) {
  if (!catalogue_.Open()) return std::nullopt;
  const std::vector<RegionInfo>& regions = catalogue_.regions();
  const auto find = [&](PlaceLevel wanted) -> std::optional<RegionInfo> {
    for (size_t r = 0; r < regions.size(); ++r) {
      if (regions[r].level != wanted || !RegionMayMeet(regions[r], lon, lat, lon, lat)) continue;
      const std::shared_ptr<const RegionShape> shape = Outline(r);
      if (!shape) return std::nullopt;
      if (shape->ContainsAnyTurn(lon, lat)) return regions[r];
    }
    return std::nullopt;
  };
  if (level == PlaceLevel::kState) {
    if (std::optional<RegionInfo> state = find(PlaceLevel::kState)) return state;
  }
  return find(PlaceLevel::kCountry);
}

std::vector<PlaceLine> PlacesMap::SortedPlaces(PlaceLevel level) const {
  if (level == PlaceLevel::kCountry) return SortedByShare(countries_);
  if (level == PlaceLevel::kState) return SortedByShare(states_);
  return {};
}

namespace {

// 12345.6 as "12,346": whole square kilometres with thousands separated.
std::string AreaText(double km2) {
  std::string digits = FormatFixed(km2, 0, km2 < 10 ? 2 : 0);
  const size_t point = digits.find('.');
  for (size_t at = point == std::string::npos ? digits.size() : point; at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits + " km²";
}

PlacesListRow ListRow(const PlaceLine& place, bool state) {
  return {place, state,
          place.name + "  " + ShareText(place.share) + "  (" + AreaText(place.km2) + ")"};
}

}  // namespace

StorePlaces PlacesRecount::Count(RegionIndex& index) {
  StorePlaces count;
  decoded_ = 0;
  if (regions_ != &index.regions()) tiles_.clear();
  regions_ = &index.regions();
  const std::vector<StoreTileFile> listed = ListStoreTileFiles(count.problems);

  // Which tiles are new or changed, by their bytes now.
  auto file = std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
  std::map<std::string, Tile> kept;
  std::vector<const StoreTileFile*> changed;
  std::vector<std::pair<int32_t, int32_t>> changedKeys;
  for (const StoreTileFile& tile : listed) {
    const long size = ReadTileFile(tile.path.c_str(), file.get());
    const auto before = tiles_.find(tile.path);
    if (size >= 0 && before != tiles_.end() &&
        before->second.hash == HashBytes(file.get(), size_t(size))) {
      kept.insert(tiles_.extract(before));
      continue;
    }
    changed.push_back(&tile);
    changedKeys.emplace_back(tile.latKey, tile.lonKey);
  }
  if (!index.Prepare(changedKeys)) {
    tiles_.clear();
    return count;
  }

  PlacesTally scratch(index.regions());
  std::map<std::string, std::string> unreadable;
  for (const StoreTileFile* tile : changed) {
    int error = 0;
    const long size = ReadTileFile(tile->path.c_str(), file.get(), &error);
    if (size < 0) {
      // A tile removed since the walk has nothing to count.
      if (error != ENOENT) unreadable[tile->path] = FileErrorText(error);
      continue;
    }
    ++decoded_;
    scratch.Clear();
    Tile counted;
    counted.damaged =
        !AddTilePlaces(file.get(), size_t(size), tile->latKey, tile->lonKey, index, scratch);
    counted.hash = HashBytes(file.get(), size_t(size));
    counted.part = scratch.Part();
    kept[tile->path] = std::move(counted);
  }
  tiles_ = std::move(kept);  // tiles gone from the store are dropped

  PlacesTally& tally = count.tally.emplace(index.regions());
  for (const StoreTileFile& tile : listed) {
    if (const auto error = unreadable.find(tile.path); error != unreadable.end())
      count.problems.push_back(Quoted(tile.path) + ": cannot be read: " + error->second);
    const auto found = tiles_.find(tile.path);
    if (found == tiles_.end()) continue;
    tally.AddPart(found->second.part);
    if (found->second.damaged) count.problems.push_back(Quoted(tile.path) + ": damaged");
  }
  return count;
}

PlacesLayer::PlacesLayer(std::string dcwFolder, std::string cachePath)
    : catalogue_(std::make_unique<DcwCatalogue>(std::move(dcwFolder))),
      index_(std::make_unique<RegionIndex>(*catalogue_, std::move(cachePath))),
      map_(std::make_unique<PlacesMap>(*catalogue_)) {}

PlacesLayer::PlacesLayer(std::unique_ptr<DcwCatalogue> catalogue)
    : catalogue_(std::move(catalogue)),
      index_(std::make_unique<RegionIndex>(*catalogue_, std::string())),
      map_(std::make_unique<PlacesMap>(*catalogue_)) {}

PlacesLayer::~PlacesLayer() = default;

bool PlacesLayer::Refresh() {
  StorePlaces count = recount_.Count(*index_);
  unread_ = std::move(count.problems);
  std::vector<PlaceLine> countries, states;
  if (count.tally) {
    countries = StorePlaceLines(*count.tally, *index_, PlaceLevel::kCountry);
    states = StorePlaceLines(*count.tally, *index_, PlaceLevel::kState);
    index_->Save();  // a cache that cannot be kept costs only time
  }
  problem_ = DcwProblemText(*catalogue_);
  if (!problem_.empty()) {
    countries.clear();
    states.clear();
  }
  map_->SetPlaces(std::move(countries), std::move(states));
  return problem_.empty();
}

bool PlacesLayer::Draw(const MercatorView& view, RgbaImage& image) {
  return problem_.empty() && map_->Draw(view, image);
}

std::string PlacesLayer::NameAt(double lon, double lat, double zoom) {
  if (!problem_.empty()) return {};
  const std::optional<RegionInfo> region = map_->RegionAt(lon, lat, PlacesLevelForZoom(zoom));
  if (!region) return {};
  const std::vector<RegionInfo>& regions = catalogue_->regions();
  if (region->level == PlaceLevel::kState && region->country >= 0 &&
      size_t(region->country) < regions.size())
    return region->name + ", " + regions[size_t(region->country)].name;
  return region->name;
}

std::vector<PlacesListRow> PlacesLayer::ListRows() const {
  std::vector<PlacesListRow> rows;
  const std::vector<PlaceLine> states = map_->SortedPlaces(PlaceLevel::kState);
  const std::vector<RegionInfo>& regions = catalogue_->regions();
  for (const PlaceLine& country : map_->SortedPlaces(PlaceLevel::kCountry)) {
    rows.push_back(ListRow(country, false));
    for (const PlaceLine& state : states) {
      if (state.index >= 0 && size_t(state.index) < regions.size() &&
          regions[size_t(state.index)].country == country.index)
        rows.push_back(ListRow(state, true));
    }
  }
  return rows;
}

}  // namespace roamgrid
