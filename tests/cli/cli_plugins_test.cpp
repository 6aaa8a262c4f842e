// roamgrid-cli and its plugins: only a GeoTIFF export loads libtiff and
// libgeotiff (and PROJ below them), only a KMZ loads libzip (and the crypto
// library below it), only serve loads libmicrohttpd (and GnuTLS), and a program whose plugin is
// missing, damaged or of another version says so in one line, exits 1 and leaves the file it was to
// replace as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "export/geotiff_file.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::RunCli;
using testing::ScopedEnvironment;

class CliPluginsTest : public testing::TempDirTest {};

bool Loads(const CliRun& run, const char* library) {
  return run.err.find(library) != std::string::npos;
}

TEST_F(CliPluginsTest, OnlyTheCommandsThatNeedAPluginLoadItsLibraries) {
  testing::WriteText("drive.log",
                     "$GPGGA,123519,3540.000,N,13945.000,E,1,08,0.9,10.0,M,39.0,M,,*7D\n");
  // The dynamic loader names each library it starts on standard error.
  ScopedEnvironment trace("LD_DEBUG", "libs");
  struct Case {
    std::vector<std::string> arguments;
    bool tiff;  // libtiff, libgeotiff, PROJ
    bool zip;   // libzip and the crypto library
  };
  const std::vector<Case> cases = {
      {{"--version"}, false, false},
      {{"import", "drive.log"}, false, false},
      {{"stats"}, false, false},
      {{"export", "plain.bmp"}, false, false},
      {{"export", "view.png"}, false, false},
      {{"export", "view.geojson"}, false, false},
      {{"export", "view.tif"}, true, false},
      {{"export", "view.kmz"}, false, true},
      {{"import", "view.kmz"}, false, true},
  };
  for (const Case& c : cases) {
    const std::string command = c.arguments[0] + " " + c.arguments.back();
    const CliRun run = RunCli(c.arguments);
    EXPECT_EQ(run.status, 0) << command << run.err.substr(0, 2000);
    EXPECT_NE(run.err.find("calling init"), std::string::npos) << "no loader trace";
    EXPECT_EQ(Loads(run, "libroamgrid-geotiff.so"), c.tiff) << command;
    for (const char* library : {"libtiff.so", "libgeotiff.so", "libproj.so"}) {
      EXPECT_EQ(Loads(run, library), c.tiff) << command << " " << library;
    }
    EXPECT_EQ(Loads(run, "libroamgrid-zip.so"), c.zip) << command;
    EXPECT_EQ(Loads(run, "libzip.so"), c.zip) << command;
    if (!c.zip && !c.tiff) {
      EXPECT_FALSE(Loads(run, "libcrypto.so")) << command;
      EXPECT_FALSE(Loads(run, "libgnutls.so")) << command;  // PROJ's downloads bring it
    }
    EXPECT_FALSE(Loads(run, "libroamgrid-http.so")) << command;
    EXPECT_FALSE(Loads(run, "libmicrohttpd.so")) << command;
  }
}

// The folder of the running program.
fs::path ProgramFolder() {
  std::array<char, PATH_MAX> self{};
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
  return length > 0 ? fs::path(std::string(self.data(), size_t(length))).parent_path() : fs::path();
}

TEST_F(CliPluginsTest, AnExportWithoutItsPluginFailsInOneLineAndKeepsTheOldFile) {
  const std::vector<std::string> candidates = GeoTiffPluginCandidates();
  ASSERT_GE(candidates.size(), 2u);
  if (fs::exists(candidates.back())) GTEST_SKIP() << "the writer is installed system-wide";
  // A copy of the program in a folder of its own, where the writer would
  // lie as the build places it beside the programs.
  const fs::path built = fs::path(candidates.front());
  ASSERT_TRUE(fs::is_regular_file(built)) << built;
  const fs::path program = dir() / "bin" / "roamgrid-cli";
  const fs::path plugin = (dir() / "bin" / fs::relative(built, ProgramFolder())).lexically_normal();
  fs::create_directories(program.parent_path());
  fs::create_directories(plugin.parent_path());
  fs::copy_file(ROAMGRID_CLI_PATH, program);
  fs::create_directory("store");

  const fs::path netcdfPlugin = built.parent_path() / "libroamgrid-netcdf.so";
  struct Case {
    const char* name;
    const char* plugin;  // "" none, "garbage", or a library to copy
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"missing", "", "the GeoTIFF writer libroamgrid-geotiff.so is not installed (looked for "},
      {"not a library", "garbage", "cannot load the GeoTIFF writer " + plugin.string() + ": "},
      {"another plugin", "netcdf",
       "the GeoTIFF writer " + plugin.string() + " belongs to another version of Roamgrid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(plugin);
    if (std::string(c.plugin) == "garbage") testing::WriteText(plugin.string(), "not a library\n");
    if (std::string(c.plugin) == "netcdf") fs::copy_file(netcdfPlugin, plugin);
    testing::WriteText("store/view.tif", "an older image");

    const CliRun run =
        RunCli({"-C", "store", "export", "--overwrite", "view.tif"}, false, program.string());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("; nothing was changed"), std::string::npos) << run.err;
    const std::vector<uint8_t> kept = testing::ReadBytes("store/view.tif");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "an older image");
    // Nothing else was left behind, and other exports still work; a KMZ
    // needs a plugin of its own.
    EXPECT_EQ(std::distance(fs::directory_iterator("store"), fs::directory_iterator()), 1);
    EXPECT_EQ(RunCli({"-C", "store", "export", "view.png"}, false, program.string()).status, 0);
    fs::remove("store/view.png");
    const CliRun kmz = RunCli({"-C", "store", "export", "view.kmz"}, false, program.string());
    EXPECT_EQ(kmz.status, 1);
    EXPECT_NE(kmz.err.find("the zip library libroamgrid-zip.so is not installed"),
              std::string::npos)
        << kmz.err;
    EXPECT_FALSE(fs::exists("store/view.kmz"));
  }
}

}  // namespace
}  // namespace roamgrid
