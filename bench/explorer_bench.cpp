// `stats` with the explorer tiles of zooms 14 and 17 against `stats` alone,
// on a store of about 10^6 visited cells: random drives of 10 m steps over
// a 2 x 2 degree region, so that the marks spread over some 600 tiles as a
// lifetime of rides does.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "bench_support.h"
#include "store/explorer_tiles.h"
#include "store/store_stats.h"
#include "tiles/track_recorder.h"

namespace roamgrid::bench {
namespace {

constexpr long long kWantedCells = 1000000;

void MakeStore() {
  static const bool made = [] {
    EnterScratchDirectory();
    TrackRecorder recorder;
    std::mt19937 random(17);
    std::uniform_real_distribution<double> start(0.0, 2.0), turn(-0.3, 0.3);
    // About 1.2 fixes per new cell: 10 m steps over 6 m cells.
    for (long long fixes = 0; fixes < kWantedCells * 12 / 10;) {
      double lat = 35.0 + start(random), lon = 139.0 + start(random), heading = start(random) * 3.2;
      for (int step = 0; step < 20000; ++step, ++fixes) {
        heading += turn(random);
        lat += 0.00009 * std::sin(heading);
        lon += 0.00011 * std::cos(heading);
        AddPoint(recorder, lat, lon);
      }
    }
    ReleaseRecorderTile(recorder);
    return true;
  }();
  (void)made;
}

void BM_StatsAlone(benchmark::State& state) {
  MakeStore();
  for (auto _ : state) {
    const StoreStats stats = CollectStoreStats();
    state.counters["cells"] = double(stats.visitedCells);
    state.counters["tiles"] = double(stats.tileFiles);
  }
}

void BM_StatsWithExplorer(benchmark::State& state) {
  MakeStore();
  for (auto _ : state) {
    // As stats does: zoom 17 from the cells, zoom 14 from zoom 17.
    std::vector<ExplorerTileSet> sets;
    sets.emplace_back(17);
    const StoreStats stats = CollectStoreStats(&sets);
    ExplorerTileSet zoom14(14);
    zoom14.AddCoarsened(sets.front());
    benchmark::DoNotOptimize(sets.front().Summarize());
    benchmark::DoNotOptimize(zoom14.Summarize());
    state.counters["cells"] = double(stats.visitedCells);
    state.counters["z17"] = double(sets.front().size());
  }
}

BENCHMARK(BM_StatsAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatsWithExplorer)->Unit(benchmark::kMillisecond);
const bool kRatio = RegisterRatio({"BM_StatsWithExplorer", "BM_StatsAlone", 0});

}  // namespace
}  // namespace roamgrid::bench
