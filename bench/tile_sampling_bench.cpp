// The 448 view's map tiles filtered (ComposeViewTiles) against the floor of
// a plain nearest-neighbour copy of the same view: one tile pixel per view
// pixel, looked up through the same tile grid. At the default home (zoom
// index 1) and at the widest zoom index 7.
#include <benchmark/benchmark.h>

#include <map>
#include <vector>

#include "bench_support.h"
#include "geo/tile_sampling.h"
#include "tiles/grid_units.h"

namespace roamgrid::bench {
namespace {

struct ViewTiles {
  ViewTileMap map;
  std::map<MapTileKey, std::vector<Argb>> tiles;
};

const ViewTiles& Tiles(int zoomIndex) {
  static std::map<int, ViewTiles> made;
  ViewTiles& view = made[zoomIndex];
  if (view.map.tiles.empty()) {
    const double centreLat = (kDefaultHomeLat + kZoomSpans[zoomIndex] / 2.0) / kGridPerDegree;
    const int zoom = ChooseTileZoom(kZoomSpans[zoomIndex], centreLat, 0, kMaxMapTileZoom);
    view.map = MapViewToTiles(kDefaultHomeLat, kDefaultHomeLon, zoomIndex, zoom);
    uint32_t colour = 0xFF102030;
    for (const MapTileKey& key : view.map.tiles) {
      std::vector<Argb>& pixels = view.tiles[key];
      for (int i = 0; i < kMapTilePixels * kMapTilePixels; ++i) pixels.push_back(colour + i % 97);
      colour += 0x00030507;
    }
  }
  return view;
}

const Argb* Lookup(const ViewTiles& view, const MapTileKey& key) {
  const auto found = view.tiles.find(key);
  return found == view.tiles.end() ? nullptr : found->second.data();
}

void Filtered(benchmark::State& state, int zoomIndex) {
  const ViewTiles& view = Tiles(zoomIndex);
  std::vector<Argb> out(kRasterSize);
  const auto tileAt = [&](const MapTileKey& key) { return Lookup(view, key); };
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComposeViewTiles(view.map, tileAt, out.data()));
    benchmark::ClobberMemory();
  }
}

// The floor: each view pixel copies the tile pixel under its centre; the
// tiles of a row are looked up once per tile column.
void Nearest(benchmark::State& state, int zoomIndex) {
  const ViewTiles& view = Tiles(zoomIndex);
  const ViewTileMap& map = view.map;
  std::vector<Argb> out(kRasterSize);
  for (auto _ : state) {
    for (int row = 0; row < kRasterSide; ++row) {
      Argb* line = out.data() + size_t(kRasterSide - 1 - row) * kRasterSide;
      if (map.pixelRow[row] < 0) continue;
      const int tileRow = map.pixelRow[row] / kMapTilePixels;
      const int inRow = map.pixelRow[row] % kMapTilePixels;
      const Argb* tile = nullptr;
      int tileColumn = -1;
      for (int col = 0; col < kRasterSide; ++col) {
        if (map.pixelCol[col] / kMapTilePixels != tileColumn) {
          tileColumn = map.pixelCol[col] / kMapTilePixels;
          tile = Lookup(view, {map.zoom, tileColumn, tileRow});
        }
        line[col] = tile ? tile[inRow * kMapTilePixels + map.pixelCol[col] % kMapTilePixels] : 0;
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_ComposeNearest_zoom1(benchmark::State& s) { Nearest(s, 1); }
void BM_ComposeFiltered_zoom1(benchmark::State& s) { Filtered(s, 1); }
void BM_ComposeNearest_zoom7(benchmark::State& s) { Nearest(s, 7); }
void BM_ComposeFiltered_zoom7(benchmark::State& s) { Filtered(s, 7); }
BENCHMARK(BM_ComposeNearest_zoom1);
BENCHMARK(BM_ComposeFiltered_zoom1);
BENCHMARK(BM_ComposeNearest_zoom7);
BENCHMARK(BM_ComposeFiltered_zoom7);

// The filter blends two or three tile pixels each way: within 8 times the
// copy, and a few milliseconds at most per view.
const bool kRatios = RegisterRatio({"BM_ComposeFiltered_zoom1", "BM_ComposeNearest_zoom1", 8.0}) &&
                     RegisterRatio({"BM_ComposeFiltered_zoom7", "BM_ComposeNearest_zoom7", 8.0});

}  // namespace
}  // namespace roamgrid::bench
