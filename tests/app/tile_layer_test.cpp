// The tile layer against a tile server on 127.0.0.1 started by the test,
// whose PNG tiles are each one colour encoding z/x/y, and against an
// MBTiles file holding the same tiles.
#include "app/tile_layer.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QNetworkDiskCache>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <map>

#include "app/user_settings.h"
#include "app/zivozariv_ade.h"
#include "support/mbtiles_fixture.h"
#include "support/scratch_working_dir.h"
#include "support/scripted_platform.h"
#include "support/tile_server.h"

namespace roamgrid {
namespace {

using testing::TileColour;
using testing::TilePng;
using testing::TileServer;

// The fractional tile position of a place by the usual slippy-map formula.
QPointF TilePosition(double lat, double lon, int z) {
  const double n = std::ldexp(1.0, z), rad = lat * M_PI / 180;
  return {(lon + 180) / 360 * n, (1 - std::log(std::tan(rad) + 1 / std::cos(rad)) / M_PI) / 2 * n};
}

// Whether a position lies at least `pixels` tile pixels inside its tile, so
// that a filter that small blends nothing from the next tile.
bool InsideTile(QPointF position, double pixels) {
  const auto inside = [&](double at) {
    const double within = (at - std::floor(at)) * 256;
    return within >= pixels && 256 - within >= pixels;
  };
  return inside(position.x()) && inside(position.y());
}

bool Complete(const QImage& image, int firstRow = 0) {
  for (int y = firstRow; y < image.height(); y += 7) {
    for (int x = 0; x < image.width(); x += 7) {
      if (qAlpha(image.pixel(x, y)) != 255) return false;
    }
  }
  return true;
}

}  // namespace

class TileLayerTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    cacheHome_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CACHE_HOME", cacheHome_->path().toUtf8());
    qputenv("XDG_CONFIG_HOME", cacheHome_->filePath("config").toUtf8());
  }

  void ShowsTheTileUnderEachPixelAndKeepsItForTheNextVisit_data() {
    QTest::addColumn<int>("lat");
    QTest::addColumn<int>("lon");
    QTest::addColumn<int>("zoomIndex");
    QTest::addColumn<int>("tileZoom");
    // Tiles are never shrunk below 0.7 down the view (by cos(latitude)).
    QTest::newRow("Tokyo 0.05 deg") << 14260 << 55900 << 1 << 13;
    QTest::newRow("Tokyo 3.2 deg") << 13620 << 55260 << 7 << 7;
    QTest::newRow("Svalbard 0.8 deg") << 31200 << 6240 << 5 << 7;
    QTest::newRow("beyond 85.05 N") << 33600 << -400 << 7 << 4;
  }
  void ShowsTheTileUnderEachPixelAndKeepsItForTheNextVisit() {
    QFETCH(int, lat);
    QFETCH(int, lon);
    QFETCH(int, zoomIndex);
    QFETCH(int, tileZoom);
    TileServer server;
    auto layer = std::make_unique<TileLayer>();
    QVERIFY(layer->SetSource(server.Template(), "test tiles"));
    layer->SetView(lat, lon, zoomIndex);
    const double span = kZoomSpans[zoomIndex];
    const double northRow =
        std::min(447.0, std::floor((kMercatorMaxLat * 400 - lat) / span * 448 - 0.5));
    const int firstRow = 447 - int(northRow);  // image row of the northernmost row with tiles
    QTRY_VERIFY(Complete(layer->image(), firstRow));
    const QImage picture = layer->image();
    for (int row = 3; row < 448; row += 37) {
      for (int column = 5; column < 448; column += 41) {
        const double pixelLat = (lat + (row + 0.5) * span / 448) / 400;
        const double pixelLon = (lon + (column + 0.5) * span / 448) / 400;
        const QRgb shown = picture.pixel(column, 447 - row);
        if (pixelLat > kMercatorMaxLat) {
          QCOMPARE(qAlpha(shown), 0);  // nothing, not stretched tiles
          continue;
        }
        // Each tile is one colour: a pixel away from a tile's edge shows it
        // exactly, however it is filtered.
        const QPointF at = TilePosition(pixelLat, pixelLon, tileZoom);
        if (!InsideTile(at, 1.5)) continue;
        QCOMPARE(shown, TileColour(tileZoom, int(at.x()), int(at.y())));
      }
    }
    for (const QByteArray& head : server.requests) {
      QVERIFY2(head.contains("\r\nUser-Agent: Roamgrid/" ROAMGRID_VERSION "\r\n"), head);
      QVERIFY2(!head.toLower().contains("no-cache"), head);
    }
    // The server allowed 60 s; the disk cache keeps tiles a week. A new
    // layer (a new start) shows the same picture at once, asking nothing.
    const qsizetype asked = server.requests.size();
    layer = std::make_unique<TileLayer>();
    QVERIFY(layer->SetSource(server.Template(), "test tiles"));
    layer->SetView(lat, lon, zoomIndex);
    QCOMPARE(layer->image(), picture);
    QTest::qWait(100);
    QCOMPARE(server.requests.size(), asked);

    // Past its keep date, a tile is still shown at once and is revalidated.
    const QList<QByteArray> first = server.requests.front().split(' ');
    const QUrl url(server.Template().section('/', 0, 2) + QString::fromLatin1(first[1]));
    {
      QNetworkDiskCache plain;  // without the layer's 7-day floor
      plain.setCacheDirectory(TileLayer::CacheFolder());
      QNetworkCacheMetaData metaData = plain.metaData(url);
      QVERIFY(metaData.isValid());
      metaData.setExpirationDate(QDateTime::currentDateTimeUtc().addSecs(-1));
      plain.updateMetaData(metaData);
    }
    layer = std::make_unique<TileLayer>();
    QVERIFY(layer->SetSource(server.Template(), "test tiles"));
    layer->SetView(lat, lon, zoomIndex);
    QCOMPARE(layer->image(), picture);
    QTRY_COMPARE(server.requests.size(), asked + 1);
    QVERIFY(server.requests.back().contains("\r\nIf-None-Match: \"1\"\r\n"));
    QTRY_VERIFY(!layer->busy());
    QCOMPARE(layer->image(), picture);
    server.requests.pop_back();

    // An MBTiles file with the tiles the server sent gives the same picture.
    std::map<MapTileKey, std::vector<uint8_t>> tiles;
    for (const QByteArray& head : server.requests) {
      const QList<QByteArray> path = head.split(' ')[1].split('/');
      const MapTileKey key{path[1].toInt(), path[2].toInt(), path[3].split('.')[0].toInt()};
      tiles[key] = TilePng(key.zoom, key.x, key.y);
    }
    const QString file = cacheHome_->filePath("view.mbtiles");
    QVERIFY(testing::WriteMbtiles(file.toStdString(), tiles));
    TileLayer offline;
    QVERIFY(offline.SetSource(file, ""));
    offline.SetView(lat, lon, zoomIndex);
    QCOMPARE(offline.image(), picture);
  }

  void FailuresShowOneStatusAndAreNotRetried_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("status");
    QTest::newRow("403") << int(TileServer::Answer::k403)
                         << "tiles: access blocked by server (403)";
    QTest::newRow("429") << int(TileServer::Answer::k429)
                         << "tiles: too many requests, pausing (429)";
    QTest::newRow("stalled") << int(TileServer::Answer::kStall)
                             << "tiles: no answer from server (time-out)";
  }
  void FailuresShowOneStatusAndAreNotRetried() {
    QFETCH(int, answer);
    QFETCH(QString, status);
    TileServer server;
    server.answer = TileServer::Answer(answer);
    TileLayer layer;
    layer.SetTimeoutMs(300);
    QVERIFY(layer.SetSource(server.Template(), ""));
    int repaints = 0;
    connect(&layer, &TileLayer::tilesArrived, [&] { ++repaints; });
    layer.SetView(14260, 55900, 1);
    QTRY_COMPARE(layer.status(), status);
    QVERIFY(repaints > 0);
    QTRY_COMPARE(server.requests.size(), 2);  // two at a time, then the host waits
    // Later views ask nothing while the host is blocked or paused.
    layer.SetView(14280, 55900, 1);
    layer.SetView(14300, 55900, 1);
    QTest::qWait(600);
    QCOMPARE(server.requests.size(), 2);
    QCOMPARE(layer.status(), status);
  }

  void AWebMercatorViewGetsItsTilesAtNativeSize() {
    TileServer server;
    TileLayer layer;
    QVERIFY(layer.SetSource(server.Template(), "test tiles"));
    int repaints = 0;
    connect(&layer, &TileLayer::tilesArrived, [&] { ++repaints; });
    // Tokyo at zoom 12.5 in a 700 x 500 window: zoom 13 tiles at 0.71.
    const MercatorView view{MercatorWorldX(139.76), MercatorWorldY(35.68), 12.5, 700, 500};
    const MercatorTilePlan plan = layer.SetMercatorView(view);
    QCOMPARE(plan.zoom, 13);
    QVERIFY(!plan.keys.empty());
    QVERIFY(layer.TileImage(plan.keys.front()).isNull());  // nothing at hand yet
    QTRY_VERIFY(std::all_of(plan.keys.begin(), plan.keys.end(),
                            [&](const MapTileKey& key) { return !layer.TileImage(key).isNull(); }));
    QVERIFY(repaints > 0);
    // Asked nearest the centre first, each tile once.
    QCOMPARE(server.requests.size(), qsizetype(plan.keys.size()));
    QVERIFY(server.requests.front().startsWith(QStringLiteral("GET /13/%1/%2.png")
                                                   .arg(plan.keys.front().x)
                                                   .arg(plan.keys.front().y)
                                                   .toLatin1()));
    const QImage tile = layer.TileImage(plan.keys.back());
    QCOMPARE(tile.size(), QSize(256, 256));
    QCOMPARE(tile.pixel(100, 100), TileColour(13, plan.keys.back().x, plan.keys.back().y));

    QImage screen(view.width, view.height, QImage::Format_ARGB32_Premultiplied);
    screen.fill(Qt::transparent);
    {
      QPainter painter(&screen);
      QVERIFY(layer.PaintMercatorTiles(painter));
    }
    for (const PlacedTile& placed : plan.placed) {
      const QPoint middle((placed.left + placed.right) / 2, (placed.top + placed.bottom) / 2);
      if (!screen.rect().contains(middle)) continue;
      QCOMPARE(screen.pixel(middle), TileColour(13, placed.key.x, placed.key.y));
    }

    // Zoomed in by two: until its own tiles come, a tile shows the part of
    // its zoom 13 parent that covers it.
    server.answer = TileServer::Answer::kStall;
    const MercatorTilePlan closer =
        layer.SetMercatorView({view.centerX, view.centerY, 15, 700, 500});
    QCOMPARE(closer.zoom, 15);
    QRectF part;
    const MapTileKey child = closer.keys.front();
    const QImage standIn = layer.TileImageOrCoarser(child, &part);
    QVERIFY(layer.TileImage(child).isNull());
    QCOMPARE(standIn.pixel(10, 10), TileColour(13, child.x / 4, child.y / 4));
    QCOMPARE(part, QRectF(child.x % 4 * 64, child.y % 4 * 64, 64, 64));
    layer.ClearMercatorView();
    QVERIFY(layer.mercatorPlan().keys.empty());
  }

  void HostileServersCannotHoldTheLayer_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("limitMs");  // the time limit per request
    QTest::addColumn<QString>("status");
    const QString tooLarge = "tiles: a tile larger than 4 MiB was refused";
    QTest::newRow("200 MB announced") << int(TileServer::Answer::kHugeBody) << 30000 << tooLarge;
    QTest::newRow("endless chunks") << int(TileServer::Answer::kEndless) << 30000 << tooLarge;
    QTest::newRow("a byte at a time")
        << int(TileServer::Answer::kTrickle) << 1000 << "tiles: server too slow, request stopped";
    QTest::newRow("redirect loop")
        << int(TileServer::Answer::kLoop) << 30000 << "tiles: redirect loop, pausing";
  }
  void HostileServersCannotHoldTheLayer() {
    QFETCH(int, answer);
    QFETCH(int, limitMs);
    QFETCH(QString, status);
    TileServer server;
    server.answer = TileServer::Answer(answer);
    TileLayer layer;
    layer.SetTimeoutMs(300);  // the trickle never goes 300 ms without a byte
    layer.SetRequestTimeLimitMs(limitMs);
    QVERIFY(layer.SetSource(server.Template(), ""));
    layer.SetView(14260, 55900, 1);
    QTRY_COMPARE_WITH_TIMEOUT(layer.status(), status, 20000);
    QTest::qWait(300);
    // The layer hung up: the bodies cost the server no more than the cap
    // and what the system buffers between two sockets.
    if (server.answer != TileServer::Answer::kLoop) {
      QTRY_COMPARE(server.closedBeforeTheEnd, 2);
      QVERIFY2(server.bodyBytesSent < (24 << 20), QByteArray::number(server.bodyBytesSent));
    }
    // No loop: each of the two requests under way followed at most one
    // redirect back to where it began, and then the server was paused.
    const qsizetype asked = answer == int(TileServer::Answer::kLoop) ? 4 : 2;
    QCOMPARE(server.requests.size(), asked);
    // The server is paused: a new view asks nothing of it.
    layer.SetView(14280, 55900, 1);
    QTest::qWait(300);
    QCOMPARE(server.requests.size(), asked);
    QCOMPARE(layer.status(), status);
  }

  void AServerThatMovedIsAskedAtItsNewAddressFromThenOn() {
    TileServer moved, old;
    old.answer = TileServer::Answer::kMoved;
    old.movedTo = QStringLiteral("http://127.0.0.1:%1").arg(moved.serverPort());
    auto layer = std::make_unique<TileLayer>();
    QVERIFY(layer->SetSource(old.Template(), ""));
    layer->SetView(14260, 55900, 1);
    QTRY_VERIFY(Complete(layer->image()));
    const QImage picture = layer->image();
    // Only the two requests sent before the first answer went to the old
    // address.
    QCOMPARE(old.requests.size(), 2);
    // The next run shows the view from the cache, and a new view asks only
    // the new address.
    layer = std::make_unique<TileLayer>();
    QVERIFY(layer->SetSource(old.Template(), ""));
    layer->SetView(14260, 55900, 1);
    QCOMPARE(layer->image(), picture);
    const qsizetype movedAsked = moved.requests.size();
    layer->SetView(14300, 55900, 1);
    QTRY_VERIFY(Complete(layer->image()));
    QVERIFY(moved.requests.size() > movedAsked);
    QCOMPARE(old.requests.size(), 2);
  }

  void AnMbtilesFileThatDoesNotAnswerIsSwitchedOff() {
    // Saved as the source, a file whose `tiles` view never ends: the
    // dialog opens all the same and says why there are no tiles.
    const QString endless = cacheHome_->filePath("endless.mbtiles");
    QVERIFY(testing::WriteEndlessViewMbtiles(endless.toStdString()));
    UserSettings settings;
    settings.background = "tiles";
    settings.tileSource = endless;
    QVERIFY(SaveUserSettings(settings));
    {
      testing::ScratchWorkingDir store;
      QVERIFY(store.Enter());
      testing::ScriptedPlatform platform;
      ZIvozarivAde dialog(platform);
      QCOMPARE(dialog.tileLayer().status(),
               QString("tiles: the MBTiles file does not answer in time"));
      store.Leave();
    }
    // A file that answers at first but not for the tiles of a view is
    // switched off when they are read.
    std::map<MapTileKey, std::vector<uint8_t>> tiles;
    for (const MapTileKey& key : MapViewToTiles(14260, 55900, 1, 13).tiles) {
      tiles[key] = TilePng(key.zoom, key.x, key.y);
    }
    tiles[{2, 3, 1}] = TilePng(2, 3, 1);
    const std::string path = cacheHome_->filePath("late.mbtiles").toStdString();
    QVERIFY(testing::WriteMbtiles(path, tiles, {{"minzoom", "2"}, {"maxzoom", "14"}}));
    QVERIFY(testing::ExecSql(path,
                             "ALTER TABLE tiles RENAME TO stored;"
                             "CREATE VIEW tiles AS SELECT zoom_level, tile_column,"
                             " tile_row, CASE WHEN zoom_level < 3 THEN tile_data ELSE " +
                                 std::string(testing::kEndlessQuery) +
                                 " END AS tile_data FROM stored;"));
    TileLayer layer;
    QVERIFY(layer.SetSource(QString::fromStdString(path), ""));
    layer.SetView(14260, 55900, 1);
    QCOMPARE(layer.status(),
             QString("tiles: the MBTiles file does not answer in time; tiles off for this run"));
    QVERIFY(!layer.covers());
    QCOMPARE(qAlpha(layer.image().pixel(224, 224)), 0);
    QVERIFY(layer.SetMercatorView({0.5, 0.5, 2, 600, 400}).zoom >= 2);
    QVERIFY(layer.TileImage({2, 3, 1}).isNull());  // read no more
  }

  void TilesLieUnderTheMarksAndNavigationNeverWaits() {
    testing::ScratchWorkingDir store;
    QVERIFY(store.Enter());
    TileServer server;
    testing::ScriptedPlatform platform;
    ZIvozarivAde dialog(platform);
    dialog.SetTileSource({server.Template().toStdString(), "test tiles"});
    dialog.SetBackgroundMode("tiles");
    QTRY_VERIFY(Complete(dialog.tileLayer().image()));
    dialog.viewWindow.raster()[100 * kRasterSide + 100] = 1;  // window pixel (101, 348)
    const QImage shown = dialog.viewWindow.grab().toImage();
    QCOMPARE(shown.pixel(101, 348), qRgb(255, 0, 0));
    QCOMPARE(shown.pixel(102, 348), dialog.tileLayer().image().pixel(101, 347));

    // A server that never answers: the commands go on at once.
    server.answer = TileServer::Answer::kStall;
    dialog.tileLayer().SetTimeoutMs(300);
    const std::string centre = dialog.centerLatText;
    qobject_cast<QPushButton*>(dialog.GetDlgItem(1001))->click();
    QVERIFY(dialog.centerLatText != centre);
    QTRY_COMPARE(dialog.tileLayer().status(), QString("tiles: no answer from server (time-out)"));

    // "Tile source..." with an empty source: the coast lines, remembered.
    platform.QueueTileSource(TileSourceChoice{"", ""});
    for (QAction* action : dialog.mapMenu()->actions()) {
      if (action->text() == "Tile source...") action->trigger();
    }
    QCOMPARE(dialog.backgroundMode(), std::string("coast"));
    QCOMPARE(LoadUserSettings().background, QString("coast"));
    QVERIFY(platform.AllAnswersUsed());
    store.Leave();
  }

 private:
  std::unique_ptr<QTemporaryDir> cacheHome_;
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::TileLayerTest)
#include "tile_layer_test.moc"
