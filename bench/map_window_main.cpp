// roamgrid-map-bench: what the Map window costs at 1280 x 800, offscreen,
// over a store of about 10^4 tiles on five continents (generated in a
// scratch folder the first time, or the store in the folder given):
//   - building the overview from nothing (the first opening ever);
//   - the first paint of the world view with the overview on disk (a new
//     window: the cache file read, the store looked over, all marks fitted
//     and painted), target 100 ms;
//   - a pan step and a wheel zoom step with warm caches, per frame, at the
//     world view and at a city view, target 16 ms; each against the floor of
//     painting one 1280 x 800 picture, as a ratio;
//   - the memory the window adds with the overview loaded, target 64 MiB.
// Times are the process's CPU time; the fastest of five repetitions counts.
//   QT_QPA_PLATFORM=offscreen build/bin/roamgrid-map-bench [STORE_FOLDER]
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "app/map_window.h"
#include "map/marks_map.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 800;
constexpr int kFrames = 40;
constexpr double kCell = 1.0 / 17920;

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Fastest of five runs of `run`, in milliseconds.
double FastestMs(const std::function<void()>& run) {
  double best = HUGE_VAL;
  for (int repetition = 0; repetition < 5; ++repetition) {
    const double start = CpuSeconds();
    run();
    best = std::min(best, (CpuSeconds() - start) * 1000);
  }
  return best;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// About 10^4 tiles: a block of 45 x 45 tiles (2.25 degrees) round each of
// five cities, every tile crossed by a few walks of a few hundred cells.
void GenerateStore() {
  struct City {
    double lat, lon;
  } cities[] = {{35.0, 139.0}, {51.0, -1.0}, {37.0, -123.0}, {-35.0, 150.0}, {-24.0, -47.0}};
  std::mt19937 random(29);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  TrackRecorder recorder;
  for (const City& city : cities) {
    for (int row = 0; row < 45; ++row) {
      for (int col = 0; col < 45; ++col) {
        const double south = city.lat + row * 0.05, west = city.lon + col * 0.05;
        for (int walk = 0; walk < 3; ++walk) {
          double lat = south + unit(random) * 0.05, lon = west + unit(random) * 0.05;
          double heading = unit(random) * 6.28;
          for (int step = 0; step < 300; ++step) {
            heading += (unit(random) - 0.5) * 0.6;
            lat = std::clamp(lat + kCell * std::sin(heading), south + kCell, south + 0.05 - kCell);
            lon = std::clamp(lon + kCell * std::cos(heading), west + kCell, west + 0.05 - kCell);
            AddPoint(recorder, lat, lon);
          }
        }
      }
    }
  }
  ReleaseRecorderTile(recorder);
}

void Drag(QWidget* area, QPointF from, QPointF to, bool press, bool release) {
  const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button,
                        Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, area->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(area, &event);
  };
  if (press) send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  if (release) send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

// Per frame: a drag step of 12 pixels and its paint.
double PanFrameMs(MapWindow& map, QPixmap& target) {
  QWidget* area = map.mapArea();
  return FastestMs([&] {
           for (int frame = 0; frame < kFrames; ++frame) {
             const QPointF from(600, 400);
             Drag(area, from, from + QPointF(frame % 2 ? -12 : 12, 6), true, true);
             area->render(&target);
           }
         }) /
         kFrames;
}

// Per frame: one frame of a half-step wheel zoom about a point and its paint.
double ZoomFrameMs(MapWindow& map, QPixmap& target) {
  QWidget* area = map.mapArea();
  const MercatorView start = map.view();
  return FastestMs([&] {
           for (int frame = 0; frame < kFrames; ++frame) {
             MercatorView view = start;
             ZoomViewAbout(view, start.zoom + 0.5 * (frame % 10) / 10.0, 400, 300);
             map.SetView(CentreOfView(view));
             area->render(&target);
           }
         }) /
         kFrames;
}

// Lets the window draw its background and layers for the view it rests at.
void Rest() {
  QEventLoop loop;
  QTimer::singleShot(MapWindow::kRedrawRestMs * 2, &loop, &QEventLoop::quit);
  loop.exec();
}

void Report(const char* what, double ms, double floorMs, double target) {
  std::printf("%-44s %8.2f ms  %6.1fx floor  target %5.0f ms  %s\n", what, ms, ms / floorMs, target,
              ms <= target ? "met" : "MISSED");
}

}  // namespace
}  // namespace roamgrid

