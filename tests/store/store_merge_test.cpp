// Several computers: `merge STORE...` and `check --fold-conflicts` run as
// the built roamgrid-cli, against stores made by importing generated drives.
#include "store/store_merge.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "store/tile_merge.h"
#include "support/generated_logs.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::RunCli;
using testing::TempDirTest;

// The tile files of the store in `folder` (hidden files such as the lock
// file left out), by path, with their bytes.
std::map<std::string, std::vector<uint8_t>> Tiles(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> tiles;
  for (auto& [path, bytes] : testing::FilesBelow(folder + "/RGD"))
    if (fs::path(path).filename().string()[0] != '.') tiles[path] = bytes;
  return tiles;
}

class StoreMergeTest : public TempDirTest {
 protected:
  // Two drives that share tiles, each imported into its own store, and
  // both into a third.
  void ImportTwoDrives() {
    testing::WriteText("a.log", testing::GeneratedDrive(35.66, 139.76, 1500, 1));
    testing::WriteText("b.log", testing::GeneratedDrive(35.67, 139.77, 1500, 2));
    for (const auto& [store, logs] : std::map<std::string, std::vector<std::string>>{
             {"a", {"../a.log"}}, {"b", {"../b.log"}}, {"both", {"../a.log", "../b.log"}}}) {
      fs::create_directory(store);
      std::vector<std::string> arguments{"-C", store, "import"};
      arguments.insert(arguments.end(), logs.begin(), logs.end());
      ASSERT_EQ(RunCli(arguments).status, 0) << store;
    }
  }
};

