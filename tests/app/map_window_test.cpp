// The Map window, offscreen: the map moves with a drag, the wheel and a
// double-click zoom about the pointer, the keys pan and zoom, Home and "Fit
// to marks" show every mark, "Show in main view" moves the main dialog's
// view, the window remembers its view, and marks saved meanwhile appear.
#include "app/map_window.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>
#include <cmath>

#include "app/tile_layer.h"
#include "app/user_settings.h"
#include "app/zivozariv_ade.h"
#include "support/mbtiles_fixture.h"
#include "support/red_pixels.h"
#include "support/scratch_working_dir.h"
#include "support/scripted_platform.h"
#include "support/tile_server.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

constexpr double kCell = 1.0 / 17920;

// Marks a block of side x side cells from (lat, lon) north-east.
void MarkBlock(double lat, double lon, int side) {
  TrackRecorder recorder;
  for (int row = 0; row < side; ++row) {
    for (int col = 0; col < side; ++col) {
      AddPoint(recorder, lat + (row + 0.5) * kCell, lon + (col + 0.5) * kCell);
    }
  }
  ReleaseRecorderTile(recorder);
}

QPointF OnScreen(const MercatorView& view, double lat, double lon) {
  return {view.ScreenX(NearestWrap(MercatorWorldX(lon), view.centerX)),
          view.ScreenY(MercatorWorldY(lat))};
}

// The mean position of the red pixels of the map area.
std::optional<QPointF> RedCentre(MapWindow& map) {
  const QList<QPoint> red = testing::RedPixels(*map.mapArea());
  if (red.isEmpty()) return std::nullopt;
  QPointF sum;
  for (const QPoint& p : red) sum += p;
  return sum / red.size();
}

bool NearRed(MapWindow& map, QPointF at, int reach) {
  for (const QPoint& p : testing::RedPixels(*map.mapArea())) {
    if (std::abs(p.x() - at.x()) <= reach && std::abs(p.y() - at.y()) <= reach) return true;
  }
  return false;
}

void SendMouse(QWidget* target, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
  QMouseEvent event(type, at, target->mapToGlobal(at), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

void SendWheel(QWidget* target, QPointF at, int delta) {
  QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &wheel);
}

}  // namespace

class MapWindowTest : public QObject {
  Q_OBJECT

 private:
  testing::ScratchWorkingDir workingDir_;
  testing::ScriptedPlatform platform_;

  // A map window of a known size at `centre`, shown.
  static void OpenAt(MapWindow& map, const MapCentre& centre) {
    map.resize(800, 600);
    map.Open(centre);
    QVERIFY(QTest::qWaitForWindowExposed(&map));
    map.SetView(centre);  // the map area has its final size now
  }

 private slots:
  void init() {
    QVERIFY(workingDir_.Enter());
    platform_ = testing::ScriptedPlatform();
    qputenv("XDG_CONFIG_HOME", (QDir::currentPath() + "/config").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (QDir::currentPath() + "/cache").toLocal8Bit());
  }
  void cleanup() {
    QCOMPARE(platform_.unscripted, 0);
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CACHE_HOME");
    workingDir_.Leave();
  }

