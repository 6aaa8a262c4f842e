// roamgrid-cli import of what people have besides plain NMEA files:
// standard input, compressed logs, GPX tracks, and signals that stop it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_runner.h"
#include "support/generated_logs.h"
#include "support/temp_dir.h"
#include "tiles/tile_file.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::FilesBelow;
using testing::GeneratedDrive;
using testing::Gzip;
using testing::RunningCli;
using testing::WriteText;

CliRun RunWithInput(const std::vector<std::string>& arguments, const std::string& inputPath) {
  const int in = open(inputPath.c_str(), O_RDONLY);
  RunningCli cli(arguments, in);
  close(in);
  return cli.Finish();
}

class CliImportInputsTest : public testing::TempDirTest {};

TEST_F(CliImportInputsTest, StandardInputAndCompressedLogsGiveTheStoreOfThePlainLog) {
  const std::string log =
      GeneratedDrive(35.66, 139.76, 2000, 1) + GeneratedDrive(-33.5, -70.05, 500, 2);
  WriteText("a.log", log);
  WriteText("a.log.gz", Gzip(log));
  fs::create_directories("plain");
  const CliRun plain = testing::RunCli({"-C", "plain", "import", "../a.log"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string counts = plain.out.substr(plain.out.find(':'));  // ": F fixes, S skipped\n"
  const auto tiles = FilesBelow("plain/RGD");
  EXPECT_GT(tiles.size(), 2u);
  struct Case {
    std::vector<std::string> arguments;
    std::string input;  // standard input
    std::string out;
  };
  const Case cases[] = {
      {{"import", "-"}, "a.log", "-" + counts},
      {{"import", "-"}, "a.log.gz", "-" + counts},
      {{"import", "../a.log.gz"}, "/dev/null", "../a.log.gz" + counts},
      {{"import", "--strict", "-"}, "a.log", "-" + counts},  // every line is sound
  };
  for (const Case& c : cases) {
    std::error_code ignored;
    fs::remove_all("store", ignored);
    fs::create_directories("store");
    std::vector<std::string> arguments{"-C", "store"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const CliRun run = RunWithInput(arguments, c.input);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_TRUE(FilesBelow("store/RGD") == tiles) << c.input;
  }
}

TEST_F(CliImportInputsTest, ReportsPointsOfGpxReadErrorsAndOtherTalkers) {
  WriteText("t.gpx",
            "<gpx><trk><trkseg><trkpt lat='35.66' lon='139.76'/><trkpt lat='35.67'/>\n"
            "<trkpt lat='35.68' lon='139.78'/></trkseg></trk></gpx>");
  WriteText("bad.gpx", "<gpx><trk><trkseg><trkpt lat='35.66' lon='139.76'/>\n</trk></gpx>");
  WriteText("gn.log", testing::GgaSentence(35.66, 139.76) + "\r\n" +
                          testing::GgaSentence(35.7, 139.8, "GN") + "\r\n" +
                          testing::GgaSentence(35.7, 139.8, "GL") + "\r\n");
  const std::string cut = Gzip(GeneratedDrive(35.66, 139.76, 2000, 1));
  WriteText("cut.log.gz", cut.substr(0, cut.size() - 100));
  const CliRun run = testing::RunCli({"import", "t.gpx", "bad.gpx", "gn.log", "cut.log.gz"});
  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> out = {"t.gpx: 2 points, 1 skipped, 2 new",
                                        "bad.gpx: 1 points, 0 skipped, 0 new",
                                        "gn.log: 1 fixes, 0 skipped, 0 new"};
  EXPECT_EQ(run.out.rfind(out[0] + "\n" + out[1] + "\n" + out[2] + "\ncut.log.gz: ", 0), 0u)
      << run.out;
  for (const std::string& said :
       {"read error in log 'bad.gpx' after " + std::to_string(fs::file_size("bad.gpx")) +
            " bytes: malformed GPX at line 2: mismatched tag; the rest of it was not read",
        std::string("'gn.log' holds 2 GGA sentences of other talkers"),
        std::string("--any-talker records them"),
        "read error in log 'cut.log.gz' after " + std::to_string(cut.size() - 100) +
            " bytes: the compressed data ends early (truncated)"})
    EXPECT_NE(run.err.find(said), std::string::npos) << said << "\n" << run.err;
}

TEST_F(CliImportInputsTest, ALogWithoutPositionNamesItsFormatAndOneCellIsOneCell) {
  const std::string places =
      "<kml><Placemark><Point><coordinates>139.76,35.68</coordinates></Point></Placemark></kml>\n";
  WriteText("places.kml", places);
  WriteText("one.log", testing::GgaSentence(35.6812, 139.7671) + "\n");
  const CliRun run = testing::RunCli({"import", "places.kml", "one.log"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "places.kml: 0 points, 0 skipped, 0 new\n"
            "one.log: 1 fixes, 0 skipped, 1 new\n"
            "total: 1 new cell\n");
  EXPECT_EQ(run.err, "roamgrid-cli: import: 'places.kml': " + std::to_string(places.size()) +
                         " bytes read as a KML document gave no position; nothing was recorded\n");
}

TEST_F(CliImportInputsTest, StandardInputNamesOtherTalkersWhenTheFirstArrives) {
  fs::create_directories("store");
  int pipeFds[2];
  // Not inherited: the import sees the end once the test closes its end.
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  RunningCli cli({"-C", "store", "import", "-"}, pipeFds[0]);
  close(pipeFds[0]);
  // A receiver's first two seconds: the bytes that decide the kind of log
  // are read on with the next ones.
  const std::string gn = testing::GgaSentence(35.66, 139.76, "GN") + "\r\n";
  ASSERT_EQ(write(pipeFds[1], gn.data(), gn.size()), ssize_t(gn.size()));
  for (int queued = 1, tries = 0; queued > 0 && tries < 1000; ++tries) {
    ioctl(pipeFds[1], FIONREAD, &queued);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(write(pipeFds[1], gn.data(), gn.size()), ssize_t(gn.size()));
  // Said while the receiver still sends: its pipe is open.
  std::string said;
  for (int tries = 0; said.find("records them") == std::string::npos && tries < 1000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    char buffer[512];
    said.assign(buffer, size_t(std::max<ssize_t>(0, pread(cli.errFd, buffer, sizeof buffer, 0))));
  }
  EXPECT_NE(said.find("standard input holds GGA sentences of other talkers"), std::string::npos)
      << said;
  close(pipeFds[1]);
  EXPECT_EQ(cli.Finish().status, 0);
}

// A receiver through a pipe (`gpspipe -r | roamgrid-cli import -`): its
// marks reach the store while it still sends, within about a second, also
// a second time in a tile the import holds, and in a tile it left.
TEST_F(CliImportInputsTest, LiveStandardInputIsSavedWhileTheReceiverSends) {
  fs::create_directories("store");
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  RunningCli cli({"-C", "store", "import", "--any-talker", "-"}, pipeFds[0]);
  close(pipeFds[0]);
  const std::string first = "store/RGD/E139N035/E13975-N03565.map";
  const std::string second = "store/RGD/E139N035/E13980-N03565.map";
  // Sends one fix and waits (a generous while: a busy machine is slow, and
  // the pipe stays open meanwhile) until `path` holds `cells` marks.
  const auto sendAndWait = [&](double lat, double lon, const std::string& path, int cells) {
    const std::string line = testing::GgaSentence(lat, lon, "GN") + "\r\n";
    ASSERT_EQ(write(pipeFds[1], line.data(), line.size()), ssize_t(line.size()));
    int marks = 0;
    for (int tries = 0; marks != cells && tries < 2000; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const std::vector<uint8_t> bytes = testing::ReadBytes(path);
      std::vector<uint8_t> decoded(kCellCount);
      if (bytes.size() < 3 ||
          DecodeCells(bytes.data() + 3, bytes.size() - 3, decoded.data()) != kLoaded)
        continue;
      marks = int(std::count(decoded.begin(), decoded.end(), 1));
    }
    EXPECT_EQ(marks, cells) << path << " was not saved while the input went on";
  };
  sendAndWait(35.66, 139.76, first, 1);
  sendAndWait(35.661, 139.761, first, 2);
  sendAndWait(35.66, 139.81, second, 1);
  EXPECT_EQ(kill(cli.pid, 0), 0);  // still reading
  close(pipeFds[1]);
  const CliRun run = cli.Finish();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "-: 3 fixes, 0 skipped, 3 new\ntotal: 3 new cells\n");
}

TEST_F(CliImportInputsTest, FolderReadsEveryLogBelowItInNameOrder) {
  WriteText("trips/b/2.json",
            "{\"locations\": [{\"latitudeE7\": 356600000, \"longitudeE7\": 1397600000}, "
            "{\"latitudeE7\": 356700000, \"longitudeE7\": 1397700000, \"accuracy\": 65}]}");
  WriteText("trips/a.log", testing::GgaSentence(35.61, 139.71) + "\r\n");
  WriteText("trips/b/1.txt", "shopping list\n");
  WriteText("trips/c.json", "{\"name\": \"package\"}");
  WriteText("elsewhere/x.log", testing::GgaSentence(35.5, 139.5) + "\r\n");
  fs::create_directory_symlink("../elsewhere", "trips/link");  // not followed
  const CliRun run = testing::RunCli({"import", "--max-accuracy", "60", "trips"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "trips/a.log: 1 fixes, 0 skipped, 1 new\n"
            "trips/b/2.json: 1 points, 0 skipped, 1 less accurate than 60 m, 1 new\n"
            "2 files not recognised\ntotal: 2 new cells\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(CliImportInputsTest, NamesAreasPassedOverAndFixesOfQualityZero) {
  const std::string line = "{\"type\": \"LineString\", \"coordinates\": [[139.76, 35.66]]}";
  const std::string area = "{\"type\": \"Polygon\", \"coordinates\": [[[0, 0], [1, 1], [0, 0]]]}";
  WriteText("mixed.geojson", line + "\n" + area + "\n" + area + "\n");
  WriteText("areas.geojson", area + "\n");
  WriteText("nofix.log",
            "$GPGGA,1,0000.0000,N,00000.0000,E,0,00*40\r\n"
            "$GPGGA,2,8960.0000,N,00000.0000,E,0,00*44\r\n" +
                testing::GgaSentence(35.61, 139.71) + "\r\n");
  CliRun run = testing::RunCli({"import", "mixed.geojson", "areas.geojson", "nofix.log"});
  EXPECT_EQ(run.status, 1);  // a file of nothing but areas
  for (const char* said :
       {"import: 'mixed.geojson': 2 GeoJSON areas (Polygon, MultiPolygon) passed over; areas are "
        "not imported\n",
        "import: read error in log 'areas.geojson' after 63 bytes: this GeoJSON holds only areas "
        "(1 Polygon or MultiPolygon), and areas are not imported",
        "import: 2 fixes the receiver marked invalid (GGA fix quality 0) were recorded; --strict "
        "skips them\n"})
    EXPECT_NE(run.err.find(said), std::string::npos) << said << "\n" << run.err;
  EXPECT_EQ(run.err.find("'areas.geojson': 1 GeoJSON areas"), std::string::npos) << run.err;
  run = testing::RunCli({"import", "--strict", "nofix.log"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

// GeoJSON and TCX as a widely used converter writes them from a GPX track
// (members sorted by name; the track as a TCX course) record what the GPX
// records. Skipped where the converter is not installed.
TEST_F(CliImportInputsTest, ConvertedGeoJsonAndTcxGiveTheStoreOfTheirGpx) {
  if (std::system("command -v gpsbabel >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "gpsbabel is not installed";
  std::string gpx =
      "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"t\" "
      "xmlns=\"http://www.topografix.com/GPX/1/1\">\n<wpt lat=\"35.6\" lon=\"139.7\"/>\n"
      "<trk><trkseg>\n";
  for (int i = 0; i < 300; ++i) {
    if (i == 150) gpx += "</trkseg><trkseg>\n";
    const std::string second = (i % 60 < 10 ? "0" : "") + std::to_string(i % 60);
    gpx += "<trkpt lat=\"" + std::to_string(35.66 + i * 0.00031) + "\" lon=\"" +
           std::to_string(139.76 + i * 0.00017) + "\"><time>2024-05-01T10:0" +
           std::to_string(i / 60) + ":" + second + "Z</time></trkpt>\n";
  }
  WriteText("t.gpx", gpx + "</trkseg></trk></gpx>\n");
  for (const auto& [format, file] : {std::pair{"geojson", "t.geojson"}, {"gtrnctr", "t.tcx"}}) {
    const std::string command =
        std::string("gpsbabel -i gpx -f t.gpx -o ") + format + " -F " + file + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  for (const std::string store : {"gpx", "geojson", "tcx"}) {
    fs::create_directory(store);
    const CliRun run = testing::RunCli({"-C", store, "import", "../t." + store});
    EXPECT_EQ(run.status, 0) << store << ": " << run.err;
    EXPECT_EQ(run.out.rfind("../t." + store + ": 300 points, 0 skipped", 0), 0u) << run.out;
  }
  EXPECT_TRUE(FilesBelow("geojson/RGD") == FilesBelow("gpx/RGD"));
  EXPECT_TRUE(FilesBelow("tcx/RGD") == FilesBelow("gpx/RGD"));
}

TEST_F(CliImportInputsTest, SignalsStopTheImportWithTheirExitStatus) {
  const std::string log = GeneratedDrive(35.66, 139.76, 300, 1);
  WriteText("a.log", log);
  fs::create_directories("whole");
  const CliRun whole = testing::RunCli({"-C", "whole", "import", "../a.log"});
  for (const auto& [signal, status, name] :
       {std::tuple{SIGINT, 130, "SIGINT"}, {SIGTERM, 143, "SIGTERM"}, {SIGHUP, 129, "SIGHUP"}}) {
    std::error_code ignored;
    fs::remove_all("store", ignored);
    fs::create_directories("store");
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    RunningCli cli({"-C", "store", "import", "-"}, pipeFds[0]);
    close(pipeFds[0]);
    ASSERT_EQ(write(pipeFds[1], log.data(), log.size()), ssize_t(log.size()));
    // Until the import has taken every byte; it then waits for more.
    for (int queued = 1, tries = 0; queued > 0 && tries < 1000; ++tries) {
      ioctl(pipeFds[1], FIONREAD, &queued);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(cli.pid, signal);
    const CliRun run = cli.Finish();
    close(pipeFds[1]);
    EXPECT_EQ(run.status, status) << name;
    EXPECT_EQ(run.out, "-" + whole.out.substr(whole.out.find(':'))) << name;
    EXPECT_NE(run.err.find(std::string("stopped by ") + name), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("read error"), std::string::npos) << run.err;  // EINTR is no error
    EXPECT_TRUE(FilesBelow("store/RGD") == FilesBelow("whole/RGD")) << name;
  }
}

}  // namespace
}  // namespace roamgrid
