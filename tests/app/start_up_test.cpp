// The desktop program's start-up: its command line, and the store folder
// it enters before the dialog opens (the same one roamgrid-cli enters for
// the same options).
#include <QDir>
#include <QFile>
#include <QTest>
#include <cstdlib>
#include <string>

#include "app/vizizodaz_uri.h"
#include "app/zivozariv_ade.h"
#include "import/input_formats.h"
#include "support/red_pixels.h"
#include "support/scratch_working_dir.h"
#include "support/scripted_platform.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

using testing::RedPixels;
using testing::ScriptedPlatform;

class StartUpTest : public QObject {
  Q_OBJECT

 private:
  testing::ScratchWorkingDir workingDir_;
  ScriptedPlatform platform_;
  QString scratch_;

 private slots:
  void init() {
    QVERIFY(workingDir_.Enter());
    scratch_ = QDir::currentPath();
    platform_ = ScriptedPlatform();
    qputenv("XDG_DATA_HOME", (scratch_ + "/xdg").toLocal8Bit());
  }
  void cleanup() {
    QCOMPARE(platform_.unscripted, 0);
    qunsetenv("XDG_DATA_HOME");
    workingDir_.Leave();
  }

  void ReadsTheCommandLine() {
    StartArgs args = ParseStartArgs({"-C", "a", "-C", "b"});
    QCOMPARE(args.store.directories, (std::vector<std::string>{"a", "b"}));
    QVERIFY(args.error.empty());
    QVERIFY(ParseStartArgs({"--user-store"}).store.userStore);
    // --help and --version win over arguments Qt has not taken out yet.
    QVERIFY(ParseStartArgs({"-platform", "offscreen", "--help"}).help);
    QVERIFY(ParseStartArgs({"--bogus", "--version"}).version);
    QCOMPARE(ParseStartArgs({"--bogus"}).error,
             std::string("unknown argument '--bogus' (see roamgrid --help)"));
    QCOMPARE(ParseStartArgs({"--background", "none"}).background, std::string("none"));
    QCOMPARE(ParseStartArgs({"--background", "coast", "-C", "a"}).background, std::string("coast"));
    QCOMPARE(ParseStartArgs({"--background", "sea"}).error,
             std::string("--background needs none, coast or tiles"));
    QCOMPARE(ParseStartArgs({"--user-store", "-C", "a"}).error,
             std::string("-C and --user-store exclude each other"));
    const StartArgs tiles =
        ParseStartArgs({"--tiles", "t.mbtiles", "--tiles-attribution", "(c) us", "--background",
                        "tiles"});
    QCOMPARE(tiles.tiles, std::optional<std::string>("t.mbtiles"));
    QCOMPARE(tiles.tilesAttribution, std::string("(c) us"));
    QCOMPARE(tiles.background, std::string("tiles"));
    QCOMPARE(ParseStartArgs({"--tiles"}).error, std::string("--tiles needs a value"));
    // The Map window: --map alone, or a first view (which opens it too).
    QVERIFY(ParseStartArgs({"--map"}).map);
    const StartArgs mapView = ParseStartArgs({"--map", "--map-view", "35.68,139.76,12"});
    QVERIFY(mapView.error.empty());
    QCOMPARE(mapView.mapView, std::optional<MapCentre>(MapCentre{35.68, 139.76, 12}));
    const std::string mapViewError =
        "--map-view needs LAT,LON,ZOOM: degrees north and east, and a zoom from 0 to 22";
    QCOMPARE(ParseStartArgs({"--map-view", "35.68,139.76"}).error, mapViewError);
    QCOMPARE(ParseStartArgs({"--map-view", "35.68,139.76,23"}).error, mapViewError);
    QCOMPARE(ParseStartArgs({"--map-view"}).error, mapViewError);
  }

  // --help names every input the readers take and every export, from the
  // format tables.
  void HelpListsTheInputsAndExports() {
    const std::string help = StartHelpText();
    for (const std::string& filter : FormatFilters()) {
      QVERIFY2(help.find("  " + filter + "\n") != std::string::npos, filter.c_str());
    }
    for (const char* text :
         {"NMEA logs", "GPX tracks", "FIT activities", "KMZ archives", "448 x 448 BMP image",
          "PNG image", "Export region", "PNG, GeoTIFF, GeoJSON, KML or KMZ"}) {
      QVERIFY2(help.find(text) != std::string::npos, text);
    }
  }

  void UserStoreAndMinusCOpenTheSameStore() {
    StoreFolderRequest user;
    user.userStore = true;
    QVERIFY(VIzizodazUri::EnterStore(user, platform_));
    QCOMPARE(QDir::currentPath(), scratch_ + "/xdg/roamgrid");
    {
      TrackRecorder recorder;  // a fix in the default home view's south-west cell
      AddPoint(recorder, 35.65 + 0.5 / 17920, 139.75 + 0.5 / 17920);
    }
    QDir::setCurrent(scratch_);
    QVERIFY(VIzizodazUri::EnterStore({{"xdg/roamgrid"}, false}, platform_));
    ZIvozarivAde dialog(platform_);
    QCOMPARE(RedPixels(dialog.viewWindow), QList<QPoint>{QPoint(1, 448)});
    QVERIFY(platform_.messages.empty());
  }

  void AFolderThatCannotBeUsedIsAMessageAndNoStore() {
    QVERIFY(QDir().mkpath("xdg"));
    QFile file("xdg/roamgrid");  // a file where the folder should be
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    StoreFolderRequest user;
    user.userStore = true;
    QVERIFY(!VIzizodazUri::EnterStore(user, platform_));
    QCOMPARE(platform_.messages.size(), size_t(1));
    const ScriptedPlatform::Message& message = platform_.messages[0];
    QVERIFY(message.text.find("Not a directory") != std::string::npos);
    QCOMPARE(message.style, MessageStyle::kExclamationOk);
    QCOMPARE(QDir::currentPath(), scratch_);
    QVERIFY(platform_.AllAnswersUsed());
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::StartUpTest)
#include "start_up_test.moc"
