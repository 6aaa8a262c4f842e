// The map background on a scripted tour: 100 navigation commands along the
// coast of Japan and across the Alps at every zoom, each ending in a redraw.
// The tour without the background (the raster builder alone, on a store
// without tiles: the least a redraw costs today) is the floor; with it, the
// same redraws also draw the GSHHG lines into the view picture. Counters:
// the largest CPU time of one redraw, the decoded bins kept, and the growth
// of the process's peak memory (the tour run in a child process each way).
//
// The Map window's background: the filled coast of a 1280 x 800 Web
// Mercator view of the world, a continent, a country and a city, warm (the
// bins of the view decoded) and, for the world, cold (a fresh store: files
// opened and checked, bins decoded). The floor is one fill of the same
// picture with a single colour: every pixel written once.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "geo/coast_background.h"
#include "view/navigation.h"
#include "view/render_view.h"

namespace roamgrid::bench {
namespace {

// One command of the tour: a pan (N S E W), a tile step (n s e w), a zoom
// (+ closer, - wider) or a jump to a centre.
struct Command {
  char what;
  double lat = 0;
  double lon = 0;
};

std::vector<Command> Tour() {
  std::vector<Command> tour;
  const auto add = [&](const std::string& steps) {
    for (char c : steps) tour.push_back({c});
  };
  // Tokyo Bay at 3.2 degrees, north-east along the coast, back south-west
  // past Nagoya, then in to the closest zoom on the Boso coast and out again.
  tour.push_back({'J', 35.6, 139.8});
  add("NENENESWSWSWSWSWSW");
  tour.push_back({'J', 35.0, 139.9});
  add("+NE+SW+ES+NW+ne+sw+en+");
  add("-E-N-W-S-e-n-s");
  // Across the Alps the same way: borders, lakes and rivers.
  tour.push_back({'J', 46.5, 8.5});
  add("EEWWNS+ENWS+EN+WS+ew+ns+en+");
  add("-------");
  tour.resize(100, Command{'S'});
  return tour;
}

// Runs one command on the view; false when it changed nothing.
bool Run(const Command& command, ViewState& view, ZoomButtons& buttons) {
  switch (command.what) {
    case 'N':
      return PanNorth(view);
    case 'S':
      return PanSouth(view);
    case 'E':
      return PanEast(view);
    case 'W':
      return PanWest(view);
    case 'n':
      return StepTileNorth(view);
    case 's':
      return StepTileSouth(view);
    case 'e':
      return StepTileEast(view);
    case 'w':
      return StepTileWest(view);
    case '+':
      return ZoomUp(view, buttons);
    case '-':
      return ZoomDown(view, buttons);
    default:
      return Jump(view, std::to_string(command.lat), std::to_string(command.lon));
  }
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The tour from zoom index 7; `store` null: no background. Returns the
// largest CPU time of one command and its redraw, in seconds.
double RunTour(const GshhgStore* store, std::vector<uint8_t>& raster, RgbImage& picture) {
  ViewState view;
  view.zoomIndex = 7;
  ZoomButtons buttons;
  double longest = 0;
  for (const Command& command : Tour()) {
    const double start = ThreadCpuSeconds();
    if (Run(command, view, buttons)) {
      RebuildView(view, raster.data());
      if (store) {
        picture.Fill(kWhite);
        DrawCoastBackground(*store, view.originLat, view.originLon, view.zoomIndex, picture);
      }
    }
    longest = std::max(longest, ThreadCpuSeconds() - start);
    benchmark::DoNotOptimize(raster.data());
    benchmark::DoNotOptimize(picture.bytes.data());
  }
  return longest;
}

// The peak resident memory (KiB) of a child process that runs `work`.
long ChildPeakKiB(const std::function<void()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    work();
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return -1;
  return usage.ru_maxrss;
}

void BM_Tour_plain(benchmark::State& state) {
  EnterScratchDirectory();  // a store without tiles
  std::vector<uint8_t> raster(kRasterSize);
  RgbImage picture(kRasterSide, kRasterSide);
  double longest = 0;
  for (auto _ : state) longest = std::max(longest, RunTour(nullptr, raster, picture));
  state.counters["max_redraw_ms"] = longest * 1e3;
}

// A fresh store each tour: every file opened and every bin decoded, as in
// a program's first tour.
void BM_Tour_coast_cold(benchmark::State& state) {
  EnterScratchDirectory();
  std::vector<uint8_t> raster(kRasterSize);
  RgbImage picture(kRasterSide, kRasterSide);
  double longest = 0;
  size_t kept = 0;
  for (auto _ : state) {
    GshhgStore store(GshhgFolderFromEnvironment());
    longest = std::max(longest, RunTour(&store, raster, picture));
    kept = std::max(kept, store.cachedBytes());
  }
  state.counters["max_redraw_ms"] = longest * 1e3;
  state.counters["kept_MiB"] = double(kept) / (1 << 20);
  const auto plainTour = [] {
    std::vector<uint8_t> r(kRasterSize);
    RgbImage p(kRasterSide, kRasterSide);
    RunTour(nullptr, r, p);
  };
  const auto coastTour = [] {
    std::vector<uint8_t> r(kRasterSize);
    RgbImage p(kRasterSide, kRasterSide);
    GshhgStore store(GshhgFolderFromEnvironment());
    RunTour(&store, r, p);
  };
  state.counters["peak_growth_MiB"] =
      double(ChildPeakKiB(coastTour) - ChildPeakKiB(plainTour)) / 1024.0;
}

// The store kept between tours, as in a program touring the same places again.
void BM_Tour_coast_warm(benchmark::State& state) {
  EnterScratchDirectory();
  std::vector<uint8_t> raster(kRasterSize);
  RgbImage picture(kRasterSide, kRasterSide);
  GshhgStore store(GshhgFolderFromEnvironment());
  RunTour(&store, raster, picture);
  double longest = 0;
  for (auto _ : state) longest = std::max(longest, RunTour(&store, raster, picture));
  state.counters["max_redraw_ms"] = longest * 1e3;
}

constexpr int kMapWidth = 1280;
constexpr int kMapHeight = 800;

MercatorView MapView(double latDeg, double lonDeg, double zoom) {
  return {MercatorWorldX(lonDeg), MercatorWorldY(latDeg), zoom, kMapWidth, kMapHeight};
}

void BM_MapPicture_fill_floor(benchmark::State& state) {
  RgbImage picture(kMapWidth, kMapHeight);
  for (auto _ : state) {
    picture.Fill(kSeaColour);
    benchmark::DoNotOptimize(picture.bytes.data());
  }
}

// The view's bins decoded by a first drawing; then every drawing as a pan
// or zoom step redraws it.
void MapCoastWarm(benchmark::State& state, const MercatorView& view) {
  GshhgStore store(GshhgFolderFromEnvironment());
  RgbImage picture(kMapWidth, kMapHeight);
  if (!DrawCoastMercator(store, view, picture).filled) {
    state.SkipWithError("no GSHHG shoreline data");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(DrawCoastMercator(store, view, picture));
    benchmark::DoNotOptimize(picture.bytes.data());
  }
}
void BM_MapCoast_world_warm(benchmark::State& state) { MapCoastWarm(state, MapView(20, 0, 2.3)); }
void BM_MapCoast_europe_warm(benchmark::State& state) { MapCoastWarm(state, MapView(50, 10, 5)); }
void BM_MapCoast_alps_warm(benchmark::State& state) { MapCoastWarm(state, MapView(46.5, 8.5, 8)); }
void BM_MapCoast_tokyo_warm(benchmark::State& state) {
  MapCoastWarm(state, MapView(35.68, 139.76, 12));
}

// A fresh store each time: the first paint of a program's Map window.
void BM_MapCoast_world_cold(benchmark::State& state) {
  RgbImage picture(kMapWidth, kMapHeight);
  for (auto _ : state) {
    GshhgStore store(GshhgFolderFromEnvironment());
    benchmark::DoNotOptimize(DrawCoastMercator(store, MapView(20, 0, 2.3), picture));
  }
}

BENCHMARK(BM_MapPicture_fill_floor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapCoast_world_warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapCoast_europe_warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapCoast_alps_warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapCoast_tokyo_warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapCoast_world_cold)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_Tour_plain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tour_coast_cold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tour_coast_warm)->Unit(benchmark::kMillisecond);

const bool kRatios[] = {
    RegisterRatio({"BM_Tour_coast_cold", "BM_Tour_plain", 1.5}),
    RegisterRatio({"BM_Tour_coast_warm", "BM_Tour_plain", 1.5}),
    RegisterRatio({"BM_MapCoast_world_warm", "BM_MapPicture_fill_floor", 0}),
    RegisterRatio({"BM_MapCoast_europe_warm", "BM_MapPicture_fill_floor", 0}),
    RegisterRatio({"BM_MapCoast_alps_warm", "BM_MapPicture_fill_floor", 0}),
    RegisterRatio({"BM_MapCoast_tokyo_warm", "BM_MapPicture_fill_floor", 0}),
    RegisterRatio({"BM_MapCoast_world_cold", "BM_MapPicture_fill_floor", 0}),
};

}  // namespace
}  // namespace roamgrid::bench