TEST_F(StoreMergeTest, MergesInEitherOrderAndTwiceEqualImportingBothLogs) {
  ImportTwoDrives();
  const auto a = Tiles("a"), b = Tiles("b"), both = Tiles("both");
  ASSERT_NE(a, both);
  fs::copy("a", "ab", fs::copy_options::recursive);
  fs::copy("b", "ba", fs::copy_options::recursive);
  CliRun run = RunCli({"-C", "ab", "merge", "../b"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind("../b: " + std::to_string(b.size()) + " tile files read, ", 0), 0u)
      << run.out;
  run = RunCli({"-C", "ba", "merge", "../a"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Tiles("ab"), both);
  EXPECT_EQ(Tiles("ba"), both);
  // Again, and with both sources at once: nothing changes.
  run = RunCli({"-C", "ab", "merge", "../b", "../a"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("../b: " + std::to_string(b.size()) +
                         " tile files read, 0 tiles gained cells, 0 new cells\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Tiles("ab"), both);
  // The sources were only read.
  EXPECT_EQ(Tiles("a"), a);
  EXPECT_EQ(Tiles("b"), b);
}

TEST_F(StoreMergeTest, NamesAndSkipsDamagedSourceTilesAndRefusesItself) {
  ImportTwoDrives();
  const auto b = Tiles("b");
  ASSERT_GE(b.size(), 2u);
  // One tile of b cut short (its code stream ends early), one tile of b
  // that a has not got, also cut short.
  const std::string damaged = "RGD/" + b.begin()->first;
  std::vector<uint8_t> shortened = b.begin()->second;
  shortened.resize(shortened.size() / 2);
  testing::WriteBytes("b/" + damaged, shortened);
  testing::WriteBytes("b/RGD/E010N010/E01000-N01000.map", testing::Hex("00 00 01 41"));
  // A link in place of a tile is not read, wherever it leads.
  fs::create_directories("b/RGD/E011N011");
  fs::create_symlink(fs::absolute("b/" + damaged), "b/RGD/E011N011/E01100-N01100.map");
  fs::copy("a", "merged", fs::copy_options::recursive);
  CliRun run = RunCli({"-C", "merged", "merge", "../b"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("merge: '../b/RGD/E011N011/E01100-N01100.map': not a regular file; "
                         "skipped"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("merge: '../b/" + damaged + "': damaged; skipped"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("merge: '../b/RGD/E010N010/E01000-N01000.map': damaged; skipped"),
            std::string::npos)
      << run.err;
  const auto merged = Tiles("merged");
  EXPECT_EQ(merged.count("E010N010/E01000-N01000.map"), 0u);
  EXPECT_EQ(merged.at(b.begin()->first), Tiles("a").at(b.begin()->first));  // left as a had it
  for (const auto& [path, bytes] : Tiles("both")) {
    if (path == b.begin()->first) continue;
    EXPECT_EQ(merged.at(path), bytes) << path;
  }

  // This store, however named, is refused; so is a folder without RGD.
  fs::create_directory_symlink("merged", "link");
  fs::create_directory("empty");
  struct Case {
    std::string store, message;
  };
  for (const Case& c : {Case{".", "'.' is this store"}, Case{"../link", "'../link' is this store"},
                        Case{"RGD/..", "'RGD/..' is this store"},
                        Case{"../empty", "'../empty' has no RGD folder"}}) {
    run = RunCli({"-C", "merged", "merge", c.store});
    EXPECT_EQ(run.status, 1) << c.store;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(Tiles("merged"), merged);
}

TEST_F(StoreMergeTest, LeavesAndNamesTheStoresOwnDamagedOrUnreadableTiles) {
  ImportTwoDrives();
  const auto a = Tiles("a");
  const auto b = Tiles("b");
  std::vector<std::string> shared;
  for (const auto& [path, bytes] : b)
    if (a.count(path) && a.at(path) != Tiles("both").at(path)) shared.push_back(path);
  ASSERT_GE(shared.size(), 3u);
  fs::copy("a", "merged", fs::copy_options::recursive);
  // The store's tile cut short: saving over it would drop what lies past
  // the cut. A folder where the store's tile stands cannot be read. Where
  // the other store's copy is damaged too, that is what is named.
  std::vector<uint8_t> shortened = a.at(shared[0]);
  shortened.resize(shortened.size() / 2);
  testing::WriteBytes("merged/RGD/" + shared[0], shortened);
  for (const std::string& tile : {shared[1], shared[2]}) {
    fs::remove("merged/RGD/" + tile);
    fs::create_directory("merged/RGD/" + tile);
  }
  std::vector<uint8_t> damagedCopy = b.at(shared[2]);
  damagedCopy.resize(damagedCopy.size() / 2);
  testing::WriteBytes("b/RGD/" + shared[2], damagedCopy);

  const CliRun run = RunCli({"-C", "merged", "merge", "../b"});
  EXPECT_EQ(run.status, 1);
  for (const std::string& message :
       {"merge: '../b/RGD/" + shared[0] + "': the tile file 'RGD/" + shared[0] +
            "' is damaged (see check); skipped",
        "merge: '../b/RGD/" + shared[1] + "': the tile file 'RGD/" + shared[1] +
            "' cannot be read: Is a directory; skipped",
        "merge: '../b/RGD/" + shared[2] + "': damaged; skipped"})
    EXPECT_NE(run.err.find(message), std::string::npos) << message << "\n" << run.err;
  const auto merged = Tiles("merged");
  EXPECT_EQ(merged.at(shared[0]), shortened);
  for (const auto& [path, bytes] : Tiles("both")) {
    if (path != shared[0] && path != shared[1] && path != shared[2]) {
      EXPECT_EQ(merged.at(path), bytes) << path;
    }
  }
}

TEST_F(StoreMergeTest, FoldsConflictCopiesIntoTheirTiles) {
  ImportTwoDrives();
  // The other computer's version of a tile both drives touched, under the
  // names sync tools give it, and a damaged one.
  std::string shared;
  for (const auto& [path, bytes] : Tiles("b"))
    if (Tiles("a").count(path) && Tiles("a").at(path) != bytes) shared = path;
  ASSERT_FALSE(shared.empty());
  const std::string folder = "a/RGD/" + shared.substr(0, shared.find('/') + 1);
  const std::string stem = shared.substr(shared.find('/') + 1, 13);
  const std::vector<std::string> copies = {
      stem + " (Ann's conflicted copy 2026-12-07).map",
      stem + ".map~",
      stem + ".sync-conflict-20261207-101010-ABCDEFG.map",
  };
  for (const std::string& copy : copies) fs::copy_file("b/RGD/" + shared, folder + copy);
  testing::WriteBytes(folder + stem + ".map.orig", testing::Hex("00 00 01 41"));
  const auto before = Tiles("a");

  CliRun run = RunCli({"-C", "a", "check"});
  EXPECT_EQ(run.status, 1);
  for (const std::string& copy : copies)
    EXPECT_NE(run.out.find(folder.substr(2) + copy + ": conflict copy of RGD/" + shared + "\n"),
              std::string::npos)
        << run.out;
  EXPECT_NE(run.out.find(", 4 conflict copies: problems found"), std::string::npos) << run.out;
  EXPECT_EQ(Tiles("a"), before);

  run = RunCli({"-C", "a", "check", "--fold-conflicts"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find(stem + ".map.orig: conflict copy of RGD/" + shared +
                         ", not folded: damaged\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(", 4 conflict copies (3 folded): problems found"), std::string::npos)
      << run.out;
  for (const std::string& copy : copies) EXPECT_FALSE(fs::exists(folder + copy)) << copy;
  EXPECT_TRUE(fs::exists(folder + stem + ".map.orig"));
  EXPECT_EQ(Tiles("a").at(shared), Tiles("both").at(shared));
}

TEST(ConflictCopyOf, KnowsTheNamesSyncToolsGive) {
  const std::optional<std::string> tile = "E13970-N03560.map";
  const struct {
    const char* name;
    std::optional<std::string> copyOf;
  } cases[] = {
      {"E13970-N03560.sync-conflict-20261207-101010-ABCDEFG.map", tile},
      {"E13970-N03560 (Ann's conflicted copy 2026-12-07).map", tile},
      {"E13970-N03560 (conflicted copy 2026-12-07 101010).map", tile},
      {"E13970-N03560.map.orig", tile},
      {"E13970-N03560.map~", tile},
      {"E13970-N03560.map", {}},
      {"E13970-N03560.sync-conflict-2026127-101010-ABCDEFG.map", {}},
      {"E13970-N03560.sync-conflict-20261207-101010-ABCDEFG.map~", {}},
      {"E13970-N03560 (copy 2026-12-07).map", {}},
      {"E13970-N03560.map.bak", {}},
      {".roamgrid-42-0.tmp", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ConflictCopyOf(c.name), c.copyOf) << c.name;
}

}  // namespace
}  // namespace roamgrid
