// The store folder of both programs: reading -C and --user-store, naming
// the user store folder, and entering (and creating) it.
#include "common/store_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

TEST(TakeStoreOption, ReadsTheStoreOptionsAndRefusesWrongOnes) {
  struct Case {
    Args arguments;
    StoreFolderRequest request;  // after reading every store option
    size_t stoppedAt;            // index of the first argument not taken
    std::string error;           // part of the error, or empty
  };
  const Case cases[] = {
      {{"-C", "a", "-C", "b/c", "stats"}, {{"a", "b/c"}, false}, 4, ""},
      {{"--user-store", "stats"}, {{}, true}, 1, ""},
      {{"stats", "-C", "a"}, {}, 0, ""},
      {{"-C"}, {}, 2, "-C needs a directory"},
      {{"-C", ""}, {}, 2, "the directory is empty"},
      {{"-C", "a", "--user-store"}, {{"a"}, true}, 3, "exclude each other"},
      {{"--user-store", "-C", "a"}, {{}, true}, 3, "exclude each other"},
      {{"--user-store", "--user-store"}, {{}, true}, 2, "given twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "" : c.arguments[0] + " ...");
    StoreFolderRequest request;
    std::string error;
    size_t at = 0;
    while (at < c.arguments.size() && error.empty() &&
           TakeStoreOption(c.arguments, at, request, error)) {
    }
    EXPECT_EQ(at, c.stoppedAt);
    if (c.error.empty()) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(request, c.request);
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}

TEST(UserStoreFolder, FollowsXdgDataHomeThenHome) {
  struct Case {
    const char* xdgDataHome;
    const char* home;
    std::string folder;
  };
  const Case cases[] = {
      {"/data", "/home/u", "/data/roamgrid"},
      {nullptr, "/home/u", "/home/u/.local/share/roamgrid"},
      {"", "/home/u", "/home/u/.local/share/roamgrid"},
      {"relative/data", "/home/u", "/home/u/.local/share/roamgrid"},  // not valid: ignored
      {nullptr, nullptr, ""},
      {nullptr, "relative", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UserStoreFolder(c.xdgDataHome, c.home), c.folder)
        << (c.xdgDataHome ? c.xdgDataHome : "(unset)") << " " << (c.home ? c.home : "(unset)");
}

class EnterStoreFolderTest : public testing::TempDirTest {};

TEST_F(EnterStoreFolderTest, UserStoreIsCreatedPrivateAndSharedWithMinusC) {
  const std::string xdg = (dir() / "data/deeper").string();
  StoreFolderRequest user;
  user.userStore = true;
  ASSERT_EQ(EnterStoreFolder(user, xdg.c_str(), "/nowhere"), "");
  const fs::path store = dir() / "data/deeper/roamgrid";
  EXPECT_TRUE(fs::equivalent(fs::current_path(), store));
  struct stat info;
  ASSERT_EQ(stat((dir() / "data").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  testing::WriteText("Roamgrid.cfg", "home");

  // Entering it again finds the same folder; -C reaches it too.
  fs::current_path(dir());
  ASSERT_EQ(EnterStoreFolder(user, xdg.c_str(), nullptr), "");
  EXPECT_TRUE(fs::exists("Roamgrid.cfg"));
  fs::current_path(dir());
  ASSERT_EQ(EnterStoreFolder({{"data", "deeper/roamgrid"}, false}, nullptr, nullptr), "");
  EXPECT_TRUE(fs::equivalent(fs::current_path(), store));
}

TEST_F(EnterStoreFolderTest, AFolderThatCannotBeUsedIsAnErrorWithTheReason) {
  testing::WriteText("file", "");
  struct Case {
    StoreFolderRequest request;
    const char* xdgDataHome;
    std::string error;
  };
  const Case cases[] = {
      {{{}, true},
       "/proc/roamgrid-test",
       "cannot create the folder '/proc/roamgrid-test/roamgrid'"},
      {{{}, true}, nullptr, "neither XDG_DATA_HOME nor HOME"},
      {{{"missing"}, false}, nullptr, "cannot change to 'missing': No such file or directory"},
      {{{"file"}, false}, nullptr, "cannot change to 'file': Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const std::string error = EnterStoreFolder(c.request, c.xdgDataHome, nullptr);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir()));
  }
  // A file where the user store folder should be.
  StoreFolderRequest user;
  user.userStore = true;
  fs::create_directories("xdg");
  testing::WriteText("xdg/roamgrid", "");
  const std::string xdg = (dir() / "xdg").string();
  EXPECT_NE(EnterStoreFolder(user, xdg.c_str(), nullptr).find("Not a directory"),
            std::string::npos);
  EXPECT_TRUE(fs::equivalent(fs::current_path(), dir()));
}

}  // namespace
}  // namespace roamgrid
