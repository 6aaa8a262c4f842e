// Folders given to an import: every log below them in name order, at any
// depth, and every folder that cannot be walked named.
#include "import/log_folder.h"
#include "import/log_import.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "import/nmea_reader.h"
#include "support/generated_logs.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::WriteText;

class LogFolderTest : public testing::TempDirTest {
 protected:
  // Makes `levels` folders named `name`, each inside the one before, below
  // `top`, one call per folder relative to the one above it (the whole path
  // may be longer than a path the system takes), and in the bottom one the
  // file `file` holding `text`. Returns the bottom folder's path.
  static std::string MakeDeepFolder(const std::string& top, const std::string& name, int levels,
                                    const std::string& file, const std::string& text) {
    fs::create_directory(top);
    int folder = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string path = top;
    for (int i = 0; i < levels && folder >= 0; ++i) {
      EXPECT_EQ(mkdirat(folder, name.c_str(), 0755), 0);
      const int next = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      close(folder);
      folder = next;
      path += "/" + name;
    }
    const int fd = openat(folder, file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
    close(fd);
    if (folder >= 0) close(folder);
    return path;
  }

  // Removes the deep folder below `top` from the bottom up, again one
  // call per folder (the temporary folder's own removal takes whole paths).
  static void RemoveDeepFolder(const std::string& top, const std::string& name, int levels,
                               const std::string& file) {
    std::vector<int> folders{open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    for (int i = 0; i < levels; ++i)
      folders.push_back(openat(folders.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    unlinkat(folders.back(), file.c_str(), 0);
    for (int i = levels; i > 0; --i) {
      close(folders[size_t(i)]);
      EXPECT_EQ(unlinkat(folders[size_t(i) - 1], name.c_str(), AT_REMOVEDIR), 0);
    }
    close(folders[0]);
  }
};

TEST_F(LogFolderTest, ListsRegularFilesAndLinksToThemInNameOrder) {
  WriteText("trips/b/2.log", "x");
  WriteText("trips/a.log", "x");
  WriteText("trips/c/d/e.log", "x");
  WriteText("elsewhere/x.log", "x");
  fs::create_directory_symlink("../../elsewhere", "trips/b/folder-link");  // not followed
  fs::create_symlink("../../elsewhere/x.log", "trips/b/file-link");
  fs::create_symlink("nowhere", "trips/dangling");
  ASSERT_EQ(mkfifo("trips/pipe", 0644), 0);             // no log, and never waited for
  fs::create_directory_symlink("trips", "trips-link");  // given by name: followed
  const LogList list = ExpandLogPaths({"trips", "-", "missing.log", "trips-link/c"});
  std::vector<std::string> paths;
  for (const LogList::Log& log : list.logs)
    paths.push_back(log.path + (log.inFolder ? "" : " given"));
  EXPECT_EQ(paths, (std::vector<std::string>{"trips/a.log", "trips/b/2.log", "trips/b/file-link",
                                             "trips/c/d/e.log", "- given", "missing.log given",
                                             "trips-link/c/d/e.log"}));
  EXPECT_TRUE(list.unreadableFolders.empty());
}

// Deeper than PATH_MAX: walked, and each log found there opens.
TEST_F(LogFolderTest, WalksAndImportsBelowPathMax) {
  const std::string name(200, 'd');
  const int levels = PATH_MAX / 200 + 3;
  const std::string bottom = MakeDeepFolder("deep", name, levels, "drive.log",
                                            testing::GgaSentence(35.66, 139.76) + "\r\n");
  ASSERT_GT(bottom.size(), size_t(PATH_MAX));
  const LogList list = ExpandLogPaths({"deep"});
  EXPECT_TRUE(list.unreadableFolders.empty());
  ASSERT_EQ(list.logs.size(), 1u);
  EXPECT_EQ(list.logs[0].path, bottom + "/drive.log");
  TrackRecorder recorder;
  ImportReport report;
  EXPECT_TRUE(ImportNmeaLog(recorder, list.logs[0].path, &report));
  EXPECT_EQ(report.fixes, 1);
  // Absolute paths take the same way, from the root.
  EXPECT_GE(close(OpenPathAnyLength((dir() / bottom).string(), O_RDONLY | O_CLOEXEC)), 0);
  errno = 0;
  EXPECT_EQ(OpenPathAnyLength(bottom + "/" + std::string(PATH_MAX, 'x'), O_RDONLY), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  RemoveDeepFolder("deep", name, levels, "drive.log");
}

// A folder that can be listed but not entered (r--) hides what it holds:
// it is named, as a folder that cannot be listed is.
TEST_F(LogFolderTest, NamesFoldersThatCannotBeListedOrEntered) {
  if (geteuid() == 0) GTEST_SKIP() << "root enters every folder";
  WriteText("trips/a.log", "x");
  WriteText("trips/listed/b.log", "x");
  WriteText("trips/shut/c.log", "x");
  fs::permissions("trips/listed", fs::perms::owner_read);
  fs::permissions("trips/shut", fs::perms::none);
  const LogList list = ExpandLogPaths({"trips"});
  fs::permissions("trips/listed", fs::perms::owner_all);
  fs::permissions("trips/shut", fs::perms::owner_all);
  ASSERT_EQ(list.logs.size(), 1u);
  EXPECT_EQ(list.logs[0].path, "trips/a.log");
  ASSERT_EQ(list.unreadableFolders.size(), 2u);
  EXPECT_EQ(list.unreadableFolders[0].path, "trips/listed");
  EXPECT_EQ(list.unreadableFolders[0].error, EACCES);
  EXPECT_EQ(list.unreadableFolders[1].path, "trips/shut");
  EXPECT_EQ(list.unreadableFolders[1].error, EACCES);
}

}  // namespace
}  // namespace roamgrid
