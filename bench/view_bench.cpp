// RenderView against the time merely to open, read and close the tile files
// of the same view: a 64 x 64 tile view at zoom index 7 with a GPS track in
// every tile, the same with every cell of every tile marked, and the one
// tile of a zoom index 1 view.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tiles/grid_units.h"
#include "tiles/tile_file.h"
#include "view/generated_tiles.h"
#include "view/render_view.h"

namespace roamgrid::bench {
namespace {

constexpr int kTilesPerSide = 64;  // an aligned view at zoom index 7

// A generated square of tiles: south-west tile (row i0, column j0) in tile
// units of 20 grid units.
struct Store {
  int64_t i0, j0;
  std::vector<std::string> paths;
  size_t bytes = 0;
};

std::vector<uint8_t> gTrackFileForZoom1;

const Store& TrackStore() {
  static const Store store = [] {
    EnterScratchDirectory();
    Store s{700, 2790, {}, 0};  // 35.0 N, 139.5 E
    std::mt19937 random(1);
    for (int i = 0; i < kTilesPerSide; ++i) {
      for (int j = 0; j < kTilesPerSide; ++j) {
        const auto bytes = testing::TrackTileContent(random).File();
        testing::WriteTileFile(5 * (s.i0 + i), 5 * (s.j0 + j), bytes);
        s.paths.push_back(testing::TilePath(5 * (s.i0 + i), 5 * (s.j0 + j)));
        s.bytes += bytes.size();
      }
    }
    return s;
  }();
  return store;
}

const Store& FullStore() {
  static const Store store = [] {
    EnterScratchDirectory();
    Store s{-900, -2000, {}, 0};  // 45.0 S, 100.0 W
    const auto bytes = testing::FullTileContent().File();
    for (int i = 0; i < kTilesPerSide; ++i) {
      for (int j = 0; j < kTilesPerSide; ++j) {
        testing::WriteTileFile(5 * (s.i0 + i), 5 * (s.j0 + j), bytes);
        s.paths.push_back(testing::TilePath(5 * (s.i0 + i), 5 * (s.j0 + j)));
        s.bytes += bytes.size();
      }
    }
    return s;
  }();
  return store;
}

// The floor: open, read whole and close each file, with plain system calls.
void OpenReadClose(benchmark::State& state, const Store& store) {
  auto buffer = std::make_unique<uint8_t[]>(kMaxTileFileSize + 1);
  for (auto _ : state) {
    for (const std::string& path : store.paths) {
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) std::abort();
      size_t got = 0;
      for (ssize_t n; (n = read(fd, buffer.get() + got, kMaxTileFileSize + 1 - got)) > 0;)
        got += size_t(n);
      close(fd);
      benchmark::DoNotOptimize(buffer[got / 2]);
    }
  }
  state.counters["files"] = double(store.paths.size());
  state.counters["bytes/file"] = double(store.bytes) / double(store.paths.size());
}

void Render(benchmark::State& state, const Store& store, int zoomIndex) {
  std::vector<uint8_t> raster(kRasterSize);
  size_t marked = 0;
  for (auto _ : state) {
    ViewState view;
    view.originLat = int32_t(20 * store.i0);
    view.originLon = int32_t(20 * store.j0);
    view.zoomIndex = zoomIndex;
    RebuildView(view, raster.data());
    benchmark::DoNotOptimize(raster.data());
    benchmark::ClobberMemory();
  }
  for (uint8_t pixel : raster) marked += pixel;
  state.counters["marked"] = double(marked);
}

// The zoom index 1 view shows the south-west tile of the track store alone.
const Store& Zoom1Tile() {
  static const Store store = [] {
    const Store& track = TrackStore();
    return Store{track.i0, track.j0, {track.paths[0]}, track.bytes / track.paths.size()};
  }();
  return store;
}

void BM_OpenReadClose_zoom7_track(benchmark::State& s) { OpenReadClose(s, TrackStore()); }
void BM_RenderView_zoom7_track(benchmark::State& s) { Render(s, TrackStore(), 7); }
void BM_OpenReadClose_zoom7_full(benchmark::State& s) { OpenReadClose(s, FullStore()); }
void BM_RenderView_zoom7_full(benchmark::State& s) { Render(s, FullStore(), 7); }
void BM_OpenReadClose_zoom1_track(benchmark::State& s) { OpenReadClose(s, Zoom1Tile()); }
void BM_RenderView_zoom1_track(benchmark::State& s) { Render(s, Zoom1Tile(), 1); }

// Writing every byte of the raster once: a view of one tile costs at
// least this besides its file.
void BM_ClearRaster(benchmark::State& state) {
  std::vector<uint8_t> raster(kRasterSize, 1);
  for (auto _ : state) {
    std::memset(raster.data(), 0, raster.size());
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_OpenReadClose_zoom7_track)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderView_zoom7_track)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenReadClose_zoom7_full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderView_zoom7_full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenReadClose_zoom1_track)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderView_zoom1_track)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClearRaster)->Unit(benchmark::kMicrosecond);

const bool kRatios[] = {
    RegisterRatio({"BM_RenderView_zoom7_track", "BM_OpenReadClose_zoom7_track", 1.5}),
    RegisterRatio({"BM_RenderView_zoom7_full", "BM_OpenReadClose_zoom7_full", 2.0}),
    RegisterRatio({"BM_RenderView_zoom1_track", "BM_OpenReadClose_zoom1_track", 1.5}),
    RegisterRatio({"BM_ClearRaster", "BM_OpenReadClose_zoom1_track", 0}),
};

}  // namespace
}  // namespace roamgrid::bench