int main(int argc, char** argv) {
  using namespace roamgrid;
  QApplication app(argc, argv);
  QTemporaryDir scratch;
  qputenv("XDG_CONFIG_HOME", (scratch.path() + "/config").toLocal8Bit());
  qputenv("XDG_CACHE_HOME", (scratch.path() + "/cache").toLocal8Bit());
  const QString store = argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.path() + "/store";
  QDir().mkpath(store);
  QDir::setCurrent(store);
  if (!QDir("RGD").exists()) {
    std::printf("generating a store of about 10^4 tiles in %s\n", qPrintable(store));
    GenerateStore();
  }

  // The floor: painting one 1280 x 800 picture.
  QPixmap target(kWidth, kHeight);
  QImage picture(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  picture.fill(qRgb(216, 232, 246));
  const double floorMs = FastestMs([&] {
                           for (int frame = 0; frame < kFrames; ++frame) {
                             QPainter painter(&target);
                             painter.drawImage(0, 0, picture);
                           }
                         }) /
                         kFrames;
  std::printf("%-44s %8.2f ms\n", "floor: one 1280 x 800 picture painted", floorMs);

  // The overview built from nothing, then written to the cache folder.
  {
    const double start = CpuSeconds();
    MarksMap marks;
    marks.Refresh();
    marks.SaveCache();
    std::printf("%-44s %8.2f ms  (%lld tiles read)\n", "overview built from nothing",
                (CpuSeconds() - start) * 1000, marks.tilesReadLastRefresh());
  }

  {
    double start = CpuSeconds();
    MarksMap marks;
    const double loadMs = (CpuSeconds() - start) * 1000;
    start = CpuSeconds();
    marks.Refresh();
    const double refreshMs = (CpuSeconds() - start) * 1000;
    MaskImage mask;
    start = CpuSeconds();
    const std::optional<WorldBox> box = marks.MarksBounds();
    const double boundsMs = (CpuSeconds() - start) * 1000;
    const MercatorView world =
        FitView(box->west, box->north, box->east, box->south, kWidth, kHeight);
    start = CpuSeconds();
    marks.RenderMarks(world, mask);
    const double renderMs = (CpuSeconds() - start) * 1000;
    std::printf(
        "cache file read %.2f ms, store looked over %.2f ms, bounds %.2f ms, marks %.2f ms\n",
        loadMs, refreshMs, boundsMs, renderMs);
  }

  for (const char* background : {"none", "coast"}) {
    std::printf("-- background %s\n", background);
    const long before = ResidentKiB();
    MapWindow map;
    map.SetBackgroundMode(background);
    map.setAttribute(Qt::WA_DontShowOnScreen);
    map.resize(kWidth, kHeight + 60);
    map.show();
    map.resize(kWidth + (kWidth - map.mapArea()->width()),
               kHeight + (kHeight - map.mapArea()->height()));
    QApplication::processEvents();
    // The first paint of the world view: the cache file read, the store
    // looked over, the marks fitted and painted.
    const double start = CpuSeconds();
    map.Open();
    map.mapArea()->render(&target);
    const double firstMs = (CpuSeconds() - start) * 1000;
    Report("first paint, world view, warm overview", firstMs, floorMs, 100);
    Rest();
    Report("pan frame, world view", PanFrameMs(map, target), floorMs, 16);
    Report("zoom frame, world view", ZoomFrameMs(map, target), floorMs, 16);
    map.FitToMarks();
    Rest();
    Report("background and layers drawn afresh, world", FastestMs([&] {
             map.SetBackgroundMode("none");
             map.SetBackgroundMode(background);
             map.SetExplorerLayer(true);
             map.mapArea()->render(&target);
             map.SetExplorerLayer(false);
           }),
           floorMs, 100);
    map.SetView({35.6, 139.6, 12});
    Rest();
    Report("pan frame, city view (zoom 12)", PanFrameMs(map, target), floorMs, 16);
    Report("zoom frame, city view (zoom 12)", ZoomFrameMs(map, target), floorMs, 16);
    map.SetView({35.6, 139.6, 16});
    Rest();
    Report("pan frame, street view (zoom 16)", PanFrameMs(map, target), floorMs, 16);
    const double extraMiB = (ResidentKiB() - before) / 1024.0;
    std::printf("%-44s %8.1f MiB  target 64 MiB  %s\n", "memory added by the window", extraMiB,
                extraMiB <= 64 ? "met" : "MISSED");
    map.close();
  }
  return 0;
}
