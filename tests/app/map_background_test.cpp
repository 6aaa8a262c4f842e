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
#include "support/tile_server.h"
#include "view/view_state.h"

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
    qunsetenv("XDG_CACHE_HOME");
    workingDir_.Leave();
  }

  // The view's 448 x 448 picture inside the window's border, as painted.
  static QImage Shown(ZIvozarivAde& dialog) {
    return dialog.viewWindow
        .grab(QRect(dialog.viewWindow.contentsRect().topLeft(), QSize(kRasterSide, kRasterSide)))
        .toImage()
        .convertToFormat(QImage::Format_RGB888);
  }

  // The dialog over tiles of the local test server, with an attribution,
  // once every tile of the view has come.
  static void ShowTiles(ZIvozarivAde& dialog, const testing::TileServer& server) {
    qputenv("XDG_CACHE_HOME", (QDir::currentPath() + "/cache").toLocal8Bit());
    dialog.SetTileSource({server.Template().toStdString(), "© test tiles"});
    dialog.SetBackgroundMode("tiles");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTRY_VERIFY(dialog.tileLayer().covers());
    dialog.viewWindow.update();
  }

  static bool IsScaleBar(QColor c) { return c == QColor(80, 80, 90); }
  static bool IsLight(QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }

  // Marks are drawn last: the attribution box and the scale bar never
  // tint them, and the scale bar stands on a light halo over the tiles.
  void MarksLieOverTheAttributionAndTheScaleBar() {
    testing::TileServer server;
    ZIvozarivAde dialog(platform_);
    ShowTiles(dialog, server);
    const QImage tiles = Shown(dialog);
    // The attribution in the bottom-right corner, the bar in the bottom-left.
    QVERIFY(IsLight(tiles.pixelColor(kRasterSide - 2, kRasterSide - 2)));
    QVERIFY(!IsLight(dialog.tileLayer().image().pixelColor(kRasterSide - 2, kRasterSide - 2)));
    const int barRow = kRasterSide - 1 - 6;
    QVERIFY(IsScaleBar(tiles.pixelColor(10, barRow)));
    QVERIFY(IsLight(tiles.pixelColor(10, barRow - 1)));  // the halo
    QVERIFY(IsLight(tiles.pixelColor(10, barRow + 1)));

    // The bottom 20 rows all marked: every pixel there is pure red.
    for (int i = 0; i < 20 * kRasterSide; ++i) dialog.viewWindow.raster()[i] = 1;
    const QImage marked = Shown(dialog);
    for (int y = kRasterSide - 20; y < kRasterSide; ++y) {
      for (int x = 0; x < kRasterSide; ++x) {
        if (marked.pixelColor(x, y) != QColor(255, 0, 0)) {
          QFAIL(qPrintable(QStringLiteral("pixel %1, %2 is not red").arg(x).arg(y)));
        }
      }
    }
    QCOMPARE(marked.pixelColor(10, kRasterSide - 21), tiles.pixelColor(10, kRasterSide - 21));
  }

  // The PNG of Export is the 448 x 448 view exactly as shown: tiles,
  // attribution, scale bar and marks, no border.
  void ExportedPngIsTheViewAsShown() {
    testing::TileServer server;
    ZIvozarivAde dialog(platform_);
    ShowTiles(dialog, server);
    for (int i = 0; i < kRasterSize; i += 97) dialog.viewWindow.raster()[i] = 1;
    dialog.viewWindow.update();
    platform_.QueueExportPath("view.png");
    QTest::mouseClick(dialog.GetDlgItem(1013), Qt::LeftButton);
    QVERIFY(platform_.messages.empty());
    const QImage png = QImage("view.png").convertToFormat(QImage::Format_RGB888);
    QCOMPARE(png.size(), QSize(kRasterSide, kRasterSide));
    QCOMPARE(png, Shown(dialog));
  }

  // With the coast data installed the scale bar stands in every view of
  // the background, a view without any line too; never without background.
  void ScaleBarShowsWithTheBackgroundWhereNoLineIs() {
    if (!std::filesystem::exists(std::string(kGshhgFolder) + "/binned_GSHHS_c.nc")) {
      QSKIP("gmt-gshhg-low is not installed");
    }
    ZIvozarivAde dialog(platform_);
    dialog.SetBackgroundMode("coast");
    // The middle of the Pacific at the closest zoom: no line at all.
    dialog.originLat = 0;
    dialog.originLon = -60000;
    dialog.zoomIndex = 0;
    dialog.RenderView();
    const QImage sea = Shown(dialog);
    const int barRow = kRasterSide - 1 - 6;
    QVERIFY(IsScaleBar(sea.pixelColor(10, barRow)));
    dialog.SetBackgroundMode("none");
    const QImage none = Shown(dialog);
    for (int x = 0; x < kRasterSide / 2; ++x)
      QCOMPARE(none.pixelColor(x, barRow), QColor(Qt::white));
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
