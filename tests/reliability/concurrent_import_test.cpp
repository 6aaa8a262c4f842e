// Several programs importing into one store at once: four processes (one
// of them the desktop program's Import, where it is built) import
// overlapping logs whose tracks circle a tile corner, so that every
// process saves the same four tiles hundreds of times. However their saves
// interleave, the store must end byte for byte as importing the logs one
// after the other leaves it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
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

// Starts `words` in `folder`, its output discarded (standard error kept in
// `errorFile` when given).
pid_t Start(const std::vector<std::string>& words, const std::string& folder,
            const std::string& errorFile = "/dev/null") {
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT, 0644);
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
    // The lock file of earlier versions as a link: it must not switch the
    // store lock off.
    fs::create_directory(folder + "/RGD");
    WriteText(folder + "/lockfile", "");
    fs::create_symlink(fs::absolute(folder + "/lockfile"), folder + "/RGD/.lock");
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

// Another program holds the store lock (stopped in the middle of a save,
// say): the import says after about a second that it waits, and SIGINT ends
// the wait with the tile not saved and the status of the signal.
TEST_F(ConcurrentImportTest, WaitForTheLockIsToldAndEndsOnSigint) {
  WriteText("one.log", "$GPGGA,000001,3537.0000,N,13943.0000,E,1,08,0.9,10.0,M,40.0,M,,\n");
  fs::create_directory("RGD");
  const int held = open("RGD", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const pid_t pid = Start({ROAMGRID_CLI_PATH, "import", "one.log"}, ".", "err.txt");
  std::string err;
  for (int i = 0; i < 600 && err.find("waiting") == std::string::npos; ++i) {
    usleep(50'000);
    const auto bytes = ReadBytes("err.txt");
    err.assign(bytes.begin(), bytes.end());
  }
  EXPECT_EQ(err, "roamgrid-cli: import: waiting for the store lock held by another program\n");
  kill(pid, SIGINT);
  EXPECT_EQ(ExitStatus(pid), 128 + SIGINT);
  close(held);
  EXPECT_FALSE(fs::exists("RGD/E139N035/E13970-N03560.map"));
  const auto bytes = ReadBytes("err.txt");
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("its new cells are lost"),
            std::string::npos);
}

}  // namespace
}  // namespace roamgrid
