// Runs the built roamgrid-cli in a temporary working directory and checks
// its files, output and exit status against the core it calls.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "common/number_text.h"
#include "export/bmp_file.h"
#include "import/log_import.h"
#include "import/nmea_reader.h"
#include "store/store_stats.h"
#include "support/temp_dir.h"
#include "tiles/tile_file.h"
#include "tiles/track_recorder.h"
#include "view/render_view.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::ReadBytes;
using testing::RunCli;
using testing::TempDirTest;
using testing::WriteBytes;
using testing::WriteText;

// "ddmm.mmmm" (or "dddmm.mmmm") of a magnitude in degrees.
std::string GgaField(double degrees) {
  const int whole = int(degrees);
  return FormatFixed(whole * 100 + (degrees - whole) * 60.0, 9, 4, true);
}

std::string GgaLine(const char* talker, double lat, double lon) {
  return std::string("$") + talker + "GGA,123519," + GgaField(std::fabs(lat)) + "," +
         (lat < 0 ? "S" : "N") + "," + GgaField(std::fabs(lon)) + "," + (lon < 0 ? "W" : "E") +
         ",1,08,0.9,545.4,M,46.9,M,,*47";
}

// A drive of `fixes` fixes from (lat, lon), with the lines a receiver
// writes besides: RMC sentences, GGA lines without a position, CR LF ends.
std::string DriveLog(double lat, double lon, int fixes, unsigned seed, const char* talker = "GP") {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> step(-0.0004, 0.0006);
  std::string log;
  for (int n = 0; n < fixes; ++n) {
    lat += step(random);
    lon += step(random);
    log += GgaLine(talker, lat, lon) + (n % 3 ? "\r\n" : "\n");
    if (n % 50 == 0)
      log += "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n";
    if (n % 97 == 0) log += std::string("$") + talker + "GGA,123520,,,,,0,00,,,M,,M,,*66\n";
  }
  return log;
}

// Every file below `root`, by path relative to it, with its bytes.
std::map<std::string, std::vector<uint8_t>> FilesBelow(const fs::path& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), root).string()] = ReadBytes(entry.path().string());
  return files;
}

// Imports logs through the core API in `folder`, as the Import command does.
std::vector<ImportReport> ImportThroughCore(const std::string& folder,
                                            const std::vector<std::string>& logs,
                                            bool anyTalker = false) {
  const fs::path previous = fs::current_path();
  fs::create_directories(folder);
  fs::current_path(folder);
  std::vector<ImportReport> reports;
  {
    TrackRecorder recorder;
    ImportOptions options;
    options.anyTalker = anyTalker;
    for (const std::string& log : logs) {
      reports.emplace_back();
      ImportNmeaLog(recorder, log, &reports.back(), options);
    }
  }
  fs::current_path(previous);
  return reports;
}

// The image of a raster as the exporter must write it.
std::vector<uint8_t> ImageOf(const std::vector<uint8_t>& raster) {
  const auto header = BmpHeader();
  std::vector<uint8_t> image(header.begin(), header.end());
  for (uint8_t pixel : raster) {
    const uint8_t blueGreen = pixel ? 0x00 : 0xFF;
    image.insert(image.end(), {blueGreen, blueGreen, 0xFF});
  }
  return image;
}

std::vector<uint8_t> RasterOf(int32_t originLat, int32_t originLon, int32_t zoomIndex) {
  ViewState view;
  view.originLat = originLat;
  view.originLon = originLon;
  view.zoomIndex = zoomIndex;
  std::vector<uint8_t> raster(kRasterSize);
  RebuildView(view, raster.data());
  return raster;
}

