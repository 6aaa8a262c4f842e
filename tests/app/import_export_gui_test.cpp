// Import and Export through the main dialog, as a user drives them: the
// scripted platform chooses generated logs and the export path, and the
// test compares what the view window paints with the tracks and the BMP.
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "app/user_settings.h"
#include "app/zivozariv_ade.h"
#include "common/number_text.h"
#include "common/safe_file.h"
#include "export/bmp_file.h"
#include "export/export_command.h"
#include "import/import_command.h"
#include "import/nmea_reader.h"
#include "support/red_pixels.h"
#include "support/scratch_working_dir.h"
#include "support/scripted_platform.h"
#include "tiles/track_tile.h"
#include "view/view_state.h"

namespace roamgrid {

using testing::ScriptedPlatform;

namespace {

// The default home view: one tile from 35.65 N, 139.75 E, 448 pixels of two
// cells (1/8960 degree) on a side.
constexpr double kHomeLat = 35.65;
constexpr double kHomeLon = 139.75;
constexpr double kDegreesPerPixel = 2.0 / 17920;

// "ddmm.mmmmmm" (or "dddmm...") for a positive position in degrees.
std::string NmeaField(double degrees) {
  const int whole = int(degrees);
  return FormatFixed(whole * 100 + (degrees - whole) * 60, 0, 6);
}

// A GGA sentence for the centre of view pixel (x, y), y counted from the
// south edge.
std::string FixAtPixel(int x, int y, const char* lineEnd) {
  const double lat = kHomeLat + (y + 0.5) * kDegreesPerPixel;
  const double lon = kHomeLon + (x + 0.5) * kDegreesPerPixel;
  return "$GPGGA,120000.00," + NmeaField(lat) + ",N," + NmeaField(lon) +
         ",E,1,08,0.9,40.0,M,39.0,M,,*00" + lineEnd;
}

void WriteLog(const QString& path, const std::string& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(text.data(), qint64(text.size()));
}

bool IsRed(const QImage& image, QPoint p) { return image.pixelColor(p) == QColor(255, 0, 0); }

}  // namespace

class ImportExportGuiTest : public QObject {
  Q_OBJECT

 private:
  testing::ScratchWorkingDir workingDir_;
  ScriptedPlatform platform_;
  QSet<QPoint> trackPixels_;  // view pixels (x, y from the south) the logs visit

  void Click(ZIvozarivAde& dialog, int id) {
    auto* button = qobject_cast<QPushButton*>(dialog.GetDlgItem(id));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
  }

  // The window pixel of view pixel (x, y from the south): the raster is
  // drawn from the top-left corner inside the border, south at the bottom.
  static QPoint WindowPixel(const ZIvozarivAde& dialog, int x, int y) {
    return dialog.viewWindow.contentsRect().topLeft() + QPoint(x, kRasterSide - 1 - y);
  }

  // Two logs: a diagonal from the south-west corner to the north-east
  // corner, and an east-west line across the middle with CR LF line ends.
  void WriteLogs() {
    std::string diagonal, across;
    for (int i = 0; i < kRasterSide; ++i) {
      diagonal += FixAtPixel(i, i, "\n");
      trackPixels_.insert(QPoint(i, i));
    }
    for (int x = 100; x < 300; ++x) {
      across += FixAtPixel(x, 200, "\r\n");
      trackPixels_.insert(QPoint(x, 200));
    }
    WriteLog("diagonal.log", diagonal);
    WriteLog("across.log", "$GPRMC,ignored\r\n" + across);
  }

  void Import(ZIvozarivAde& dialog) {
    WriteLogs();
    platform_.QueueLogFiles({"diagonal.log", "missing.log", "across.log"});
    Click(dialog, 1009);
    // The log that cannot be opened is named; the others are read.
    QCOMPARE(platform_.messages.size(), size_t(1));
    QCOMPARE(platform_.messages[0].text,
             "Can not Open missing.log: " + std::string(std::strerror(ENOENT)));
    platform_.messages.clear();
  }

