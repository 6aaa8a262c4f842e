// Sharing the marks, on a store of about 10^6 visited cells (rides in ten
// regions on six continents):
//   - export of map tiles for zooms 0 to 16 into a folder, against writing
//     the same number of empty 256 x 256 PNG files with libpng (target at
//     most 3 times); the tiles a second are a counter;
//   - one tile request as the tile server answers it, with the overview
//     warm (target: a median of at most 5 ms), in turn over tiles of all
//     zooms that hold marks.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "bench_support.h"
#include "export/map_tiles_export.h"
#include "export/png_file.h"
#include "export/tile_service.h"
#include "map/map_store.h"
#include "map/marks_map.h"
#include "store/store_stats.h"

namespace roamgrid::bench {
namespace {

namespace fs = std::filesystem;

struct Region {
  double lat, lon;
};
constexpr Region kRegions[] = {{35.6, 139.7},  {51.5, -0.1},   {40.7, -74.0}, {-33.9, 151.2},
                               {-33.9, 18.4},  {-23.5, -46.6}, {55.7, 37.6},  {28.6, 77.2},
                               {34.0, -118.2}, {-17.8, 179.9}};
constexpr int kRidesPerRegion = 25;
constexpr int kStepsPerRide = 4400;

// Runs the benchmark's body in the folder of the store, made the first time.
class InShareStore {
 public:
  InShareStore() {
    EnterScratchDirectory();
    static const fs::path folder = [] {
      const fs::path made = fs::current_path() / "share-store";
      fs::create_directories(made);
      fs::current_path(made);
      std::mt19937 random(31);
      std::uniform_real_distribution<double> offset(-0.15, 0.15);
      // One region at a time: the tiles of one are in memory while written.
      for (const Region& region : kRegions) {
        std::vector<testing::GlobalCell> cells;
        for (int ride = 0; ride < kRidesPerRegion; ++ride)
          for (const testing::GlobalCell& cell :
               testing::Track(region.lat + offset(random), region.lon + offset(random),
                              kStepsPerRide, unsigned(random())))
            cells.push_back(cell);
        testing::WriteCells(cells);
      }
      fs::current_path(made.parent_path());
      return made;
    }();
    previous_ = fs::current_path();
    fs::current_path(folder);
  }
  ~InShareStore() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

MarksMap& WarmMap() {
  static MarksMap* map = [] {
    MarksMapOptions options;
    options.useCacheFile = false;
    auto* made = new MarksMap(options);
    made->Refresh();
    return made;
  }();
  return *map;
}

// Tiles the export writes (from its first run), for the floor.
long long gExportedTiles = 0;

void BM_ShareExportTiles_z0_16(benchmark::State& state) {
  InShareStore in;
  MarksMap& map = WarmMap();
  MapTilesRequest request;
  request.path = "../share-tiles";
  request.zoomFirst = 0;
  request.zoomLast = 16;
  for (auto _ : state) {
    const MapTilesResult result = ExportMapTiles(map, request);
    if (!result.ok) state.SkipWithError(result.error.c_str());
    gExportedTiles = result.tiles;
  }
  state.counters["tiles"] = double(gExportedTiles);
  state.counters["cells"] = double(CollectStoreStats().visitedCells);
  state.counters["tiles/s"] =
      benchmark::Counter(double(gExportedTiles), benchmark::Counter::kIsIterationInvariantRate);
}

// The floor: as many empty tiles, each encoded by libpng and written to
// its own new file.
void BM_ShareEmptyPngs_floor(benchmark::State& state) {
  InShareStore in;
  if (gExportedTiles == 0) {
    state.SkipWithError("run BM_ShareExportTiles_z0_16 first");
    return;
  }
  fs::create_directories("../share-empty");
  const MaskImage empty(kMapTilePixels, kMapTilePixels);
  std::vector<uint8_t> png;
  for (auto _ : state) {
    for (long long i = 0; i < gExportedTiles; ++i) {
      EncodeMarksTile(empty, Rgb{255, 0, 0}, png);
      const std::string path = "../share-empty/" + std::to_string(i) + ".png";
      FILE* file = std::fopen(path.c_str(), "wb");
      if (!file) {
        state.SkipWithError("cannot write an empty tile");
        return;
      }
      std::fwrite(png.data(), 1, png.size(), file);
      std::fclose(file);
    }
  }
  state.counters["tiles"] = double(gExportedTiles);
}

// One request after another over tiles that hold marks at every zoom up
// to 16, as a map client asks them.
void BM_ShareServeTile_warm(benchmark::State& state) {
  InShareStore in;
  MarksMap& map = WarmMap();
  std::vector<std::string> paths;
  for (int z = 0; z <= 16; ++z) {
    int taken = 0;
    map.ForEachMarksTile(z, [&](MapTileKey key) {
      if (taken++ < 40)
        paths.push_back("/" + std::to_string(z) + "/" + std::to_string(key.x) + "/" +
                        std::to_string(key.y) + ".png");
    });
  }
  TileService service(map, {});
  for (const std::string& path : paths) service.Answer("GET", path, "");  // warm
  size_t next = 0;
  for (auto _ : state) {
    const HttpAnswer answer = service.Answer("GET", paths[next++ % paths.size()], "");
    benchmark::DoNotOptimize(answer.body.data());
  }
  state.counters["paths"] = double(paths.size());
}

BENCHMARK(BM_ShareExportTiles_z0_16)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(2);
BENCHMARK(BM_ShareEmptyPngs_floor)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(2);
BENCHMARK(BM_ShareServeTile_warm)->Unit(benchmark::kMicrosecond);

const bool kRatios = RegisterRatio({"BM_ShareExportTiles_z0_16", "BM_ShareEmptyPngs_floor", 3.0});

}  // namespace
}  // namespace roamgrid::bench
