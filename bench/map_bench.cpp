// The store as a Web Mercator map, on a store of about 10^4 tile files on
// several continents (ten regions of some thousand tiles each, one of them
// across 180 degrees; rides in every tile, a tenth of the tiles ridden
// often):
//   - building the overview from nothing, against `stats` on the same store
//     (target at most 1.5 times);
//   - the first paint of the world view at 1280 x 800 with the overview
//     loaded (target at most 100 ms);
//   - a tour of pan and zoom steps at 1280 x 800 from the world down to
//     single cells, caches warm (target at most 16 ms a frame), with and
//     without the explorer and tile grid layers;
//   - a Refresh that finds nothing changed, a start from the cache file
//     to the world view drawn, and one map tile as a tile server would
//     draw it;
//   - the memory the map holds (target at most 64 MiB), as counters.
// Compare the printed times with their targets; the build is a ratio.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "bench_support.h"
#include "map/map_layers.h"
#include "map/marks_map.h"
#include "map/overview.h"
#include "map/places_map.h"
#include "store/store_places.h"
#include "store/store_stats.h"
#include "view/generated_tiles.h"

namespace roamgrid::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1280, kHeight = 800;

struct Region {
  double lat, lon;
};
// Ten regions on six continents; Fiji lies across 180 degrees.
constexpr Region kRegions[] = {{35.6, 139.7},  {51.5, -0.1},   {40.7, -74.0}, {-33.9, 151.2},
                               {-33.9, 18.4},  {-23.5, -46.6}, {55.7, 37.6},  {28.6, 77.2},
                               {34.0, -118.2}, {-17.8, 179.9}};
constexpr int kTilesPerRegion = 1000;

// Runs the benchmark's body in the folder of the map store (apart from the
// other benchmarks' stores), made the first time.
class InMapStore {
 public:
  InMapStore() {
    EnterScratchDirectory();
    static const fs::path folder = [] {
      const fs::path made = fs::current_path() / "map-store";
      fs::create_directories(made);
      fs::current_path(made);
      MakeStore();
      fs::current_path(made.parent_path());
      return made;
    }();
    previous_ = fs::current_path();
    fs::current_path(folder);
  }
  ~InMapStore() { fs::current_path(previous_); }

 private:
  // Each region: a blob of tiles grown by a random walk over the tile grid,
  // each tile with a ride through it (a tenth with seven).
  static void MakeStore() {
    std::mt19937 random(29);
    std::uniform_int_distribution<int> step(-1, 1);
    std::uniform_int_distribution<int> often(0, 9);
    for (const Region& region : kRegions) {
      std::set<std::pair<int64_t, int64_t>> tiles;
      int64_t row = int64_t(std::floor(region.lat * 20)),
              column = int64_t(std::floor(region.lon * 20));
      const int64_t row0 = row, column0 = column;
      while (tiles.size() < size_t(kTilesPerRegion)) {
        tiles.insert({row, column});
        row += step(random);
        column += step(random);
        // Stay within about two degrees of the centre.
        if (std::abs(row - row0) > 40 || std::abs(column - column0) > 40)
          row = row0, column = column0;
      }
      for (const auto& [r, c] : tiles) {
        testing::GeneratedTile tile = testing::TrackTileContent(random);
        if (often(random) == 0)
          for (int ride = 0; ride < 6; ++ride) {
            const testing::GeneratedTile more = testing::TrackTileContent(random);
            for (int i = 0; i < kCellCount; ++i) tile.cells[size_t(i)] |= more.cells[size_t(i)];
            tile.northMask |= more.northMask;
            tile.southMask |= more.southMask;
          }
        testing::WriteTileFile(5 * r, 5 * c, tile.File());
      }
    }
  }

  fs::path previous_;
};

MarksMapOptions MemoryOnly() {
  MarksMapOptions options;
  options.useCacheFile = false;
  return options;
}

// The map of the store, built once, with its caches warm.
MarksMap& WarmMap() {
  static MarksMap* map = [] {
    auto* made = new MarksMap(MemoryOnly());
    made->Refresh();
    return made;
  }();
  return *map;
}

void BM_MapStats(benchmark::State& state) {
  InMapStore in;
  for (auto _ : state) {
    const StoreStats stats = CollectStoreStats();
    state.counters["tiles"] = double(stats.tileFiles);
    state.counters["cells"] = double(stats.visitedCells);
  }
}