  // A log of `count` fixes, fix i on view pixel (i % 448, i / 448).
  static std::string RowsLog(int count) {
    std::string log;
    for (int i = 0; i < count; ++i) log += FixAtPixel(i % kRasterSide, i / kRasterSide, "\n");
    return log;
  }
  // Whether the view window shows the first `count` fixes of RowsLog in
  // red, and nothing else.
  static bool ShowsFirstFixes(ZIvozarivAde& dialog, int count) {
    QList<QPoint> expected;
    for (int i = 0; i < count; ++i)
      expected.append(WindowPixel(dialog, i % kRasterSide, i / kRasterSide));
    QList<QPoint> red = testing::RedPixels(dialog.viewWindow);
    std::sort(expected.begin(), expected.end(),
              [](QPoint a, QPoint b) { return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x(); });
    return red == expected;
  }

 private slots:
  void init() {
    QVERIFY(workingDir_.Enter());
    // The user's settings of each test start empty, in its own folder.
    qputenv("XDG_CONFIG_HOME", (QDir::currentPath() + "/config").toLocal8Bit());
    platform_ = ScriptedPlatform();
    trackPixels_.clear();
  }
  void cleanup() {
    QCOMPARE(platform_.unscripted, 0);
    QVERIFY(platform_.AllAnswersUsed());
    qunsetenv("XDG_CONFIG_HOME");
    workingDir_.Leave();
  }

  void ImportedTracksAppearInRed() {
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QImage before = dialog.viewWindow.grab().toImage();
    for (int y = 0; y < before.height(); ++y)
      for (int x = 0; x < before.width(); ++x) QVERIFY(!IsRed(before, QPoint(x, y)));

    Import(dialog);
    QCOMPARE(platform_.logFileQuestions, 1);
    QVERIFY(platform_.messages.empty());
    const QImage image = dialog.viewWindow.grab().toImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) red += IsRed(image, QPoint(x, y));
    QCOMPARE(red, int(trackPixels_.size()));
    for (const QPoint& p : trackPixels_) QVERIFY(IsRed(image, WindowPixel(dialog, p.x(), p.y())));
  }

  void CancelledImportLeavesTheViewAlone() {
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    WriteLogs();
    platform_.QueueLogFiles({});
    Click(dialog, 1009);
    const QImage image = dialog.viewWindow.grab().toImage();
    QVERIFY(!IsRed(image, WindowPixel(dialog, 0, 0)));
    QVERIFY(!QDir("RGD").exists());
  }

  void CancelAfterTheFirstBlockKeepsAPrefixOfTheMarks() {
    constexpr int kFixes = 12000;  // about 3.4 blocks of 256 KiB
    const std::string log = RowsLog(kFixes);
    QVERIFY(log.size() > 3 * kNmeaReadBlockSize);
    WriteLog("long.log", log);
    ZIvozarivAde dialog(platform_);
    platform_.cancelAtBlock = 1;
    platform_.QueueLogFiles({"long.log", "other.log"});
    Click(dialog, 1009);
    QCOMPARE(platform_.importTotals, std::vector<long long>{(long long)log.size()});
    QCOMPARE(platform_.logsBegun, std::vector<std::string>{"1/2 long.log"});
    QCOMPARE(platform_.lastAdvance, (long long)kNmeaReadBlockSize);
    QVERIFY(platform_.messages.empty());  // a cancel is no problem
    QVERIFY(!dialog.recorder.tile);
    // The view, rebuilt from the tile file, shows the fixes of the first
    // block: whole lines only.
    const int firstBlockFixes = int(kNmeaReadBlockSize / (log.size() / kFixes));
    QVERIFY(ShowsFirstFixes(dialog, firstBlockFixes));

    // Importing the log again completes it.
    platform_.cancelAtBlock = 0;
    platform_.QueueLogFiles({"long.log"});
    Click(dialog, 1009);
    QVERIFY(ShowsFirstFixes(dialog, kFixes));
  }

