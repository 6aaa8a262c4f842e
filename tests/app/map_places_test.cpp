// The Map window's Places layer, offscreen, with the outlines of gmt-dcw:
// the visited countries tinted, the place under the pointer in the status
// line, the list of places by share whose click shows one whole, and one
// line when the outlines are missing.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QTreeWidget>

#include "app/map_window.h"
#include "app/places_panel.h"
#include "geo/dcw_regions.h"
#include "support/scratch_working_dir.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

constexpr double kCell = 1.0 / 17920;

// Marks a row of `cells` cells eastward from (lat, lon).
void MarkRow(double lat, double lon, int cells) {
  TrackRecorder recorder;
  for (int col = 0; col < cells; ++col) AddPoint(recorder, lat, lon + (col + 0.5) * kCell);
  ReleaseRecorderTile(recorder);
}

void MovePointer(QWidget* area, QPointF at) {
  QMouseEvent move(QEvent::MouseMove, at, area->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(area, &move);
}

QPointF OnScreen(const MercatorView& view, double lat, double lon) {
  return {view.ScreenX(NearestWrap(MercatorWorldX(lon), view.centerX)),
          view.ScreenY(MercatorWorldY(lat))};
}

}  // namespace

class MapPlacesTest : public QObject {
  Q_OBJECT

 private:
  testing::ScratchWorkingDir workingDir_;

  static bool Installed() {
    return QFile::exists(QString::fromStdString(std::string(kDcwFolder) + "/" + kDcwOutlinesFile));
  }

 private slots:
  void init() {
    QVERIFY(workingDir_.Enter());
    qputenv("XDG_CONFIG_HOME", (QDir::currentPath() + "/config").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (QDir::currentPath() + "/cache").toLocal8Bit());
    qunsetenv("ROAMGRID_DCW_DIR");
  }
  void cleanup() {
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CACHE_HOME");
    qunsetenv("ROAMGRID_DCW_DIR");
    workingDir_.Leave();
  }

  void VisitedCountriesAreTintedNamedAndListedByShare() {
    if (!Installed()) QSKIP("gmt-dcw is not installed");
    MarkRow(47.40, 8.50, 400);  // Zurich
    MarkRow(48.85, 2.35, 40);   // Paris: a far smaller share of a larger country
    MapWindow map;
    map.resize(900, 600);
    map.Open(MapCentre{47.0, 5.0, 6});
    QVERIFY(QTest::qWaitForWindowExposed(&map));
    QVERIFY(!map.placesPanel()->isVisible());

    map.placesAction()->trigger();
    QVERIFY(map.placesPanel()->isVisible());
    QTreeWidget* list = map.placesPanel()->list();
    QCOMPARE(list->topLevelItemCount(), 2);
    QVERIFY2(list->topLevelItem(0)->text(0).startsWith(QStringLiteral("Switzerland  ")),
             qPrintable(list->topLevelItem(0)->text(0)));
    QVERIFY(list->topLevelItem(1)->text(0).startsWith(QStringLiteral("France  ")));
    // France is divided into no states in the outlines.
    QCOMPARE(list->topLevelItem(1)->childCount(), 0);

    // Tinted inside Switzerland away from the marks, not in Germany.
    map.SetView({47.0, 8.0, 7});
    QTest::qWait(MapWindow::kRedrawRestMs * 2);  // the layers drawn for this view
    const QImage shown = map.mapArea()->grab().toImage();
    const QPointF bern = OnScreen(map.view(), 46.95, 7.45);
    const QPointF stuttgart = OnScreen(map.view(), 48.78, 9.18);
    QVERIFY(shown.pixelColor(bern.toPoint()) != QColor(Qt::white));
    QCOMPARE(shown.pixelColor(stuttgart.toPoint()), QColor(Qt::white));

    MovePointer(map.mapArea(), bern);
    QVERIFY2(map.statusText().contains(QStringLiteral("Switzerland")),
             qPrintable(map.statusText()));
    MovePointer(map.mapArea(), stuttgart);
    QVERIFY(map.statusText().contains(QStringLiteral("Germany")));

    // A click on France shows France whole.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(list->topLevelItem(1)).center());
    const MercatorView& view = map.view();
    for (const auto& [lat, lon] : {std::pair{51.0, 2.5}, {42.5, 3.0}, {48.5, -4.7}, {49.0, 8.2}}) {
      const QPointF at = OnScreen(view, lat, lon);
      QVERIFY2(at.x() >= 0 && at.x() < view.width && at.y() >= 0 && at.y() < view.height,
               qPrintable(QStringLiteral("%1,%2").arg(lat).arg(lon)));
    }
    QVERIFY(view.zoom > 3 && view.zoom < 7);

    // Switched off, the layer and its list are gone; the choice is kept.
    map.placesAction()->trigger();
    QVERIFY(!map.placesPanel()->isVisible());
    MapWindow again;
    again.resize(900, 600);
    again.Open(MapCentre{47.0, 5.0, 6});
    QVERIFY(!again.placesAction()->isChecked());
  }

  void MissingOutlinesAreOneLineInTheListAndTheStatus() {
    MarkRow(47.40, 8.50, 10);
    QVERIFY(QDir().mkpath(QStringLiteral("no-dcw")));
    qputenv("ROAMGRID_DCW_DIR", (QDir::currentPath() + "/no-dcw").toLocal8Bit());
    MapWindow map;
    map.resize(600, 400);
    map.Open(MapCentre{47.0, 8.0, 6});
    QVERIFY(QTest::qWaitForWindowExposed(&map));
    map.placesAction()->trigger();
    QCOMPARE(map.placesPanel()->list()->topLevelItemCount(), 0);
    auto* note = map.placesPanel()->findChild<QLabel*>(QStringLiteral("placesNote"));
    QVERIFY(note && note->isVisible());
    QVERIFY2(note->text().startsWith(QStringLiteral("install gmt-dcw")), qPrintable(note->text()));
    QVERIFY(map.statusText().contains(QStringLiteral("install gmt-dcw")));
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::MapPlacesTest)
#include "map_places_test.moc"