void BM_MapBuildOverview(benchmark::State& state) {
  InMapStore in;
  for (auto _ : state) {
    MarksMap map(MemoryOnly());
    map.Refresh();
    state.counters["overviewMiB"] = double(map.overview().MemoryBytes()) / (1 << 20);
  }
}

void BM_MapRefreshUnchanged(benchmark::State& state) {
  InMapStore in;
  MarksMap& map = WarmMap();
  for (auto _ : state) benchmark::DoNotOptimize(map.Refresh());
}

MercatorView WorldView();

// A program's start: the cache file read, and the world view drawn.
void BM_MapLoadCacheFile(benchmark::State& state) {
  InMapStore in;
  MarksMapOptions options;
  options.cacheFolder = (fs::current_path() / "cache").string();
  {
    MarksMap map(options);
    map.Refresh();
    map.SaveCache();
    state.counters["fileMiB"] = double(fs::file_size(map.cachePath())) / (1 << 20);
  }
  MaskImage mask;
  for (auto _ : state) {
    MarksMap map(options);
    map.RenderMarks(WorldView(), mask);
    benchmark::DoNotOptimize(mask.bytes.data());
  }
}

MercatorView WorldView() {
  return MercatorView{0.5, 0.5, std::log2(double(kWidth) / 256), kWidth, kHeight};
}

void BM_MapWorldView(benchmark::State& state) {
  InMapStore in;
  MarksMap& map = WarmMap();
  MaskImage mask;
  for (auto _ : state) {
    map.RenderMarks(WorldView(), mask);
    benchmark::DoNotOptimize(mask.bytes.data());
  }
  state.counters["marked"] = double(mask.Count());
}

// A tour through every region at one zoom (and a half zoom closer):
// ten pan steps of 64 pixels, then a zoom step in and out.
std::vector<MercatorView> Tour(double zoom) {
  std::vector<MercatorView> views;
  for (const Region& region : kRegions) {
    MercatorView view{MercatorWorldX(region.lon + 0.3), MercatorWorldY(region.lat - 0.2), zoom,
                      kWidth, kHeight};
    for (int step = 0; step < 10; ++step) {
      view.centerX += 64 / view.Scale();
      view.centerY += (step % 2 ? -32 : 32) / view.Scale();
      views.push_back(view);
    }
    view.zoom += 0.5;
    views.push_back(view);
    view.zoom -= 0.5;
    views.push_back(view);
  }
  return views;
}

// One frame of the tour at zoom state.range(0) / 10, the caches warm.
void BM_MapPanZoomFrame(benchmark::State& state) {
  InMapStore in;
  MarksMap& map = WarmMap();
  const std::vector<MercatorView> views = Tour(double(state.range(0)) / 10);
  MaskImage mask;
  for (const MercatorView& view : views) map.RenderMarks(view, mask);
  size_t at = 0;
  for (auto _ : state) {
    map.RenderMarks(views[at], mask);
    benchmark::DoNotOptimize(mask.bytes.data());
    at = (at + 1) % views.size();
  }
}

void BM_MapPanZoomFrameWithLayers(benchmark::State& state) {
  InMapStore in;
  MarksMap& map = WarmMap();
  const std::vector<MercatorView> views = Tour(double(state.range(0)) / 10);
  MaskImage mask;
  RgbaImage layers;
  for (const MercatorView& view : views) DrawExplorerLayer(view, map, layers);
  size_t at = 0;
  for (auto _ : state) {
    const MercatorView& view = views[at];
    layers.Reset(view.width, view.height);
    DrawExplorerLayer(view, map, layers);
    DrawStoreTileGrid(view, map, layers);
    map.RenderMarks(view, mask);
    PaintMask(mask, kMarksRed, layers);
    benchmark::DoNotOptimize(layers.bytes.data());
    at = (at + 1) % views.size();
  }
}

// A zoom 10 map tile with marks, as the tile server draws it.
void BM_MapTileZoom10(benchmark::State& state) {
  InMapStore in;
  MarksMap& map = WarmMap();
  std::vector<MapTileKey> tiles;
  map.ForEachMarksTile(10, [&](MapTileKey key) { tiles.push_back(key); });
  MaskImage mask;
  size_t at = 0;
  for (auto _ : state) {
    map.RenderMarksTile(10, tiles[at].x, tiles[at].y, mask);
    at = (at + 1) % tiles.size();
  }
  state.counters["tiles"] = double(tiles.size());
}

