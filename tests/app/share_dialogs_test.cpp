// The sharing dialogs of the Map window, offscreen: "Export tiles…" writes
// the tiles with its progress bar full, into a folder or an MBTiles file;
// "Export web map…" adds the page; Stop ends an export and leaves an
// MBTiles file as it was; the colour of the marks comes from the settings
// or the colour dialog; "Copy layer URL" follows a running tile server.
#include "app/share_dialogs.h"

#include <QColorDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "app/user_settings.h"
#include "support/scratch_working_dir.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

constexpr double kCell = 1.0 / 17920;

void MarkRide(double lat, double lon, int cells) {
  TrackRecorder recorder;
  for (int i = 0; i < cells; ++i) AddPoint(recorder, lat + i * kCell, lon + 2 * i * kCell);
  ReleaseRecorderTile(recorder);
}

class ShareDialogsTest : public QObject {
  Q_OBJECT

 private:
  testing::ScratchWorkingDir workingDir_;

  static void Choose(ShareExportDialog& dialog, const QString& path, int first, int last) {
    dialog.findChild<QLineEdit*>("path")->setText(path);
    dialog.findChild<QSpinBox*>("zoomFirst")->setValue(first);
    dialog.findChild<QSpinBox*>("zoomLast")->setValue(last);
  }

 private slots:
  void init() {
    QVERIFY(workingDir_.Enter());
    qputenv("XDG_CONFIG_HOME", (QDir::currentPath() + "/config").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (QDir::currentPath() + "/cache").toLocal8Bit());
    MarkRide(35.68, 139.76, 400);
  }
  void cleanup() {
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CACHE_HOME");
    workingDir_.Leave();
  }

  void ExportsTilesAndTheWebMapWithAFullProgressBar() {
    ShareExportDialog tiles(ShareExportDialog::Kind::kTiles, nullptr);
    Choose(tiles, "out", 0, 14);
    QVERIFY(tiles.RunExport());
    auto* bar = tiles.findChild<QProgressBar*>("progress");
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(QFile::exists("out/14/14552/6451.png") || QDir("out/14").exists());
    QVERIFY(QDir("out/0/0").exists());
    QVERIFY(!QFile::exists("out/index.html"));

    ShareExportDialog web(ShareExportDialog::Kind::kWebMap, nullptr);
    Choose(web, "web", 0, 12);
    QVERIFY(web.RunExport());
    QVERIFY(QFile::exists("web/index.html"));
    QVERIFY(QFile::exists("web/12"));

    // A web map is a folder; zooms the wrong way round are refused.
    Choose(web, "web.mbtiles", 0, 12);
    QVERIFY(!web.RunExport());
    Choose(web, "web", 5, 4);
    QVERIFY(!web.RunExport());
  }

  void ColourComesFromTheSettingsIsChosenAndPaintsTheTiles() {
    UserSettings settings = LoadUserSettings();
    settings.shareColour = "red";  // not #rrggbb: the default
    QVERIFY(SaveUserSettings(settings));
    QCOMPARE(ShareExportDialog(ShareExportDialog::Kind::kTiles, nullptr)
                 .findChild<QPushButton*>("colour")
                 ->text(),
             QString("#ff0000"));
    settings.shareColour = "#0080ff";
    QVERIFY(SaveUserSettings(settings));
    ShareExportDialog tiles(ShareExportDialog::Kind::kTiles, nullptr);
    auto* button = tiles.findChild<QPushButton*>("colour");
    QCOMPARE(button->text(), QString("#0080ff"));

    // Chosen in the colour dialog: shown, remembered and painted.
    QTimer::singleShot(0, [] {
      if (auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget())) {
        dialog->setCurrentColor(QColor("#00c000"));
        dialog->accept();
      }
    });
    button->click();
    QCOMPARE(button->text(), QString("#00c000"));
    QCOMPARE(LoadUserSettings().shareColour, QString("#00c000"));
    Choose(tiles, "out", 14, 14);
    QVERIFY(tiles.RunExport());
    QDirIterator png("out/14", {"*.png"}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(png.hasNext());
    const QImage image(png.next());
    QVERIFY(image.colorTable().contains(qRgb(0, 0xc0, 0)));
    QVERIFY(!image.colorTable().contains(qRgb(0xff, 0, 0)));
  }

  void StopLeavesAnMbTilesFileAsItWas() {
    ShareExportDialog tiles(ShareExportDialog::Kind::kTiles, nullptr);
    Choose(tiles, "m.mbtiles", 0, 3);
    QVERIFY(tiles.RunExport());
    QFile first("m.mbtiles");
    QVERIFY(first.open(QIODevice::ReadOnly));
    const QByteArray before = first.readAll();
    first.close();
    // Stop is pressed as soon as the bar first moves.
    Choose(tiles, "m.mbtiles", 0, 18);
    auto* bar = tiles.findChild<QProgressBar*>("progress");
    auto* close = tiles.findChild<QPushButton*>("close");
    connect(bar, &QProgressBar::valueChanged, close, [close](int value) {
      if (value > 0) close->click();
    });
    QVERIFY(!tiles.RunExport());
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), before);
    QCOMPARE(QDir(".").entryList({"*.tmp", ".roamgrid-*"}, QDir::Files | QDir::Hidden).size(), 0);
  }

  void LayerUrlOnlyWhileATileServerAnswers() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 8745)) QSKIP("port 8745 is in use");
    QVERIFY(!RunningServeLayerUrl());  // listening, but no tile server
    probe.close();
    QVERIFY(!RunningServeLayerUrl());  // nothing listens
  }
};

}  // namespace
}  // namespace roamgrid

QTEST_MAIN(roamgrid::ShareDialogsTest)
#include "share_dialogs_test.moc"
