// The map's offline background in the desktop view: lines beneath the marks
// at a coastal view, today's red-on-white raster with it off, the switch in
// the map's context menu and Ctrl+B, remembered per user.
#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTest>
#include <filesystem>

#include "app/user_settings.h"
#include "app/zivozariv_ade.h"
#include "geo/coast_background.h"
#include "support/scratch_working_dir.h"
#include "support/scripted_platform.h"

namespace roamgrid {

using testing::ScriptedPlatform;

class MapBackgroundTest : public QObject {
  Q_OBJECT

 private:
  testing::ScratchWorkingDir workingDir_;
  ScriptedPlatform platform_;

  static int CountColour(const QImage& image, Rgb colour) {
    int count = 0;
    const QColor wanted(colour.red, colour.green, colour.blue);
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == wanted;
    }
    return count;
  }

 private slots:
  void init() {
    QVERIFY(workingDir_.Enter());
    platform_ = ScriptedPlatform();
    qputenv("XDG_CONFIG_HOME", (QDir::currentPath() + "/config").toLocal8Bit());
    qputenv("ROAMGRID_GSHHG_DIR", kGshhgFolder);
  }
  void cleanup() {
    QCOMPARE(platform_.unscripted, 0);
    qunsetenv("XDG_CONFIG_HOME");
    workingDir_.Leave();
  }

  void CoastBeneathTheMarksAndOffIsTheRaster() {
    if (!std::filesystem::exists(std::string(kGshhgFolder) + "/binned_GSHHS_i.nc")) {
      QSKIP("gmt-gshhg-low is not installed");
    }
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.backgroundOn());  // on by default
    // Tokyo Bay at 3.2 degrees, one marked pixel in its middle.
    dialog.originLat = 13600;
    dialog.originLon = 55520;
    dialog.zoomIndex = 7;
    dialog.RenderView();
    dialog.viewWindow.raster()[200 * kRasterSide + 200] = 1;
    const QImage on = dialog.viewWindow.grab().toImage();
    QVERIFY(CountColour(on, kSeaShoreColour) > 500);
    QVERIFY(CountColour(on, kRiverColour) > 50);
    const QPoint mark = dialog.viewWindow.contentsRect().topLeft() + QPoint(200, 447 - 200);
    QCOMPARE(on.pixelColor(mark), QColor(255, 0, 0));

    // Ctrl+B turns it off and remembers that; the view is then the raster.
    QTest::keyClick(&dialog, Qt::Key_B, Qt::ControlModifier);
    QVERIFY(!dialog.backgroundOn());
    QCOMPARE(LoadUserSettings().background, QStringLiteral("none"));
    const QImage off = dialog.viewWindow.grab().toImage();
    const QPoint corner = dialog.viewWindow.contentsRect().topLeft();
    for (int y = 0; y < kRasterSide; ++y) {
      for (int x = 0; x < kRasterSide; ++x) {
        const bool marked = dialog.viewWindow.raster()[(kRasterSide - 1 - y) * kRasterSide + x];
        const QColor want = marked ? QColor(255, 0, 0) : QColor(Qt::white);
        if (off.pixelColor(corner + QPoint(x, y)) != want) {
          QFAIL(qPrintable(QStringLiteral("pixel %1, %2 differs").arg(x).arg(y)));
        }
      }
    }

    // The map's own context menu holds the same switch.
    QAction* toggle = dialog.mapMenu()->actions().value(0);
    QVERIFY(toggle && toggle->isCheckable() && !toggle->isChecked());
    QCOMPARE(toggle->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));
    toggle->trigger();
    QVERIFY(dialog.backgroundOn());
    QCOMPARE(LoadUserSettings().background, QStringLiteral("coast"));
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::MapBackgroundTest)
#include "map_background_test.moc"
