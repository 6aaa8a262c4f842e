// `roamgrid-cli check [--clean]` on a store with a sound tile, a damaged
// one and temporary files of a writer that is gone and of one that runs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "cli/cli_runner.h"
#include "common/temp_name.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Hex;
using testing::ReadBytes;
using testing::RunCli;
using testing::WriteBytes;
using testing::operator+;

class StoreCheckTest : public testing::TempDirTest {};

// The id of a process that has ended and been reaped.
pid_t EndedProcess() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

TEST_F(StoreCheckTest, ListsDamagedTilesAndAbandonedTempFilesAndCleansOnlyThose) {
  const std::string sound = "RGD/E139N035/E13975-N03500.map";
  const std::string damaged = "RGD/E139N035/E13975-N03505.map";
  WriteBytes(sound, Hex("00 00 01 40") + testing::Repeat(0xFF, 895) + Hex("FE"));
  WriteBytes(damaged, Hex("00 00 01 40 FF"));
  const pid_t ended = EndedProcess();
  const std::string abandoned = "RGD/E139N035/" + TempFileName(ended, 0);
  const std::string older = sound + ".tmp" + std::to_string(ended) + "-3";  // earlier naming
  const std::string running = "RGD/E139N035/" + TempFileName(getpid(), 0);
  for (const std::string& temp : {abandoned, older, running}) WriteBytes(temp, Hex("00"));
  const auto soundBytes = ReadBytes(sound);

  const std::string problems = damaged + ": damaged\n" + abandoned +
                               ": abandoned temporary file%\n" + older +
                               ": abandoned temporary file%\n";
  const auto replaced = [](std::string text, const std::string& mark) {
    for (size_t at; (at = text.find('%')) != std::string::npos;) text.replace(at, 1, mark);
    return text;
  };
  CliRun run = RunCli({"check"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, replaced(problems, "") +
                         "2 tile files, 1 not loaded whole, 2 abandoned temporary files: "
                         "problems found\n");
  EXPECT_TRUE(fs::exists(abandoned));

  run = RunCli({"check", "--clean"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, replaced(problems, ", removed") +
                         "2 tile files, 1 not loaded whole, 2 abandoned temporary files (2 "
                         "removed): problems found\n");
  EXPECT_FALSE(fs::exists(abandoned));
  EXPECT_FALSE(fs::exists(older));
  EXPECT_TRUE(fs::exists(running));
  EXPECT_EQ(ReadBytes(sound), soundBytes);
  EXPECT_EQ(ReadBytes(damaged), Hex("00 00 01 40 FF"));

  fs::remove(damaged);
  run = RunCli({"check"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "1 tile files, 0 not loaded whole, 0 abandoned temporary files: the store "
            "is sound\n");
}

}  // namespace
}  // namespace roamgrid
