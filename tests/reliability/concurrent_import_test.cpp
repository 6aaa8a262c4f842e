// Several programs importing into one store at once: four processes (one
// of them the desktop program's Import, where it is built) import
// overlapping logs whose tracks circle a tile corner, so that every
// process saves the same four tiles hundreds of times. However their saves
// interleave, the store must end byte for byte as importing the logs one
// after the other leaves it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "support/temp_dir.h"

extern char** environ;

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::WriteText;

constexpr int kLogs = 4;
constexpr int kFixesPerLap = 40;  // a lap crosses four tiles

// "ddmm.mmmmmm" (or "dddmm...") of a positive position in degrees.
std::string NmeaField(double degrees) {
  const int whole = int(degrees);
  return FormatFixed(whole * 100 + (degrees - whole) * 60, 0, 6);
}

// Laps of growing and shrinking radius around the corner 35.65 N, 139.75 E;
// each log has its own phase, so the logs share cells and all tiles.
std::string CircleLog(int log, int laps) {
  std::string text;
  for (int i = 0; i < laps * kFixesPerLap; ++i) {
    const double radius = 0.0005 + 0.00003 * ((i / kFixesPerLap + 37 * log) % 600);
    const double angle = 2 * std::numbers::pi * (i % kFixesPerLap) / kFixesPerLap + 0.4 * log;
    text += "$GPGGA,120000.00," + NmeaField(35.65 + radius * std::sin(angle)) + ",N," +
            NmeaField(139.75 + radius * std::cos(angle)) + ",E,1,08,0.9,40.0,M,39.0,M,,*00\r\n";
  }
  return text;
}

// Starts `words` in `folder`, its output discarded.
pid_t Start(const std::vector<std::string>& words, const std::string& folder) {
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every tile file below folder/RGD by its path, with its bytes.
std::map<std::string, std::vector<uint8_t>> Tiles(const fs::path& folder) {
  std::map<std::string, std::vector<uint8_t>> tiles;
  for (const auto& entry : fs::recursive_directory_iterator(folder / "RGD"))
    if (entry.path().extension() == ".map")
      tiles[fs::relative(entry.path(), folder).string()] = ReadBytes(entry.path().string());
  return tiles;
}

class ConcurrentImportTest : public testing::TempDirTest {};

TEST_F(ConcurrentImportTest, StoreEndsAsAfterImportsOneAfterTheOther) {
  std::vector<std::string> logs;
  for (int log = 0; log < kLogs; ++log) {
    logs.push_back((dir() / ("circle" + std::to_string(log) + ".log")).string());
    WriteText(logs.back(), CircleLog(log, 150));
  }
  fs::create_directory("sequential");
  std::vector<std::string> sequential = {ROAMGRID_CLI_PATH, "import"};
  sequential.insert(sequential.end(), logs.begin(), logs.end());
  ASSERT_EQ(ExitStatus(Start(sequential, "sequential")), 0);
  const auto expected = Tiles("sequential");
  ASSERT_EQ(expected.size(), 4u);

  // The last round imports its first log with the desktop program.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  constexpr int kRounds = 3;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string folder = "round" + std::to_string(round);
    fs::create_directory(folder);
    std::vector<pid_t> importers;
    for (int log = 0; log < kLogs; ++log) {
      std::vector<std::string> words = {ROAMGRID_CLI_PATH, "import", logs[log]};
#ifdef ROAMGRID_GUI_IMPORT_DRIVER_PATH
      if (round == kRounds - 1 && log == 0) words = {ROAMGRID_GUI_IMPORT_DRIVER_PATH, logs[log]};
#endif
      importers.push_back(Start(words, folder));
    }
    for (const pid_t pid : importers) EXPECT_EQ(ExitStatus(pid), 0);
    EXPECT_TRUE(Tiles(folder) == expected);
  }
}

}  // namespace
}  // namespace roamgrid
