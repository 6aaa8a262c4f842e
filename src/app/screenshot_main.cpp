// roamgrid-screenshot [output.png [progress.png]]: draws the main dialog
// over a store of generated tracks, without a display, and saves it as a
// PNG (by default docs/screenshot.png below the working directory); then
// the same dialog with the import progress window over it (by default
// docs/import-progress.png). The store is made in a temporary directory,
// which becomes the working directory for the dialog and is removed
// afterwards.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <clocale>
#include <cmath>
#include <cstdio>

#include "app/import_progress_window.h"
#include "app/zivozariv_ade.h"
#include "tiles/track_recorder.h"

namespace {

using roamgrid::AddPoint;
using roamgrid::TrackRecorder;

constexpr double kPi = 3.14159265358979323846;

// Records the straight line between two fixes in steps finer than a cell.
void RecordLine(TrackRecorder& recorder, double lat0, double lon0, double lat1, double lon1) {
  const double stepDeg = 1.0 / 40000.0;
  const int steps = std::max(1, int(std::hypot(lat1 - lat0, lon1 - lon0) / stepDeg));
  for (int i = 0; i <= steps; ++i) {
    const double t = double(i) / steps;
    AddPoint(recorder, lat0 + (lat1 - lat0) * t, lon0 + (lon1 - lon0) * t);
  }
}

// Records a polyline given as (lat, lon) corner pairs.
void RecordPath(TrackRecorder& recorder, std::initializer_list<std::pair<double, double>> corners) {
  const std::pair<double, double>* previous = nullptr;
  for (const auto& corner : corners) {
    if (previous)
      RecordLine(recorder, previous->first, previous->second, corner.first, corner.second);
    previous = &corner;
  }
}

// A few days of trips around the default home view (35.65..35.70 N,
// 139.75..139.80 E): streets walked in a grid, a river path, a rail line
// and a loop around a park.
void GenerateStore() {
  TrackRecorder recorder;
  for (double lat = 35.6560; lat < 35.70; lat += 0.0085) {
    RecordLine(recorder, lat, 139.7530 + 0.004 * std::sin(lat * 300), lat, 139.7970);
  }
  for (double lon = 139.7580; lon < 139.80; lon += 0.0110) {
    RecordLine(recorder, 35.6520, lon, 35.6980, lon + 0.006);
  }
  double lat = 35.6500, lon = 139.7650;
  for (int i = 0; i < 400; ++i) {
    const double nextLat = lat + 0.000125;
    const double nextLon = 139.7650 + 0.012 * std::sin(i * kPi / 90.0) + 0.00003 * i;
    RecordLine(recorder, lat, lon, nextLat, nextLon);
    lat = nextLat;
    lon = nextLon;
  }
  RecordPath(recorder,
             {{35.6990, 139.7505}, {35.6800, 139.7620}, {35.6700, 139.7800}, {35.6580, 139.7995}});
  const double centerLat = 35.6820, centerLon = 139.7860, radius = 0.0075;
  double previousLat = centerLat + radius, previousLon = centerLon;
  for (int i = 1; i <= 360; ++i) {
    const double a = i * kPi / 180.0;
    const double r = radius * (1.0 + 0.15 * std::sin(3 * a));
    const double nextLat = centerLat + r * std::cos(a), nextLon = centerLon + r * std::sin(a);
    RecordLine(recorder, previousLat, previousLon, nextLat, nextLon);
    previousLat = nextLat;
    previousLon = nextLon;
  }
  ReleaseRecorderTile(recorder);
}

// The dialog with the progress window of an import over it, as a window
// manager would place it: centred, with a thin frame.
QImage ImportProgressImage(roamgrid::ZIvozarivAde& dialog, QApplication& app) {
  roamgrid::ImportProgressWindow progress(&dialog, 613'700'000, 0);
  progress.BeginLog(0, 5, "/home/user/gps/2026-03-12-walk.log");
  progress.Advance(118'600'000);
  progress.BeginLog(1, 5, "/home/user/gps/2026-03-13-walk.log");
  progress.Advance(71'300'000);
  progress.BeginLog(2, 5, "/home/user/gps/2026-03-14-drive.log");
  // The window refreshes its texts now and then, not at every report.
  QThread::msleep(100);
  progress.Advance(22'500'000);
  app.processEvents();
  QImage image = dialog.grab().toImage();
  const QImage window = progress.window()->grab().toImage();
  const QPoint at((image.width() - window.width()) / 2, (image.height() - window.height()) / 2);
  QPainter painter(&image);
  painter.drawImage(at, window);
  painter.setPen(QColor(64, 64, 64));
  painter.drawRect(QRect(at - QPoint(1, 1), window.size() + QSize(1, 1)));
  return image;
}

bool Save(const QImage& image, const QString& output) {
  QDir().mkpath(QFileInfo(output).absolutePath());
  if (!image.save(output, "PNG")) {
    std::fprintf(stderr, "roamgrid-screenshot: cannot write %s\n", qPrintable(output));
    return false;
  }
  std::printf("%s\n", qPrintable(output));
  return true;
}

QString OutputPath(int argc, char** argv, int index, const char* fallback) {
  return QFileInfo(argc > index ? QString::fromLocal8Bit(argv[index]) : QString(fallback))
      .absoluteFilePath();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  const QString output = OutputPath(argc, argv, 1, "docs/screenshot.png");
  const QString progressOutput = OutputPath(argc, argv, 2, "docs/import-progress.png");
  const QString previous = QDir::currentPath();
  QTemporaryDir store;
  if (!store.isValid() || !QDir::setCurrent(store.path())) {
    std::fprintf(stderr, "roamgrid-screenshot: cannot make a temporary directory\n");
    return 1;
  }
  GenerateStore();
  QImage image, progressImage;
  {
    roamgrid::ZIvozarivAde dialog;
    dialog.show();
    app.processEvents();
    image = dialog.grab().toImage();
    progressImage = ImportProgressImage(dialog, app);
  }
  QDir::setCurrent(previous);
  return Save(image, output) && Save(progressImage, progressOutput) ? 0 : 1;
}