int MarkedPixels(const std::vector<uint8_t>& raster) {
  int marked = 0;
  for (uint8_t pixel : raster) marked += pixel != 0;
  return marked;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CliEndToEndTest : public TempDirTest {
 protected:
  // Tracks around the default home view (35.65..35.70 N, 139.75..139.80 E)
  // and its neighbours, recorded through the core.
  void RecordTracksAroundHome() {
    WriteText("home.log", DriveLog(35.655, 139.742, 400, 1) + DriveLog(35.62, 139.78, 300, 2) +
                              DriveLog(35.605, 139.655, 300, 3));
    ImportThroughCore(".", {"home.log"});
    fs::remove("home.log");
  }

  // Checks a successful export: `name` printed and written, holding the
  // image of the view at (lat, lon, zoom).
  void ExpectExported(const CliRun& run, const std::string& name, int32_t lat, int32_t lon,
                      int32_t zoom) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, name + "\n");
    EXPECT_EQ(run.err, "");
    const std::vector<uint8_t> raster = RasterOf(lat, lon, zoom);
    EXPECT_GT(MarkedPixels(raster), 0) << "the view should show some track";
    EXPECT_TRUE(ReadBytes(name) == ImageOf(raster)) << name;
  }
};

TEST_F(CliEndToEndTest, ImportWritesTheSameTilesAsTheCore) {
  WriteText("logs/a.log", DriveLog(35.66, 139.76, 3000, 7));
  // Southern and western hemispheres, across a tile corner, and lines that
  // cannot be read (a bad hemisphere letter, missing fields).
  WriteText("logs/b.log", DriveLog(-33.5002, -70.0498, 1500, 8) + "$GPGGA,1,3540.0,X,13946.0,E\n" +
                              "$GPGGA,1,3540.0\n" + DriveLog(35.7, 139.8, 500, 9));
  const std::vector<std::string> logs = {"../logs/a.log", "../logs/b.log"};
  fs::create_directories("cli");
  const CliRun run = RunCli({"-C", "cli", "import", logs[0], logs[1]});
  const std::vector<ImportReport> reports = ImportThroughCore("core", logs);

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");  // no terminal: no progress line
  std::string expected;
  for (size_t i = 0; i < logs.size(); ++i)
    expected += logs[i] + ": " + std::to_string(reports[i].fixes) + " fixes, " +
                std::to_string(reports[i].skipped) + " skipped, " +
                std::to_string(reports[i].newCells) + " new\n";
  expected += "total: " + std::to_string(reports[0].newCells + reports[1].newCells) + " new cells\n";
  EXPECT_EQ(run.out, expected);
  EXPECT_GT(reports[1].skipped, 2);

  const auto cliTiles = FilesBelow("cli/RGD");
  EXPECT_GE(cliTiles.size(), 6u);
  EXPECT_TRUE(cliTiles == FilesBelow("core/RGD"));
  EXPECT_TRUE(cliTiles.count("W070S033/W07005-S03350.map"));
}

TEST_F(CliEndToEndTest, UserStoreIsOneFolderThatMinusCReachesToo) {
  WriteText("a.log", DriveLog(35.66, 139.76, 300, 5));
  const char* previous = std::getenv("XDG_DATA_HOME");
  const std::string saved = previous ? previous : "";
  setenv("XDG_DATA_HOME", (dir() / "xdg").c_str(), 1);
  // Relative LOG and FILE paths stay where the command was started.
  const CliRun imported = RunCli({"--user-store", "import", "a.log"});
  const CliRun exported = RunCli({"--user-store", "export", "view.bmp"});
  const CliRun viaUserStore = RunCli({"--user-store", "stats"});
  const CliRun viaMinusC = RunCli({"-C", "xdg/roamgrid", "stats"});
  setenv("XDG_DATA_HOME", (dir() / "a.log").c_str(), 1);  // a file in the way
  const CliRun refused = RunCli({"--user-store", "stats"});
  if (previous)
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");

  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out.rfind((dir() / "a.log").string() + ": 300 fixes", 0), 0u) << imported.out;
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_TRUE(fs::exists("view.bmp"));
  EXPECT_EQ(viaUserStore.status, 0) << viaUserStore.err;
  EXPECT_EQ(viaMinusC.out, viaUserStore.out);
  EXPECT_EQ(viaMinusC.out.find("visited cells: 0\n"), std::string::npos) << viaMinusC.out;
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(Lines(refused.err).size(), 1u) << refused.err;
  EXPECT_NE(refused.err.find("roamgrid-cli: --user-store: cannot"), std::string::npos);
  EXPECT_FALSE(fs::exists("RGD")) << "no store where the command was started";
}

