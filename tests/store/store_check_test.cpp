// `roamgrid-cli check [--clean]` on a store with a sound tile, a damaged
// one and temporary files of writers that are gone and of one that runs.
#include "store/store_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "cli/cli_runner.h"
#include "common/task_progress.h"
#include "common/temp_name.h"
#include "support/temp_dir.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

using testing::Hex;
using testing::ReadBytes;
using testing::RunCli;
using testing::WriteBytes;
using testing::operator+;

class StoreCheckTest : public testing::TempDirTest {};

// Records one fix into its tile, written when the recorder lets go.
void RecordFix(double lat, double lon) {
  TrackRecorder recorder;
  AddPoint(recorder, lat, lon);
}

// Counts what a fold tells and cancels at the `cancelAt`-th question.
struct CountingProgress : TaskProgress {
  int steps = 0;
  int questions = 0;
  int cancelAt = 0;
  void Advance(long long, long long) override { ++steps; }
  bool Cancelled() override { return ++questions == cancelAt; }
};

TEST_F(StoreCheckTest, ListsDamagedTilesAndAbandonedTempFilesAndCleansOnlyThose) {
  const std::string folder = "RGD/E139N035/";
  const std::string sound = folder + "E13975-N03500.map";
  const std::string damaged = folder + "E13975-N03505.map";
  WriteBytes(sound, Hex("00 00 01") + testing::Repeat(0xFF, 896));
  WriteBytes(damaged, Hex("00 00 01 40 FF"));
  const pid_t ended = fork();  // a process that has ended and been reaped
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string abandoned = folder + TempFileName(ended, 0);
  const std::string older = sound + ".tmp" + std::to_string(ended) + "-3";  // earlier naming
  const std::string running = folder + TempFileName(getpid(), 0);
  for (const std::string& temp : {abandoned, older, running}) WriteBytes(temp, Hex("00"));

  const auto listing = [&](const std::string& removed) {
    return damaged + ": damaged\n" + abandoned + ": abandoned temporary file" + removed + "\n" +
           older + ": abandoned temporary file" + removed + "\n" +
           "2 tile files, 1 not loaded whole, 2 abandoned temporary files";
  };
  testing::CliRun run = RunCli({"check"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, listing("") + ": problems found\n");

  run = RunCli({"check", "--clean"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, listing(", removed") + " (2 removed): problems found\n");
  EXPECT_FALSE(std::filesystem::exists(abandoned) || std::filesystem::exists(older));
  EXPECT_TRUE(std::filesystem::exists(running));
  EXPECT_EQ(ReadBytes(damaged), Hex("00 00 01 40 FF"));  // tiles stay as they are

  std::filesystem::remove(damaged);
  run = RunCli({"check"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "1 tile files, 0 not loaded whole, 0 abandoned temporary files: the store is sound\n");
}

// Links are never followed and only this program's own temporary names in
// tile folders are removed; what stands at a tile's path but is no regular
// file is named with its reason, by check and stats alike.
TEST_F(StoreCheckTest, FollowsNoLinkCleansOnlyOwnTempNamesAndNamesWhatIsNoTile) {
  namespace fs = std::filesystem;
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string dead = std::to_string(ended);
  fs::create_directories("elsewhere");
  fs::create_directories("RGD/E139N035");
  const std::string outside[] = {"elsewhere/report.tmp" + dead + "-1",
                                 "elsewhere/" + TempFileName(ended, 1)};
  for (const std::string& file : outside) WriteBytes(file, Hex("01"));
  fs::create_directory_symlink(fs::absolute("elsewhere"), "RGD/anything");
  fs::create_directory_symlink(fs::absolute("elsewhere"), "RGD/E139N036");
  const std::string folder = "RGD/E139N035/";
  const std::string notes = folder + "notes.tmp" + dead + "-1";  // not beside a tile
  WriteBytes(notes, Hex("01"));
  WriteBytes("good.map", Hex("00 00 01") + testing::Repeat(0xFF, 896));
  fs::create_symlink(fs::absolute("good.map"), folder + "E13975-N03500.map");
  ASSERT_EQ(mkfifo((folder + "E13975-N03505.map").c_str(), 0644), 0);
  fs::create_directory(folder + "E13975-N03510.map");

  const std::string listing = folder + "E13975-N03500.map: cannot be read: not a regular file\n" +
                              folder + "E13975-N03505.map: cannot be read: not a regular file\n" +
                              folder + "E13975-N03510.map: cannot be read: Is a directory\n" +
                              notes + ": not a name of the store, left alone\n" +
                              "RGD/E139N036: a symbolic link, not followed, left alone\n" +
                              "RGD/anything: a symbolic link, not followed, left alone\n" +
                              "3 tile files, 3 not loaded whole, 0 abandoned temporary files (0 "
                              "removed), 3 other entries left alone: problems found\n";
  const testing::CliRun run = RunCli({"check", "--clean"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, listing);
  for (const std::string& file : outside) EXPECT_TRUE(fs::exists(file)) << file;
  EXPECT_TRUE(fs::exists(notes));
  EXPECT_TRUE(fs::is_symlink(folder + "E13975-N03500.map"));

  const testing::CliRun stats = RunCli({"stats"});
  EXPECT_EQ(stats.status, 1);
  EXPECT_NE(
      stats.out.find("  " + folder + "E13975-N03505.map: cannot be read: not a regular file\n"),
      std::string::npos)
      << stats.out;
}

// The desktop program's fold: the copies found by name alone, each ORed in
// as `check --fold-conflicts` does, what is left named, Cancel honoured.
TEST_F(StoreCheckTest, FoldsTheCopiesFoundByNameAndNamesThoseLeft) {
  const std::string tile = "RGD/E139N035/E13975-N03565.map";
  RecordFix(35.651, 139.751);
  std::filesystem::copy_file(tile, tile + "~");  // the other computer's: the first fix only
  std::filesystem::remove(tile);
  RecordFix(35.652, 139.752);
  WriteBytes("RGD/E139N035/E13975-N03565.map.orig", Hex("00 00 01 41"));  // damaged
  WriteBytes("RGD/E139N035/notes.txt", Hex("01"));                        // no copy

  const std::vector<StoreStats::ConflictCopy> copies = FindConflictCopies();
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[0].path, tile + ".orig");  // in path order
  EXPECT_EQ(copies[1].path, tile + "~");
  EXPECT_EQ(copies[1].tilePath, tile);

  CountingProgress cancelled;
  cancelled.cancelAt = 1;
  ConflictFold fold = FoldConflictCopies(&cancelled);
  EXPECT_TRUE(fold.stopped);
  EXPECT_EQ(fold.folded, 0u);
  EXPECT_EQ(FindConflictCopies().size(), 2u);

  CountingProgress progress;
  fold = FoldConflictCopies(&progress);
  EXPECT_FALSE(fold.stopped);
  EXPECT_EQ(progress.steps, 2);
  EXPECT_EQ(fold.folded, 1u);
  EXPECT_EQ(fold.newCells, 1);
  ASSERT_EQ(fold.left.size(), 1u);
  EXPECT_EQ(fold.left[0].path, tile + ".orig");
  EXPECT_EQ(NotFoldedReason(fold.left[0]), "damaged");
  EXPECT_FALSE(std::filesystem::exists(tile + "~"));
  // The tile holds both fixes now: a second fold of the same copy adds nothing.
  std::filesystem::copy_file(tile, tile + "~");
  fold = FoldConflictCopies(nullptr);
  EXPECT_EQ(fold.folded, 1u);
  EXPECT_EQ(fold.newCells, 0);
  EXPECT_EQ(CollectStoreStats().visitedCells, 2);
}

// A tile named for a place beyond the poles (as an earlier merge could
// bring in): check names it and the store is not sound; merge leaves it
// out and says so; stats does not count it.
TEST_F(StoreCheckTest, TileNamesOutsideTheGridAreNamedAndLeftAlone) {
  const std::vector<uint8_t> tile = Hex("00 00 01 40") + testing::Repeat(0xFF, 895) + Hex("FE");
  WriteBytes("other/RGD/E000N999/E00000-N99995.map", tile);
  WriteBytes("other/RGD/E139N035/E13975-N03500.map", tile);
  testing::CliRun run = RunCli({"-C", "other", "check"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "RGD/E000N999/E00000-N99995.map: a tile name outside the grid (latitude beyond 90 "
            "degrees or longitude beyond 180), left alone\n1 tile files, 0 not loaded whole, 0 "
            "abandoned temporary files, 1 tiles outside the grid left alone: problems found\n");
  run = RunCli({"-C", "other", "stats"});
  EXPECT_NE(run.out.find("tile files: 1\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("north 35.05,"), std::string::npos) << run.out;

  std::filesystem::create_directory("here");
  run = RunCli({"-C", "here", "merge", "../other"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "../other: 1 tile files read, 1 tiles gained cells, 1 new cells, 1 left alone\n");
  EXPECT_NE(run.err.find("merge: '../other/RGD/E000N999/E00000-N99995.map': a tile name outside "
                         "the grid"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(std::filesystem::exists("here/RGD/E000N999"));
  EXPECT_EQ(RunCli({"-C", "here", "check"}).status, 0);
}

}  // namespace
}  // namespace roamgrid