  void DragMovesTheMapWithThePointer() {
    MarkBlock(35.68, 139.76, 12);
    MapWindow map;
    OpenAt(map, {35.68, 139.76, 15});
    QWidget* area = map.mapArea();
    const std::optional<QPointF> before = RedCentre(map);
    QVERIFY(before);
    const QPointF from(300, 250);
    const double worldX = map.view().WorldX(from.x()), worldY = map.view().WorldY(from.y());
    // Pressed, moved in three steps with the button held, released.
    SendMouse(area, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (const QPointF step : {QPointF(20, 5), QPointF(60, 20), QPointF(100, 40)}) {
      SendMouse(area, QEvent::MouseMove, from + step, Qt::NoButton, Qt::LeftButton);
    }
    SendMouse(area, QEvent::MouseButtonRelease, from + QPointF(100, 40), Qt::LeftButton,
              Qt::NoButton);
    QCOMPARE(map.view().ScreenX(worldX), from.x() + 100);
    QCOMPARE(map.view().ScreenY(worldY), from.y() + 40);
    const std::optional<QPointF> after = RedCentre(map);
    QVERIFY(after);
    QVERIFY2(std::hypot(after->x() - before->x() - 100, after->y() - before->y() - 40) < 1.0,
             qPrintable(QStringLiteral("moved by %1, %2")
                            .arg(after->x() - before->x())
                            .arg(after->y() - before->y())));
    // Moving without a button pressed pans nothing.
    const MercatorView still = map.view();
    SendMouse(area, QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::NoButton);
    QCOMPARE(map.view().centerX, still.centerX);
  }

  void WheelAndDoubleClickZoomAboutThePointer_data() {
    QTest::addColumn<double>("startZoom");
    QTest::addColumn<QList<int>>("deltas");  // wheel; 0 for a double-click
    QTest::addColumn<double>("endZoom");
    QTest::newRow("one notch in: half a zoom") << 12.0 << QList<int>{120} << 12.5;
    QTest::newRow("one notch out from between steps") << 12.3 << QList<int>{-120} << 12.0;
    QTest::newRow("quick notches add up") << 12.0 << QList<int>{120, 120, 120} << 13.5;
    QTest::newRow("fine wheel: half notches") << 12.0 << QList<int>{60, 60, 60} << 12.5;
    QTest::newRow("out at the world view stays") << 0.0 << QList<int>{-120} << 0.0;
    QTest::newRow("double-click: the next whole zoom") << 12.3 << QList<int>{0} << 13.0;
  }
  void WheelAndDoubleClickZoomAboutThePointer() {
    QFETCH(double, startZoom);
    QFETCH(QList<int>, deltas);
    QFETCH(double, endZoom);
    MapWindow map;
    OpenAt(map, {35.68, 139.76, startZoom});
    QWidget* area = map.mapArea();
    const QPointF at(610, 123);
    const double worldX = map.view().WorldX(at.x()), worldY = map.view().WorldY(at.y());
    for (int delta : deltas) {
      if (delta == 0) {
        QTest::mouseDClick(area, Qt::LeftButton, Qt::NoModifier, at.toPoint());
      } else {
        SendWheel(area, at, delta);
      }
    }
    // Smooth: the zoom moves there over a few frames.
    QTRY_VERIFY_WITH_TIMEOUT(!map.zooming(), 2000);
    QCOMPARE(map.view().zoom, endZoom);
    if (endZoom > 0) {  // at the world view the clamp moves the map
      QVERIFY(std::fabs(map.view().ScreenX(worldX) - at.x()) < 1e-6);
      QVERIFY(std::fabs(map.view().ScreenY(worldY) - at.y()) < 1e-6);
    }
  }

  void KeysPanAndZoomAndEscapeKeepsTheWindow() {
    MapWindow map;
    OpenAt(map, {35.68, 139.76, 10});
    QWidget* area = map.mapArea();
    const double width = area->width(), height = area->height();
    struct Step {
      Qt::Key key;
      double dx, dy, zoom;  // expected move of the map (pixels) and zoom after
    } steps[] = {
        {Qt::Key_Right, -0.2 * width, 0, 10},
        {Qt::Key_Left, 0.2 * width, 0, 10},
        {Qt::Key_Up, 0, 0.2 * height, 10},
        {Qt::Key_Down, 0, -0.2 * height, 10},
        {Qt::Key_Plus, 0, 0, 11},
        {Qt::Key_Minus, 0, 0, 10},
        {Qt::Key_Escape, 0, 0, 10},
    };
    for (const Step& step : steps) {
      const MercatorView before = map.view();
      const QPointF corner(0, 0);
      const double worldX = before.WorldX(corner.x()), worldY = before.WorldY(corner.y());
      QTest::keyClick(area, step.key);
      QTRY_VERIFY_WITH_TIMEOUT(!map.zooming(), 2000);
      QCOMPARE(map.view().zoom, step.zoom);
      if (step.zoom == before.zoom) {
        QVERIFY(std::fabs(map.view().ScreenX(worldX) - step.dx) < 1e-6);
        QVERIFY(std::fabs(map.view().ScreenY(worldY) - step.dy) < 1e-6);
      }
    }
    QVERIFY(map.isVisible());
  }

  void HomeAndFitShowMarksOnFourContinents() {
    struct Place {
      double lat, lon;
    } places[] = {{35.68, 139.76}, {51.50, -0.12}, {37.77, -122.42}, {-33.87, 151.21}};
    for (const Place& place : places) MarkBlock(place.lat, place.lon, 3);
    MapWindow map;
    map.resize(900, 600);
    map.Open();  // the first time: all marks
    QVERIFY(QTest::qWaitForWindowExposed(&map));
    const auto allShown = [&] {
      for (const Place& place : places) {
        const QPointF at = OnScreen(map.view(), place.lat, place.lon);
        if (!QRectF(map.mapArea()->rect()).adjusted(10, 10, -10, -10).contains(at)) return false;
        if (!NearRed(map, at, 3)) return false;
      }
      return true;
    };
    map.FitToMarks();  // the map area has its final size now
    QVERIFY(allShown());
    // Away, then back with Home and with the button.
    for (QAction* fit : {static_cast<QAction*>(nullptr), map.fitAction()}) {
      map.SetView({0, 10, 9});
      QVERIFY(!allShown());
      if (fit) {
        fit->trigger();
      } else {
        QTest::keyClick(map.mapArea(), Qt::Key_Home);
      }
      QVERIFY(allShown());
    }
  }

  void ShowInMainViewMovesTheMainDialog() {
    ZIvozarivAde dialog(platform_);
    dialog.show();
    MapWindow* map = dialog.OpenMapWindow(MapCentre{-33.87, 151.21, 11});
    QVERIFY(map && QTest::qWaitForWindowExposed(map));
    map->SetView({-33.87, 151.21, 11});
    QWidget* area = map->mapArea();
    const QPoint at(200, 150);
    const std::optional<MapCentre> point = PointAt(map->view(), at.x(), at.y());
    QVERIFY(point);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, area->mapToGlobal(at));
    QApplication::sendEvent(area, &menu);
    QVERIFY(map->contextMenu()->actions().contains(map->showInMainViewAction()));
    QVERIFY(map->showInMainViewAction()->isEnabled());
    map->showInMainViewAction()->trigger();
    map->contextMenu()->hide();
    // The Jump rules at zoom index 1: the tile boundary toward zero from the
    // point minus half a view.
    QCOMPARE(dialog.originLat, int32_t(std::trunc((point->lat - 0.025) * 20.0)) * 20);
    QCOMPARE(dialog.originLon, int32_t(std::trunc((point->lon - 0.025) * 20.0)) * 20);
    QCOMPARE(dialog.zoomIndex, 1);
    // North of the Mercator square there is no point to show.
    map->SetView({80, 0, 1});
    QContextMenuEvent beyond(QContextMenuEvent::Mouse, QPoint(5, 5),
                             area->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(area, &beyond);
    QVERIFY(!map->showInMainViewAction()->isEnabled());
    map->contextMenu()->hide();
  }

  void LargeMapOpensOnceAndOutlinesTheMainView() {
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.mapMenu()->actions().contains(dialog.largeMapAction()));
    QCOMPARE(dialog.largeMapAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
    QVERIFY(!dialog.mapWindow());
    dialog.largeMapAction()->trigger();
    MapWindow* map = dialog.mapWindow();
    QVERIFY(map && QTest::qWaitForWindowExposed(map));
    QCOMPARE(map->windowTitle(), QStringLiteral("Roamgrid Map"));
    dialog.largeMapAction()->trigger();
    QCOMPARE(dialog.findChildren<MapWindow*>().size(), 1);
    // The map's menu chooses the one background of both views, and reaches
    // the dialog's Import.
    QCOMPARE(map->backgroundMode(), dialog.backgroundMode());
    for (QAction* action : map->contextMenu()->actions()) {
      if (action->text() == "No background") action->trigger();
    }
    QCOMPARE(dialog.backgroundMode(), std::string("none"));
    QCOMPARE(map->backgroundMode(), std::string("none"));
    QCOMPARE(LoadUserSettings().background, QStringLiteral("none"));
    dialog.SetBackgroundMode("coast");
    QCOMPARE(map->backgroundMode(), std::string("coast"));
    platform_.QueueLogFiles({});  // Cancel
    for (QAction* action : map->contextMenu()->actions()) {
      if (action->text() == "Import…") action->trigger();
    }
    QCOMPARE(platform_.logFileQuestions, 1);
    // The home view (one tile at 35.65 N 139.75 E) outlined in blue around
    // its place on the map.
    map->SetView({35.675, 139.775, 13});
    const QImage image = map->mapArea()->grab().toImage();
    const QPointF centre = OnScreen(map->view(), 35.675, 139.775);
    const double half = 0.025 / 360 * map->view().Scale();
    int blue = 0;
    for (int dx = -2; dx <= 2; ++dx) {
      const QColor colour = image.pixelColor(int(centre.x() - half) + dx, int(centre.y()));
      blue += colour.blue() > 150 && colour.red() < 100;
    }
    QVERIFY(blue > 0);
  }

  void TilesShowAtTheirNativeSizeBeneathTheMarks() {
    // Zoom 5 tiles round Japan, each one colour that names it.
    std::map<MapTileKey, std::vector<uint8_t>> tiles;
    for (int x = 26; x <= 30; ++x) {
      for (int y = 10; y <= 15; ++y) tiles[{5, x, y}] = testing::TilePng(5, x, y);
    }
    QVERIFY(testing::WriteMbtiles("japan.mbtiles", tiles));
    // A mark just south-east of the corner of tiles 27..28 x 12..13.
    const double cornerLon = 28.0 / 32 * 360 - 180, cornerLat = LatitudeOfWorldY(13.0 / 32);
    MarkBlock(cornerLat - 0.3, cornerLon + 0.3, 2);
    TileLayer layer;
    QVERIFY(layer.SetSource("japan.mbtiles", "Test tiles"));
    MapWindow map(nullptr, &layer);
    map.SetBackgroundMode("tiles");
    OpenAt(map, {cornerLat, cornerLon, 5});
    const QImage shown = map.mapArea()->grab().toImage();
    const QPointF corner = OnScreen(map.view(), cornerLat, cornerLon);
    const auto colourAt = [&](double dx, double dy) {
      return shown.pixel(int(std::floor(corner.x() + dx)), int(std::floor(corner.y() + dy)));
    };
    QCOMPARE(colourAt(-10, -10), testing::TileColour(5, 27, 12));
    QCOMPARE(colourAt(10, 10), testing::TileColour(5, 28, 13));
    // 256 screen pixels to a tile at a whole zoom.
    QCOMPARE(colourAt(250, 10), testing::TileColour(5, 28, 13));
    QCOMPARE(colourAt(262, 10), testing::TileColour(5, 29, 13));
    QCOMPARE(colourAt(10, 250), testing::TileColour(5, 28, 13));
    QCOMPARE(colourAt(10, 262), testing::TileColour(5, 28, 14));
    // The mark over the tile, red.
    QVERIFY(NearRed(map, OnScreen(map.view(), cornerLat - 0.3, cornerLon + 0.3), 2));
  }

  void TheViewIsRememberedAndNewMarksAppear() {
    {
      MapWindow map;
      OpenAt(map, {48.85, 2.35, 13.5});
      map.SetTileGridLayer(true);
      map.close();
    }
    const UserSettings saved = LoadUserSettings();
    QVERIFY(saved.mapTileGrid);
    QVERIFY(!saved.mapExplorer);
    QVERIFY(!saved.mapGeometry.isEmpty());
    const std::optional<MapCentre> view = ParseMapView(saved.mapView.toStdString());
    QVERIFY(view);
    QVERIFY(std::fabs(view->lat - 48.85) < 1e-5 && std::fabs(view->lon - 2.35) < 1e-5);
    QCOMPARE(view->zoom, 13.5);

    MapWindow map;
    map.Open();
    QVERIFY(QTest::qWaitForWindowExposed(&map));
    QCOMPARE(map.view().zoom, 13.5);
    QVERIFY(std::fabs(CentreOfView(map.view()).lon - 2.35) < 1e-5);
    QVERIFY(!RedCentre(map));
    // A save by any program shows within a second.
    MarkBlock(48.85, 2.35, 10);
    QTRY_VERIFY_WITH_TIMEOUT(RedCentre(map).has_value(), 1000);
    QVERIFY(map.storeRefreshes() >= 1);
    // The remembered tile grid is drawn: grey lines on the white map.
    const QImage shown = map.mapArea()->grab().toImage();
    int grey = 0;
    for (int y = 0; y < shown.height(); ++y) {
      for (int x = 0; x < shown.width(); ++x) {
        const QColor colour = shown.pixelColor(x, y);
        grey += colour.red() == colour.green() && colour.red() == colour.blue() &&
                colour.red() > 100 && colour.red() < 200;
      }
    }
    QVERIFY(grey > 100);
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::MapWindowTest)
#include "map_window_test.moc"