// What the map holds beyond the store: the overview and the code streams
// kept for close zooms (at most their budget).
void BM_MapMemory(benchmark::State& state) {
  InMapStore in;
  MarksMap& map = WarmMap();
  for (auto _ : state) benchmark::DoNotOptimize(map.overview().MemoryBytes());
  state.counters["overviewMiB"] = double(map.overview().MemoryBytes()) / (1 << 20);
  state.counters["withCodeCacheMiB"] =
      double(map.overview().MemoryBytes() + MarksMapOptions{}.codeCacheBytes) / (1 << 20);
}

// The Places layer's counts of the store by the installed outlines, the
// region index built once: counting every tile, and counting again after
// one tile changed (target at most a quarter of counting every tile).
struct PlacesWorld {
  DcwCatalogue catalogue{DcwFolderFromEnvironment()};
  RegionIndex index{catalogue, ""};
  bool open = catalogue.Open();
};

PlacesWorld& Places() {
  static PlacesWorld* world = new PlacesWorld;
  return *world;
}

void BM_PlacesCountAll(benchmark::State& state) {
  InMapStore in;
  if (!Places().open) return state.SkipWithError("the gmt-dcw outlines are not installed");
  for (auto _ : state) {
    PlacesRecount recount;
    benchmark::DoNotOptimize(recount.Count(Places().index));
    state.counters["tilesDecoded"] = double(recount.tilesDecoded());
  }
}

void BM_PlacesCountAfterOneTileChanged(benchmark::State& state) {
  InMapStore in;
  if (!Places().open) return state.SkipWithError("the gmt-dcw outlines are not installed");
  PlacesRecount recount;
  recount.Count(Places().index);
  // One tile of the store written over in turns with two contents, and
  // given back its own at the end.
  std::vector<std::string> problems;
  const StoreTileFile tile = ListStoreTileFiles(problems).at(0);
  std::ifstream file(tile.path, std::ios::binary);
  const std::vector<uint8_t> own{std::istreambuf_iterator<char>(file),
                                 std::istreambuf_iterator<char>()};
  std::mt19937 random(3);
  const std::vector<uint8_t> contents[2] = {testing::TrackTileContent(random).File(),
                                            testing::TrackTileContent(random).File()};
  size_t turn = 0;
  for (auto _ : state) {
    state.PauseTiming();
    testing::WriteTileFile(tile.latKey, tile.lonKey, contents[turn++ % 2]);
    state.ResumeTiming();
    benchmark::DoNotOptimize(recount.Count(Places().index));
    state.counters["tilesDecoded"] = double(recount.tilesDecoded());
  }
  testing::WriteTileFile(tile.latKey, tile.lonKey, own);
}

BENCHMARK(BM_MapStats)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MapBuildOverview)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MapRefreshUnchanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapLoadCacheFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapWorldView)->Unit(benchmark::kMillisecond);
// From the world to single cells, both sides of the overview's finest zoom
// and of the zoom where a cell is a pixel.
BENCHMARK(BM_MapPanZoomFrame)
    ->Unit(benchmark::kMillisecond)
    ->Arg(30)
    ->Arg(65)
    ->Arg(90)
    ->Arg(105)
    ->Arg(115)
    ->Arg(125)
    ->Arg(140)
    ->Arg(150)
    ->Arg(175)
    ->Arg(220);
BENCHMARK(BM_MapPanZoomFrameWithLayers)
    ->Unit(benchmark::kMillisecond)
    ->Arg(65)
    ->Arg(90)
    ->Arg(115)
    ->Arg(125)
    ->Arg(150)
    ->Arg(175);
BENCHMARK(BM_MapTileZoom10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapMemory)->Iterations(1);
BENCHMARK(BM_PlacesCountAll)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlacesCountAfterOneTileChanged)->Unit(benchmark::kMillisecond)->Iterations(5);
const bool kBuildRatio =
    RegisterRatio({"BM_MapBuildOverview/iterations:3", "BM_MapStats/iterations:3", 1.5});
const bool kPlacesRatio = RegisterRatio(
    {"BM_PlacesCountAfterOneTileChanged/iterations:5", "BM_PlacesCountAll/iterations:3", 0.25});

}  // namespace
}  // namespace roamgrid::bench