TEST_F(CliEndToEndTest, ImportGoesOnPastLogsItCannotOpenAndFails) {
  WriteText("a.log", DriveLog(35.66, 139.76, 200, 3));
  WriteText("b.log", DriveLog(35.61, 139.71, 200, 4));
  // A folder is read for its logs; a file there that is none is counted.
  fs::create_directories("folder.log");
  WriteText("folder.log/readme.txt", "no log\n");
  const CliRun run = RunCli({"import", "a.log", "missing.log", "folder.log", "b.log"});
  const std::vector<ImportReport> reports = ImportThroughCore("core", {"../a.log", "../b.log"});

  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> out = Lines(run.out);
  ASSERT_EQ(out.size(), 5u) << run.out;
  EXPECT_EQ(out[0], "a.log: " + std::to_string(reports[0].fixes) + " fixes, " +
                        std::to_string(reports[0].skipped) + " skipped, " +
                        std::to_string(reports[0].newCells) + " new");
  EXPECT_EQ(out[1], "missing.log: cannot open");
  EXPECT_EQ(out[2], "b.log: " + std::to_string(reports[1].fixes) + " fixes, " +
                        std::to_string(reports[1].skipped) + " skipped, " +
                        std::to_string(reports[1].newCells) + " new");
  EXPECT_EQ(out[3], "1 files not recognised");
  EXPECT_EQ(out[4], "total: " + std::to_string(reports[0].newCells + reports[1].newCells) +
                        " new cells");
  const std::vector<std::string> err = Lines(run.err);
  ASSERT_EQ(err.size(), 2u) << run.err;
  EXPECT_NE(err[0].find("'missing.log': No such file or directory"), std::string::npos) << err[0];
  EXPECT_NE(err[1].find("1 of 4 logs could not be opened"), std::string::npos) << err[1];
  EXPECT_TRUE(FilesBelow("RGD") == FilesBelow("core/RGD"));
}

