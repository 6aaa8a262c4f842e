// roamgrid-tile-bench: the redraw time of a 100-command navigation tour of
// the desktop dialog (offscreen), with the map tile layer fed from a warm
// disk cache against the same tour without tiles, as ratios. The tiles come
// from a tile server on 127.0.0.1 inside this process, and the cache lives
// in a scratch folder; a first tour, not timed, warms it. Each timed tour is
// the process CPU time of the button clicks and the repaints they cause;
// the fastest of five repetitions counts.
//   QT_QPA_PLATFORM=offscreen build/bin/roamgrid-tile-bench
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/tile_layer.h"
#include "app/zivozariv_ade.h"
#include "support/scripted_platform.h"
#include "support/tile_server.h"

namespace roamgrid {
namespace {

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// 100 commands from the default home: pans by half a view and by a tile at
// every zoom index from 1 to 7 and back to 4.
std::vector<int> Tour() {
  constexpr int kZoomUp = 1007, kZoomDown = 1008;
  const std::vector<int> pans = {1004, 1001, 1015, 1017, 1002, 1003, 1014, 1016, 1004};
  std::vector<int> tour;
  for (int round = 0; round < 10; ++round) {
    tour.push_back(round < 6 ? kZoomDown : round == 6 ? 1001 : kZoomUp);
    tour.insert(tour.end(), pans.begin(), pans.end());
  }
  return tour;
}

// Runs the tour once; with `settle`, lets each view's tiles arrive before
// the next command (the warm-up). Returns the CPU seconds of clicks and
// repaints.
double RunTour(const std::string& mode, const QString& source, bool settle) {
  testing::ScriptedPlatform platform;
  ZIvozarivAde dialog(platform);
  dialog.SetTileSource({source.toStdString(), "bench tiles"});
  dialog.SetBackgroundMode(mode);
  dialog.show();
  QCoreApplication::processEvents();
  const auto settled = [&] {
    if (settle && !QTest::qWaitFor([&] { return !dialog.tileLayer().busy(); }, 5000)) std::abort();
  };
  settled();
  double spent = 0;
  for (const int id : Tour()) {
    auto* button = qobject_cast<QPushButton*>(dialog.GetDlgItem(id));
    const double start = CpuSeconds();
    if (button->isEnabled()) button->click();
    dialog.viewWindow.repaint();
    spent += CpuSeconds() - start;
    settled();
  }
  return spent;
}

double Fastest(const std::string& mode, const QString& source) {
  double best = 1e9;
  for (int repetition = 0; repetition < 5; ++repetition) {
    best = std::min(best, RunTour(mode, source, false));
  }
  return best;
}

}  // namespace
}  // namespace roamgrid

int main(int argc, char** argv) {
  using namespace roamgrid;
  QApplication app(argc, argv);
  QTemporaryDir scratch;
  qputenv("XDG_CACHE_HOME", scratch.filePath("cache").toUtf8());
  qputenv("XDG_CONFIG_HOME", scratch.filePath("config").toUtf8());
  QDir::setCurrent(scratch.path());  // an empty store
  roamgrid::testing::TileServer server;
  RunTour("tiles", server.Template(), true);
  const qsizetype warmRequests = server.requests.size();
  const double none = Fastest("none", QString());
  const double coast = Fastest("coast", QString());
  const double tiles = Fastest("tiles", server.Template());
  std::printf("tiles fetched to warm the cache: %lld; requests during the timed tours: %lld\n",
              static_cast<long long>(warmRequests),
              static_cast<long long>(server.requests.size() - warmRequests));
  std::printf("100-command tour, CPU ms: no background %.1f, coast %.1f, tiles (warm cache) %.1f\n",
              none * 1e3, coast * 1e3, tiles * 1e3);
  std::printf("tiles / no background: %.2fx (target 2x)\n", tiles / none);
  std::printf("tiles / coast: %.2fx (target 2x)\n", tiles / coast);
  return tiles / coast <= 2.0 ? 0 : 1;
}