  void ProblemsAreSummedUpInOneBox() {
    WriteLog("gn.log", "$GNGGA,1,3539.000,N,13945.000,E,1\n$GNGGA,2,3539.000,N,13945.000,E,1\n");
    WriteLog("track.log", FixAtPixel(0, 0, "\n"));
    ZIvozarivAde dialog(platform_);
    platform_.QueueLogFiles({"missing.log", "gn.log", "track.log"});
    platform_.QueueMessageAnswer(MessageAnswer::kNo);  // other talkers stay unread
    SetWriteFault({.failAfterBytes = 0});
    Click(dialog, 1009);
    ClearWriteFault();
    char tile[kTilePathSize];
    QVERIFY(FormatTilePath(3565, 13975, tile));
    QCOMPARE(platform_.messages.size(), size_t(1));
    QCOMPARE(platform_.messages[0].title, std::string("Import"));
    QVERIFY(platform_.messages[0].style == MessageStyle::kQuestionYesNo);
    QCOMPARE(platform_.messages[0].text,
             "Can not Open missing.log: " + std::string(std::strerror(ENOENT)) +
                 "\ngn.log: 2 GGA of other talkers not read"
                 "\nYes reads them now and from now on; Settings changes it back"
                 "\nCan not Save " +
                 tile + ": " + std::strerror(ENOSPC) +
                 "\nRead GGA of other talkers now and from now on?");
    QCOMPARE(platform_.logsBegun.size(), size_t(3));  // No reads nothing again
    QVERIFY(!LoadUserSettings().anyTalker);
  }

  void OtherTalkersAreReadOnceOfferedAndFromThenOn() {
    std::string gn = FixAtPixel(5, 5, "\n");
    gn.replace(0, 6, "$GNGGA");
    WriteLog("gn.log", gn);
    {
      ZIvozarivAde dialog(platform_);
      platform_.QueueLogFiles({"gn.log"});
      platform_.QueueMessageAnswer(MessageAnswer::kYes);
      Click(dialog, 1009);
      QCOMPARE(platform_.messages.size(), size_t(1));
      QVERIFY(platform_.messages[0].style == MessageStyle::kQuestionYesNo);
      QCOMPARE(platform_.logsBegun.size(), size_t(2));  // read again with every talker
      QCOMPARE(testing::RedPixels(dialog.viewWindow), QList<QPoint>{WindowPixel(dialog, 5, 5)});
    }
    // The next start remembers the choice: no question, the fix is recorded.
    std::string gl = FixAtPixel(7, 5, "\n");
    gl.replace(0, 6, "$GLGGA");
    WriteLog("gl.log", gl);
    ZIvozarivAde dialog(platform_);
    platform_.QueueLogFiles({"gl.log"});
    Click(dialog, 1009);
    QCOMPARE(platform_.messages.size(), size_t(1));
    QCOMPARE(testing::RedPixels(dialog.viewWindow).size(), qsizetype(2));
    QVERIFY(LoadUserSettings().anyTalker);
  }

  // Fixes of fix quality 0: recorded as designed, then the offer to skip
  // them from now on; once taken, no question and no mark.
  void FixesMarkedInvalidAreOfferedToBeSkippedFromThenOn() {
    const auto invalid = [](int x) {
      std::string fix = FixAtPixel(x, 5, "\n");
      return fix.replace(fix.find(",E,1,") + 3, 1, "0");
    };
    WriteLog("nofix.log", invalid(5) + FixAtPixel(6, 5, "\n"));
    {
      ZIvozarivAde dialog(platform_);
      platform_.QueueLogFiles({"nofix.log"});
      platform_.QueueMessageAnswer(MessageAnswer::kYes);
      Click(dialog, 1009);
      QCOMPARE(platform_.messages.size(), size_t(1));
      QVERIFY(platform_.messages[0].style == MessageStyle::kQuestionYesNo);
      QCOMPARE(platform_.messages[0].text, SkipInvalidQuestion(1));
      QVERIFY(platform_.messages[0].text.ends_with(
          "\nSkip fixes the receiver marked invalid from now on?"));
      QCOMPARE(testing::RedPixels(dialog.viewWindow).size(), qsizetype(2));  // recorded
    }
    QVERIFY(LoadUserSettings().skipInvalid);
    WriteLog("later.log", invalid(7));
    ZIvozarivAde dialog(platform_);
    platform_.QueueLogFiles({"later.log"});
    Click(dialog, 1009);
    QCOMPARE(platform_.messages.size(), size_t(1));  // no second question
    QCOMPARE(testing::RedPixels(dialog.viewWindow).size(), qsizetype(2));
  }