TEST_F(CliEndToEndTest, ImportNamesEachTileThatCannotBeReadOrWrittenOnce) {
  const std::string log = DriveLog(35.66, 139.76, 200, 3) + DriveLog(-33.5, -70.0, 10, 4);
  WriteText("a.log", log);
  WriteText("b.log", log);  // the same tiles again: each is still named once
  struct Case {
    bool rgdIsFile;  // else a link to nowhere: tiles are absent but cannot be made
    const char* message;
  };
  for (const Case c : {Case{true,
                            "cannot read the tile file 'RGD/%': Not a directory; its fixes "
                            "were not recorded (import the log again once it can be read)"},
                       Case{false,
                            "cannot write the tile file 'RGD/%': No such file or "
                            "directory; its new cells are lost"}}) {
    SCOPED_TRACE(c.message);
    fs::remove_all("RGD");
    if (c.rgdIsFile) {
      WriteText("RGD", "a file where the store's folder belongs");
    } else {
      fs::create_symlink("nowhere", "RGD");
    }
    const CliRun run = RunCli({"import", "a.log", "b.log"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind("a.log: 210 fixes, ", 0), 0u) << run.out;
    const std::string before(c.message, std::strchr(c.message, '%'));
    const std::string after(std::strchr(c.message, '%') + 1);
    std::set<std::string> tiles;
    for (const std::string& line : Lines(run.err)) {
      const std::string head = "roamgrid-cli: import: " + before;
      ASSERT_EQ(line.rfind(head, 0), 0u) << line;
      ASSERT_GT(line.size(), head.size() + after.size()) << line;
      ASSERT_EQ(line.substr(line.size() - after.size()), after) << line;
      EXPECT_TRUE(
          tiles.insert(line.substr(head.size(), line.size() - head.size() - after.size())).second)
          << line;
    }
    EXPECT_GE(tiles.size(), 2u) << run.err;
  }
}

TEST_F(CliEndToEndTest, ImportReportsALogItCouldNotReadToItsEnd) {
  // Reading a process's memory from address 0 fails with an I/O error.
  const CliRun run = RunCli({"import", "/proc/self/mem"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "/proc/self/mem: 0 fixes, 0 skipped, 0 new\ntotal: 0 new cells\n");
  EXPECT_NE(run.err.find("read error in log '/proc/self/mem' after 0 bytes"), std::string::npos)
      << run.err;
}

TEST_F(CliEndToEndTest, AnyTalkerReadsTheGgaOfEveryConstellation) {
  WriteText("gn.log", DriveLog(35.66, 139.76, 300, 5, "GN") + DriveLog(35.61, 139.7, 100, 6, "GL"));
  WriteText("gp.log", DriveLog(35.66, 139.76, 300, 5, "GP") + DriveLog(35.61, 139.7, 100, 6, "GP"));

  CliRun run = RunCli({"import", "gn.log"});
  EXPECT_EQ(run.status, 0);
  // The desktop program's lines only.
  EXPECT_EQ(run.out, "gn.log: 0 fixes, 0 skipped, 0 new\ntotal: 0 new cells\n");
  EXPECT_FALSE(fs::exists("RGD"));

  run = RunCli({"import", "--any-talker", "gn.log"});
  const ImportReport gp = ImportThroughCore("core", {"../gp.log"})[0];
  EXPECT_EQ(gp.fixes, 400);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "gn.log: 400 fixes, " + std::to_string(gp.skipped) + " skipped, " +
                         std::to_string(gp.newCells) + " new\ntotal: " +
                         std::to_string(gp.newCells) + " new cells\n");
  EXPECT_FALSE(FilesBelow("RGD").empty());
  EXPECT_TRUE(FilesBelow("RGD") == FilesBelow("core/RGD"));
}

TEST_F(CliEndToEndTest, ImportShowsProgressOnlyOnATerminalAndErasesIt) {
  WriteText("a.log", DriveLog(35.66, 139.76, 100, 3));
  const CliRun run = RunCli({"import", "a.log"}, /*stderrTerminal=*/true);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out).size(), 2u);  // the log's line and the total
  // One drawing at the end of this small log, then blanks over all of it
  // and the cursor back at the line's start.
  ASSERT_EQ(run.err.rfind("\rimport: 0.0 of 0.0 MB (100%)", 0), 0u) << run.err;
  const size_t erase = run.err.find('\r', 1);
  ASSERT_NE(erase, std::string::npos);
  EXPECT_EQ(run.err.substr(erase), "\r" + std::string(erase - 1, ' ') + "\r");
}

