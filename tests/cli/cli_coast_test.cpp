// roamgrid-cli and the coast data: an export that cannot draw the coast it
// was asked for fails and writes nothing, and only a command that reads
// the coast loads the netCDF library (the others start without it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "geo/gshhg_store.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::RunCli;

// Sets an environment variable for the programs a test runs, and restores it.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (saved_) {
      setenv(name_, saved_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

bool LowDataInstalled() { return fs::exists(std::string(kGshhgFolder) + "/binned_GSHHS_l.nc"); }

class CliCoastTest : public testing::TempDirTest {};

TEST_F(CliCoastTest, ACoastExportWithoutSoundDataFailsAndWritesNothing) {
  if (!LowDataInstalled()) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  const fs::path data = dir() / "gshhg";
  fs::create_directory(data);
  ScopedEnvironment folder("ROAMGRID_GSHHG_DIR", data.string());

  // No shoreline file at all.
  CliRun run = RunCli({"export", "--background", "coast", "a.png"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("no coastline data"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists("a.png"));

  // A truncated one: named once, and no picture without its coast.
  fs::copy_file(std::string(kGshhgFolder) + "/binned_GSHHS_l.nc", data / "binned_GSHHS_l.nc");
  fs::resize_file(data / "binned_GSHHS_l.nc", fs::file_size(data / "binned_GSHHS_l.nc") / 2);
  run = RunCli({"export", "--background", "coast", "a.png"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("binned_GSHHS_l.nc: cut short"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the coast background cannot be drawn"), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(fs::exists("a.png"));

  // The sound file draws.
  fs::copy_file(std::string(kGshhgFolder) + "/binned_GSHHS_l.nc", data / "binned_GSHHS_l.nc",
                fs::copy_options::overwrite_existing);
  run = RunCli({"export", "--background", "coast", "a.png"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "a.png\n");
  EXPECT_TRUE(fs::exists("a.png"));
}

TEST_F(CliCoastTest, OnlyACommandThatDrawsTheCoastLoadsNetcdf) {
  testing::WriteText("drive.log",
                     "$GPGGA,123519,3540.000,N,13945.000,E,1,08,0.9,10.0,M,39.0,M,,*7D\n");
  // The dynamic loader names each library it starts on standard error.
  ScopedEnvironment trace("LD_DEBUG", "libs");
  const auto loads = [](const CliRun& run) {
    return run.err.find("libnetcdf.so") != std::string::npos;
  };
  const std::vector<std::vector<std::string>> without = {
      {"--version"}, {"import", "drive.log"}, {"stats"}, {"export", "plain.bmp"}};
  for (const auto& arguments : without) {
    const CliRun run = RunCli(arguments);
    EXPECT_EQ(run.status, 0) << arguments[0];
    EXPECT_NE(run.err.find("calling init"), std::string::npos) << "no loader trace";
    EXPECT_FALSE(loads(run)) << arguments[0];
  }
  if (!LowDataInstalled()) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  ScopedEnvironment folder("ROAMGRID_GSHHG_DIR", kGshhgFolder);
  const CliRun coast = RunCli({"export", "--background", "coast", "coast.png"});
  EXPECT_EQ(coast.status, 0);
  EXPECT_TRUE(loads(coast));
}

}  // namespace
}  // namespace roamgrid