  // A named pipe at the settings file's path is neither waited for nor
  // replaced: the defaults hold.
  void ASettingsFileThatIsNoRegularFileIsLeftAlone() {
    QVERIFY(QDir().mkpath("config/roamgrid"));
    QVERIFY(mkfifo("config/roamgrid/settings.ini", 0600) == 0);
    QCOMPARE(LoadUserSettings().maxAccuracyM, UserSettings().maxAccuracyM);
    UserSettings changed;
    changed.anyTalker = true;
    QVERIFY(!SaveUserSettings(changed));
    QVERIFY(QFileInfo("config/roamgrid/settings.ini").isFile() == false);
    ZIvozarivAde dialog(platform_);  // starts
  }

  void DroppedFilesAreImportedInTheGivenOrder() {
    WriteLog("a.log", FixAtPixel(0, 0, "\n"));
    WriteLog("b.log", FixAtPixel(1, 0, "\n"));
    ZIvozarivAde dialog(platform_);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QDir::current().absoluteFilePath("b.log")),
                  QUrl::fromLocalFile(QDir::current().absoluteFilePath("a.log"))});
    // Dropped on an edit, which would otherwise take the names as text.
    QWidget* edit = dialog.GetDlgItem(1005);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &drop);
    QVERIFY(drop.isAccepted());
    QVERIFY(platform_.logsBegun.empty());
    QCoreApplication::processEvents();  // the import runs once the drop has ended
    QCOMPARE(platform_.logsBegun.size(), size_t(2));
    QVERIFY(platform_.logsBegun[0].ends_with("/b.log") &&
            platform_.logsBegun[1].ends_with("/a.log"));
    QVERIFY(ShowsFirstFixes(dialog, 2));
    QCOMPARE(platform_.logFileQuestions, 0);
  }

  void DroppedFolderIsImportedAndItsNewCellsNotedWithoutABox() {
    QDir().mkpath("trips/sub");
    WriteLog("trips/b.log", FixAtPixel(1, 0, "\n"));
    WriteLog("trips/sub/a.log", FixAtPixel(0, 0, "\n") + FixAtPixel(1, 0, "\n"));
    WriteLog("trips/notes.txt", "no log\n");
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QDir::current().absoluteFilePath("trips"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.GetDlgItem(1005), &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.GetDlgItem(1005), &drop);
    QCoreApplication::processEvents();
    QCOMPARE(platform_.logsBegun.size(), size_t(3));  // in name order, the text file too
    QVERIFY(platform_.logsBegun[0].ends_with("trips/b.log") &&
            platform_.logsBegun[2].ends_with("trips/sub/a.log"));
    QVERIFY(ShowsFirstFixes(dialog, 2));
    QVERIFY(platform_.messages.empty());
    auto* note = dialog.findChild<QLabel*>(QStringLiteral("newCellsNote"));
    QVERIFY(note);
    QCOMPARE(note->text(), QStringLiteral("2 new cells"));
    QVERIFY(note->isVisible());
  }

  void EveryImportIsAcknowledgedAndImportFolderReadsAFolder() {
    QDir().mkpath("trip");
    WriteLog("trip/one.log", FixAtPixel(3, 3, "\n"));
    ZIvozarivAde dialog(platform_);
    dialog.show();
    const auto noteText = [&dialog] {
      auto* note = dialog.findChild<QLabel*>(QStringLiteral("newCellsNote"));
      return note ? note->text() : QString();
    };
    // "Import folder…" of the map menu asks for a folder and reads the logs below it.
    QAction* folder = nullptr;
    for (QAction* action : dialog.mapMenu()->actions())
      if (action->text() == QStringLiteral("Import folder…")) folder = action;
    QVERIFY(folder);
    platform_.QueueLogFolder(QDir::current().absoluteFilePath("trip").toStdString());
    folder->trigger();
    QCOMPARE(noteText(), QStringLiteral("1 new cell"));
    // The same log again: nothing new, and the note says so.
    platform_.QueueLogFiles({"trip/one.log"});
    Click(dialog, 1009);
    QCOMPARE(noteText(), QStringLiteral("no new cells"));
    QVERIFY(platform_.messages.empty());
    // Cancel in the folder dialog reads nothing and shows no new note.
    const QLabel* shown = dialog.findChild<QLabel*>(QStringLiteral("newCellsNote"));
    platform_.QueueLogFolder(std::nullopt);
    folder->trigger();
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("newCellsNote")), shown);
    QCOMPARE(platform_.logFileQuestions, 3);
  }

  void ExportedImageShowsWhatTheViewShows() {
    ZIvozarivAde dialog(platform_);
    dialog.ShowBackground(false);  // the designed export is the red-on-white view
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Import(dialog);
    const QImage image = dialog.viewWindow.grab().toImage();

    platform_.QueueExportPath("view.bmp");
    Click(dialog, 1013);
    QCOMPARE(platform_.proposedNames, std::vector<std::string>{"N035.650-E139.7500-R0.050.bmp"});
    QVERIFY(platform_.overwriteQuestions.empty());
    QVERIFY(platform_.messages.empty());

    QFile file("view.bmp");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bmp = file.readAll();
    QCOMPARE(qsizetype(bmp.size()), qsizetype(kBmpFileSize));
    const auto header = BmpHeader();
    QCOMPARE(bmp.left(kBmpHeaderSize),
             QByteArray(reinterpret_cast<const char*>(header.data()), kBmpHeaderSize));
    int red = 0;
    for (int y = 0; y < kRasterSide; ++y) {
      for (int x = 0; x < kRasterSide; ++x) {
        const qsizetype at = qsizetype(kBmpHeaderSize) + 3 * (y * kRasterSide + x);
        const QColor bmpColour(uchar(bmp[at + 2]), uchar(bmp[at + 1]), uchar(bmp[at]));
        const QColor viewColour = image.pixelColor(WindowPixel(dialog, x, y));
        if (bmpColour != viewColour) {
          QFAIL(qPrintable(QStringLiteral("pixel %1, %2 differs").arg(x).arg(y)));
        }
        red += bmpColour == QColor(255, 0, 0);
      }
    }
    QCOMPARE(red, int(trackPixels_.size()));
    // Export changes nothing on screen.
    QCOMPARE(dialog.viewWindow.grab().toImage(), image);
  }

  void PngHoldsWhatTheMapShowsAndTheMapMenuExportsTheRegion() {
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Import(dialog);
    // The view inside its border, 448 x 448.
    const QImage shown = dialog.viewWindow
                             .grab(QRect(dialog.viewWindow.contentsRect().topLeft(),
                                         QSize(kRasterSide, kRasterSide)))
                             .toImage()
                             .convertToFormat(QImage::Format_RGB888);

    platform_.QueueExportPath("view.png");
    Click(dialog, 1013);
    QVERIFY(platform_.messages.empty());
    QCOMPARE(QImage("view.png").convertToFormat(QImage::Format_RGB888), shown);

    // "Export region…" asks first which area, in which format: the view,
    // as GeoTIFF at its zoom; here as GeoJSON.
    QAction* region = nullptr;
    for (QAction* action : dialog.mapMenu()->actions())
      if (action->text().startsWith(QStringLiteral("Export region"))) region = action;
    QVERIFY(region);
    RegionExportChoice choice = ViewRegionChoice(dialog);
    choice.format = ExportFormat::kGeoJson;
    platform_.QueueRegionChoice(choice);
    platform_.QueueExportPath("view.geojson");
    region->trigger();
    QVERIFY(platform_.messages.empty());
    QCOMPARE(platform_.regionChoicesShown.back(), ViewRegionChoice(dialog));
    QCOMPARE(platform_.proposedNames.back(), std::string("N035.650-E139.7500-R0.050.geojson"));
    QFile geojson("view.geojson");
    QVERIFY(geojson.open(QIODevice::ReadOnly));
    QVERIFY(geojson.readAll().startsWith("{\"type\":\"FeatureCollection\""));
    // A suffix it cannot write is said, and nothing is written.
    platform_.QueueRegionChoice(choice);
    platform_.QueueExportPath("view.bmp");
    region->trigger();
    QCOMPARE(platform_.messages.size(), size_t(1));
    QCOMPARE(platform_.messages[0].text, std::string(kRegionSuffixText));
    QVERIFY(!QFile::exists("view.bmp"));
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::ImportExportGuiTest)
#include "import_export_gui_test.moc"
