// The open map follows the store: saves by another process, or a burst of
// saves, into the shown view's tiles redraw it once, without a command; an
// idle dialog does nothing; every navigation moves the watch.
#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QLineEdit>
#include <algorithm>

#include "app/zivozariv_ade.h"
#include "support/generated_logs.h"
#include "support/scratch_working_dir.h"
#include "support/scripted_platform.h"
#include "support/temp_dir.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

namespace {

// Cells of the default home view's one tile (35.65 N, 139.75 E).
constexpr double kCell = 1.0 / 17920;
constexpr double kTileLat = 35.65, kTileLon = 139.75;

long MarkedPixels(ZIvozarivAde& dialog) {
  const uint8_t* raster = dialog.viewWindow.raster();
  return long(std::count_if(raster, raster + kRasterSize, [](uint8_t v) { return v != 0; }));
}

// roamgrid-cli imports a one-fix log, as a scripted import would.
bool ImportInOtherProcess(double lat, double lon) {
  testing::WriteText("one.log", testing::GgaSentence(lat, lon) + "\n");
  QProcess cli;
  cli.start(ROAMGRID_CLI_PATH, {"import", "one.log"});
  return cli.waitForFinished(10000) && cli.exitCode() == 0;
}

}  // namespace

class StoreWatchTest : public QObject {
  Q_OBJECT

 private:
  testing::ScratchWorkingDir workingDir_;
  testing::ScriptedPlatform platform_;

 private slots:
  void init() { QVERIFY(workingDir_.Enter()); }
  void cleanup() { workingDir_.Leave(); }

  void AnotherProgramsImportAppearsWithoutACommand() {
    ZIvozarivAde dialog(platform_);
    QCOMPARE(MarkedPixels(dialog), 0L);
    QCOMPARE(dialog.storeWatcher().watched(), QStringList{"."});  // no RGD yet

    // The first import makes RGD and the tile's folder.
    QVERIFY(ImportInOtherProcess(kTileLat + 0.5 * kCell, kTileLon + 0.5 * kCell));
    QTRY_COMPARE_WITH_TIMEOUT(MarkedPixels(dialog), 1L, 2000);
    QCOMPARE(dialog.storeRefreshes(), 1);
    QCOMPARE(dialog.storeWatcher().watched(), (QStringList{"RGD", "RGD/E139N035"}));

    // A second one changes the existing tile file.
    QVERIFY(ImportInOtherProcess(kTileLat + 0.02, kTileLon + 0.03));
    QTRY_COMPARE_WITH_TIMEOUT(MarkedPixels(dialog), 2L, 2000);
    QCOMPARE(dialog.storeRefreshes(), 2);
  }

  void ABurstOfSavesRedrawsOnceAndIdleDoesNothing() {
    ZIvozarivAde dialog(platform_);
    QVERIFY(ImportInOtherProcess(kTileLat + 0.5 * kCell, kTileLon + 0.5 * kCell));
    QTRY_COMPARE_WITH_TIMEOUT(dialog.storeRefreshes(), 1, 2000);

    // Twenty saves of the tile in quick succession: one rebuild.
    for (int i = 1; i <= 20; ++i) {
      TrackRecorder recorder;
      AddPoint(recorder, kTileLat + (0.5 + 40 * i) * kCell, kTileLon + 0.5 * kCell);
    }
    QTRY_COMPARE_WITH_TIMEOUT(MarkedPixels(dialog), 21L, 2000);
    QTest::qWait(3 * StoreWatcher::kBurstMs);
    QCOMPARE(dialog.storeRefreshes(), 2);

    // Idle for a second: the event loop wakes only for the timer that ends
    // the wait, and nothing is rebuilt.
    int wakeUps = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                     &dialog, [&] { ++wakeUps; });
    QEventLoop idle;
    QTimer::singleShot(1000, &idle, &QEventLoop::quit);
    idle.exec();
    QVERIFY2(wakeUps <= 3, qPrintable(QString::number(wakeUps) + " wake-ups"));
    QCOMPARE(dialog.storeRefreshes(), 2);
  }

  void NavigationMovesTheWatch() {
    ZIvozarivAde dialog(platform_);
    // A save east of the view makes the store; the watch still shows the
    // store folder until the view is built again.
    TrackRecorder recorder;
    AddPoint(recorder, kTileLat + 0.01, kTileLon + 0.06);
    ReleaseRecorderTile(recorder);
    QCOMPARE(dialog.storeWatcher().watched(), QStringList{"."});
    // Zoom Down twice: a 0.2 degree view.
    auto* zoomDown = qobject_cast<QPushButton*>(dialog.GetDlgItem(1008));
    QVERIFY(zoomDown);
    QTest::mouseClick(zoomDown, Qt::LeftButton);
    QTest::mouseClick(zoomDown, Qt::LeftButton);
    QVERIFY(dialog.storeWatcher().watched().contains("RGD/E139N035"));
    // Jump to the other side of the globe: its folders are not there, so
    // only RGD is watched.
    auto* lat = dialog.findChild<QLineEdit*>("1005");
    auto* lon = dialog.findChild<QLineEdit*>("1006");
    QVERIFY(lat && lon);
    lat->setText("-33.5");
    lon->setText("-70.5");
    QTest::mouseClick(qobject_cast<QPushButton*>(dialog.GetDlgItem(1011)), Qt::LeftButton);
    QCOMPARE(dialog.storeWatcher().watched(), QStringList{"RGD"});
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::StoreWatchTest)
#include "store_watch_test.moc"