TEST_F(CliEndToEndTest, ExportWritesTheRasterOfTheChosenView) {
  RecordTracksAroundHome();
  struct Case {
    std::vector<std::string> arguments;
    std::string homeFile;  // Roamgrid.cfg, when not empty
    std::string name;
    int32_t lat, lon, zoom;
  };
  const Case cases[] = {
      // The built-in home.
      {{}, "", "N035.650-E139.7500-R0.050.bmp", 14260, 55900, 1},
      {{"--zoom", "0"}, "", "N035.650-E139.7500-R0.025.bmp", 14260, 55900, 0},
      // The home of Roamgrid.cfg, its zoom, or another zoom with the origin
      // cut toward zero to that zoom's multiple.
      {{},
       "LAT: 14240\r\nLON: 55880\r\nSKP: 2\r\n",
       "N035.600-E139.7000-R0.100.bmp",
       14240,
       55880,
       2},
      {{"--zoom", "2"},
       "LAT: 14265\nLON: 55905\nSKP: 0\n",
       "N035.650-E139.7500-R0.100.bmp",
       14260,
       55900,
       2},
      // An explicit origin.
      {{"--origin", "14240,55880", "--zoom", "3"},
       "",
       "N035.600-E139.7000-R0.200.bmp",
       14240,
       55880,
       3},
      {{"--origin=14265,55895", "--zoom=0"}, "", "N035.663-E139.7375-R0.025.bmp", 14265, 55895, 0},
      // A centre, placed by the Jump rule: 35.675 - 0.025 at zoom 1 gives
      // tile 713 (14260); 35.65 - 0.0125 at zoom 0 gives 712.75, cut to 712.
      {{"--center", "35.675,139.775"}, "", "N035.650-E139.7500-R0.050.bmp", 14260, 55900, 1},
      {{"--center", "35.65,139.7", "--zoom", "0"},
       "",
       "N035.600-E139.6500-R0.025.bmp",
       14240,
       55860,
       0},
      // FILE given.
      {{"--zoom", "7", "wide.bmp"}, "", "wide.bmp", 14260, 55900, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove("Roamgrid.cfg");
    if (!c.homeFile.empty()) WriteText("Roamgrid.cfg", c.homeFile);
    std::vector<std::string> arguments = {"export"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ExpectExported(RunCli(arguments), c.name, c.lat, c.lon, c.zoom);
    fs::remove(c.name);
  }
}

TEST_F(CliEndToEndTest, ExportSaysWhenTheHomeFileIsInvalidOrUnreadableAndUsesTheBuiltInHome) {
  RecordTracksAroundHome();
  struct Case {
    bool loop;  // a link to itself, which cannot be opened; else an invalid file
    const char* said;
  };
  for (const Case c : {Case{false, "is not a valid home file"},
                       Case{true, "cannot be read: Too many levels of symbolic links"}}) {
    SCOPED_TRACE(c.said);
    fs::remove("Roamgrid.cfg");
    if (c.loop) {
      fs::create_symlink("Roamgrid.cfg", "Roamgrid.cfg");
    } else {
      WriteText("Roamgrid.cfg", "LAT: 14240\r\nLON: 55880\r\nSKP: 9\r\n");
    }
    const CliRun run = RunCli({"export", "--overwrite"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "N035.650-E139.7500-R0.050.bmp\n");
    EXPECT_EQ(run.err, std::string("roamgrid-cli: export: Roamgrid.cfg ") + c.said +
                           "; using the built-in home\n");
    EXPECT_TRUE(ReadBytes("N035.650-E139.7500-R0.050.bmp") == ImageOf(RasterOf(14260, 55900, 1)));
  }
}

TEST_F(CliEndToEndTest, ExportRefusesToOverwriteAndMergesOnlyWhatItExported) {
  RecordTracksAroundHome();
  const std::vector<uint8_t> raster = RasterOf(14260, 55900, 1);
  const std::vector<uint8_t> image = ImageOf(raster);
  const std::vector<uint8_t> foreign = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
  WriteBytes("v.bmp", foreign);

  // An existing file without --overwrite or --merge: refused, untouched.
  CliRun run = RunCli({"export", "v.bmp"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "roamgrid-cli: export: 'v.bmp' exists; give --overwrite or --merge\n");
  EXPECT_TRUE(ReadBytes("v.bmp") == foreign);

  // Merging into a file that is not an exported image: "Can not Marge".
  run = RunCli({"export", "--merge", "v.bmp"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("'v.bmp': Can not Marge"), std::string::npos) << run.err;
  EXPECT_EQ(Lines(run.err).size(), 1u);
  EXPECT_TRUE(ReadBytes("v.bmp") == foreign);
  EXPECT_FALSE(fs::exists("v.bmp.bk"));

  // --overwrite: a fresh image over any file.
  run = RunCli({"export", "--overwrite", "v.bmp"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "v.bmp\n");
  EXPECT_TRUE(ReadBytes("v.bmp") == image);

  // --merge into an image of the same view: white pixels that the view
  // marks turn red; every pixel that is not pure white keeps its colour.
  std::vector<uint8_t> old(image.begin(), image.begin() + kBmpHeaderSize);
  old.resize(kBmpFileSize, 0xFF);
  size_t marked = 0;
  while (!raster[marked]) ++marked;
  size_t unmarked = 0;
  while (raster[unmarked]) ++unmarked;
  const auto pixel = [](size_t index) { return kBmpHeaderSize + 3 * index; };
  old[pixel(marked)] = 0xFE;  // almost white: kept
  old[pixel(unmarked) + 1] = 0x00;
  WriteBytes("v.bmp", old);
  std::vector<uint8_t> merged = old;
  for (size_t j = 0; j < raster.size(); ++j) {
    uint8_t* p = merged.data() + pixel(j);
    if (raster[j] && p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF) p[0] = p[1] = 0x00;
  }
  run = RunCli({"export", "--merge", "v.bmp"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "v.bmp\n");
  EXPECT_TRUE(ReadBytes("v.bmp") == merged);
  EXPECT_FALSE(fs::exists("v.bmp.bk"));

  // --merge or --overwrite with no file yet: a fresh image; behind a link
  // to nowhere, where the link points.
  fs::create_symlink("new.bmp", "link.bmp");
  for (const char* mode : {"--merge", "--overwrite"}) {
    for (const char* name : {"new.bmp", "link.bmp"}) {
      run = RunCli({"export", mode, name});
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(ReadBytes("new.bmp") == image) << mode << " " << name;
      fs::remove("new.bmp");
    }
  }
  EXPECT_TRUE(fs::is_symlink("link.bmp"));

  // A ".bk" name that holds a link: refused, the link's target untouched.
  fs::create_symlink("p.txt", "v.bmp.bk");
  WriteText("p.txt", "precious");
  run = RunCli({"export", "--merge", "v.bmp"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("'v.bmp': Can not Marge ('v.bmp.bk' holds"), std::string::npos) << run.err;
  EXPECT_TRUE(ReadBytes("p.txt") == std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_TRUE(ReadBytes("v.bmp") == merged);

  // A file that cannot be created.
  run = RunCli({"export", "no/such/folder/v.bmp"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(
      run.err,
      "roamgrid-cli: export: cannot create 'no/such/folder/v.bmp': No such file or directory\n");
  // A named pipe under the name is no file to replace.
  ASSERT_EQ(mkfifo("pipe.bmp", 0644), 0);
  run = RunCli({"export", "--overwrite", "pipe.bmp"});
  EXPECT_EQ(run.err, "roamgrid-cli: export: cannot create 'pipe.bmp': not a regular file\n");
}

TEST_F(CliEndToEndTest, EveryMisuseIsOneLineAndItsExitStatus) {
  fs::create_directories("store");
  WriteText("a.log", "");
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string named;  // part of the one error line
  };
  const Case cases[] = {
      {{}, 2, "no command given"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"--bogus", "stats"}, 2, "unknown option '--bogus'"},
      {{"import"}, 2, "at least one LOG"},
      {{"import", "--merge", "a.log"}, 2, "'--merge' for import"},
      {{"export", "--zoom", "8"}, 2, "--zoom: '8'"},
      {{"export", "--origin", "14260"}, 2, "--origin: '14260'"},
      {{"export", "--center", "north,east"}, 2, "--center: 'north,east'"},
      {{"export", "--overwrite", "--merge"}, 2, "exclude each other"},
      {{"export", "a.bmp", "b.bmp"}, 2, "'b.bmp' is one too many"},
      {{"stats", "extra"}, 2, "'extra'"},
      // The alignment rule for the zoom: multiples of 5, 10 and 20.
      {{"export", "--origin", "14265,55900"}, 2, "multiples of 10"},
      {{"export", "--origin", "14250,55900", "--zoom", "2"}, 2, "multiples of 20"},
      {{"export", "--origin", "14262,55900", "--zoom", "0"}, 2, "multiples of 5"},
      {{"export", "--origin", "2000000020,0", "--zoom", "2"}, 2, "must lie within"},
      // Region exports: the suffix, --bbox and the options of one format.
      {{"export", "a.pdf"}, 2, "known are .bmp, .png, .tif"},
      {{"export", "--bbox", "1,2,3", "a.png"}, 2, "--bbox: '1,2,3'"},
      {{"export", "--bbox", "0x10,0,17,1", "a.png"}, 2, "--bbox: '0x10,0,17,1'"},
      {{"export", "--explorer", "2", "--bbox", "0,5,1,5", "e.json"}, 2, "west and east apart"},
      {{"export", "--bbox", "3,0,1,1", "a.png"}, 2, "south edge"},
      {{"export", "--bbox", "0,0,1,1", "a.bmp"}, 2, "need another format"},
      {{"export", "--bbox", "0,0,1,1", "--center", "0,0", "a.png"}, 2, "excludes"},
      {{"export", "--merge", "a.tif"}, 2, "--merge works on .bmp"},
      {{"export", "--transparent", "a.kml"}, 2, "--transparent works on .png"},
      {{"export", "--background", "sea", "a.png"}, 2, "not none or coast"},
      {{"export", "--background", "coast", "a.tif"}, 2, "background of a view"},
      {{"export", "--bbox", "0,0,2,2", "a.tif"}, 2, "35840 x 35840 pixels"},
      {{"-C"}, 2, "-C needs a directory"},
      {{"-C", "no-such-folder", "stats"}, 1, "cannot change to 'no-such-folder'"},
      {{"-C", "a", "--user-store", "stats"}, 2, "exclude each other"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.arguments) shown += " " + a;
    SCOPED_TRACE(shown);
    const CliRun run = RunCli(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    ASSERT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("roamgrid-cli: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
  }
  EXPECT_TRUE(FilesBelow(".").size() == 1) << "nothing written but a.log";
}

// A named pipe is never written through, and the reason is said plainly.
TEST_F(CliEndToEndTest, ExportToANamedPipeIsRefusedAsNotARegularFile) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"export", "--overwrite", "--bbox", "35.6,139.7,35.7,139.8",
                                 "pipe.png"},
        {"export", "--overwrite", "--explorer", "14", "pipe.geojson"},
        {"export", "--overwrite", "pipe.bmp"}}) {
    const std::string& pipe = arguments.back();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    const CliRun run = RunCli(arguments);
    EXPECT_EQ(run.status, 1) << pipe;
    EXPECT_NE(run.err.find("cannot create '" + pipe + "': not a regular file"), std::string::npos)
        << run.err;
  }
}

TEST_F(CliEndToEndTest, HelpAndVersionGoToStandardOutput) {
  struct Case {
    std::vector<std::string> arguments;
    std::string start;
  };
  const Case cases[] = {
      {{"--help"}, "Usage: roamgrid-cli [-C DIR | --user-store] COMMAND"},
      {{"-h"}, "Usage: roamgrid-cli [-C DIR | --user-store] COMMAND"},
      {{"import", "--help"}, "Usage: roamgrid-cli [-C DIR | --user-store] import"},
      {{"export", "--zoom", "9", "-h"}, "Usage: roamgrid-cli [-C DIR | --user-store] export"},
      {{"-C", "no-such-folder", "stats", "--help"}, "Usage: roamgrid-cli [-C DIR | --user-store] stats"},
      {{"--version"}, ROAMGRID_VERSION},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli(c.arguments);
    EXPECT_EQ(run.status, 0) << c.arguments[0];
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind(c.start, 0), 0u) << run.out;
  }
  EXPECT_EQ(RunCli({"--version"}).out, "1.0.0.1\n");
}

TEST_F(CliEndToEndTest, StatsCountsAStoreOfKnownFixes) {
  // Four distinct cells in two tiles (one fix twice), in both hemispheres.
  WriteText("a.log", GgaLine("GP", 35.6512, 139.7534) + "\n" + GgaLine("GP", 35.6512, 139.7534) +
                         "\n" + GgaLine("GP", 35.6999, 139.7999) + "\n" +
                         GgaLine("GP", 35.6601, 139.7601) + "\n" +
                         GgaLine("GP", -33.4781, -70.0412) + "\n");
  CliRun run = RunCli({"import", "a.log"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.out, "a.log: 5 fixes, 0 skipped, 4 new\ntotal: 4 new cells\n");

  const double area = CollectStoreStats().visitedAreaKm2;
  EXPECT_NEAR(area, 4 * 31e-6, 4e-6);  // a cell is about 6.2 m by 5 m here
  run = RunCli({"stats"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "tile files: 2\n"
            "tiles not loaded whole: 0\n"
            "visited cells: 4\n"
            "visited area: " +
                FormatFixed(area, 0, 6) +
                " km^2\n"
                "bounding box: south -33.50, west -70.05, north 35.70, east 139.80\n"
                "explorer tiles at zoom 14: 4, max square 1x1, max cluster 0\n"
                "explorer tiles at zoom 17: 4, max square 1x1, max cluster 0\n");

  // A damaged tile is named and fails the command; the cells it holds
  // before the damage still count.
  WriteBytes("RGD/E000N000/E00000-N00000.map", {0x00, 0x00, 0x01, 0x41});
  run = RunCli({"stats"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "roamgrid-cli: stats: 1 tile files could not be loaded whole\n");
  EXPECT_EQ(Lines(run.out)[1], "tiles not loaded whole: 1");
  EXPECT_EQ(Lines(run.out)[2], "  RGD/E000N000/E00000-N00000.map: damaged");
  EXPECT_EQ(Lines(run.out)[3], "visited cells: 6");

  // An empty folder has no store.
  fs::create_directories("empty");
  run = RunCli({"-C", "empty", "stats"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "tile files: 0\ntiles not loaded whole: 0\nvisited cells: 0\n"
            "visited area: 0.000000 km^2\nbounding box: none\n"
            "explorer tiles at zoom 14: 0, max square 0x0, max cluster 0\n"
            "explorer tiles at zoom 17: 0, max square 0x0, max cluster 0\n");
}

TEST_F(CliEndToEndTest, ExportsExploredAndMissingExplorerTilesAsGeoJson) {
  // Two fixes in zoom 14 tiles (14552, 6453) and (14554, 6450).
  WriteText("a.log", GgaLine("GP", 35.6512, 139.7534) + "\n" + GgaLine("GP", 35.6999, 139.7999) +
                         "\n");
  ASSERT_EQ(RunCli({"import", "a.log"}).status, 0);
  const auto features = [](const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> xy;
    for (size_t at = 0; (at = text.str().find("\"x\":", at)) != std::string::npos; ++at)
      xy.push_back(text.str().substr(at + 4, text.str().find('}', at) - at - 4));
    return xy;
  };
  CliRun run = RunCli({"export", "--explorer", "14", "explored.geojson"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "explored.geojson\n");
  EXPECT_EQ(features("explored.geojson"),
            (std::vector<std::string>{"14554,\"y\":6450", "14552,\"y\":6453"}));
  // The 4 x 3 tiles of the box (x 14551..14554, y 6450..6452), less the
  // one explored inside it.
  run = RunCli({"export", "--explorer", "14", "--bbox", "35.66,139.74,35.70,139.80", "--missing",
                "todo.json"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> missing = features("todo.json");
  EXPECT_EQ(missing.size(), 4u * 3u - 1u) << run.out;
  EXPECT_EQ(std::count(missing.begin(), missing.end(), "14554,\"y\":6450"), 0);
  // Across the antimeridian at zoom 2: columns 3 and 0 of rows 1 and 2,
  // less the explored (3, 1).
  run = RunCli({"export", "--explorer", "2", "--bbox", "0,170,10,-170", "--missing", "wrap.json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(features("wrap.json"),
            (std::vector<std::string>{"0,\"y\":1", "3,\"y\":2", "0,\"y\":2"}));
  run = RunCli({"export", "--explorer", "2", "--bbox", "0,170,10,-170", "wrapped.json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(features("wrapped.json"), (std::vector<std::string>{"3,\"y\":1"}));
  // Refused: an existing file, another suffix, --missing without --bbox.
  EXPECT_EQ(RunCli({"export", "--explorer", "14", "todo.json"}).status, 1);
  EXPECT_EQ(RunCli({"export", "--explorer", "14", "x.bmp"}).status, 2);
  EXPECT_EQ(RunCli({"export", "--explorer", "14", "--missing", "y.geojson"}).status, 2);
}

}  // namespace
}  // namespace roamgrid
