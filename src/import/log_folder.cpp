#include "import/log_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace roamgrid {

namespace {

// What a folder holds, as far as a walk needs it.
struct FolderEntry {
  std::string name;
  bool folder = false;  // a real folder (not a link to one): walked
};

// One folder of the walk: its path, what it holds, and how far the walk is.
struct WalkLevel {
  std::string path;
  std::vector<FolderEntry> entries;  // in byte order of the names
  size_t next = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

// Lists the folder at `path` into `level` (its regular files, links to
// regular files, and folders). False with errno when it cannot be opened
// or listed. A name whose status cannot be had for another reason than
// its being gone (a folder that can be listed but not entered) is a
// problem of the folder: the first such errno goes to `entryError` and
// the folder's other names are passed over with it.
bool ListFolder(const std::string& path, int openFlags, WalkLevel& level, int* entryError) {
  const int fd = OpenPathAnyLength(path, openFlags | O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat self;
  if (fstat(fd, &self) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  level.path = path;
  level.device = self.st_dev;
  level.inode = self.st_ino;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
    errno = 0;
  }
  const int listError = errno;
  std::sort(names.begin(), names.end());
  *entryError = 0;
  for (const std::string& name : names) {
    struct stat status;
    if (fstatat(dirfd(dir), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone meanwhile
      *entryError = errno;
      break;
    }
    if (S_ISDIR(status.st_mode)) {
      level.entries.push_back({name, true});
      continue;
    }
    // A link is read when it leads to a file, never followed to a folder;
    // one that leads nowhere is no log.
    if (S_ISLNK(status.st_mode) && fstatat(dirfd(dir), name.c_str(), &status, 0) != 0) continue;
    if (S_ISREG(status.st_mode)) level.entries.push_back({name, false});
  }
  closedir(dir);
  errno = listError;
  return listError == 0;
}

// Appends every regular file below the folder `top`, depth first, with an
// explicit stack: no depth is too deep for the walk, and a folder met
// again below itself (a bind mount) is named, not walked in a circle.
void ListFolderTree(const std::string& top, LogList& list) {
  std::vector<WalkLevel> stack;
  // Enters the folder at `path`; false when it is not walked.
  const auto enter = [&](const std::string& path, int openFlags) {
    WalkLevel level;
    int entryError = 0;
    const bool listed = ListFolder(path, openFlags, level, &entryError);
    if (!listed) {
      list.unreadableFolders.push_back({path, errno});
      // What was listed before a listing error is still walked.
      if (level.path.empty()) return;
    } else if (entryError != 0) {
      list.unreadableFolders.push_back({path, entryError});
    }
    for (const WalkLevel& above : stack) {
      if (above.device == level.device && above.inode == level.inode) {
        list.unreadableFolders.push_back({path, ELOOP});
        return;
      }
    }
    stack.push_back(std::move(level));
  };
  enter(top, 0);  // the folder given may be a link to one
  while (!stack.empty()) {
    WalkLevel& level = stack.back();
    if (level.next == level.entries.size()) {
      stack.pop_back();
      continue;
    }
    const FolderEntry& entry = level.entries[level.next++];
    const std::string path = level.path.empty() || level.path.back() == '/'
                                 ? level.path + entry.name
                                 : level.path + "/" + entry.name;
    if (entry.folder) {
      // A folder swapped for a link since it was listed is not followed.
      enter(path, O_NOFOLLOW);  // `level` is not used after this
    } else {
      list.logs.push_back({path, true});
    }
  }
}

}  // namespace

int OpenPathAnyLength(const std::string& path, int flags) {
  if (path.size() < size_t(PATH_MAX)) return open(path.c_str(), flags);
  int folder = AT_FDCWD;
  size_t from = 0;
  if (path[0] == '/') {
    folder = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return -1;
    from = 1;
  }
  const auto letGo = [](int fd) {
    if (fd == AT_FDCWD) return;
    const int error = errno;
    close(fd);
    errno = error;
  };
  for (;;) {
    if (path.size() - from < size_t(PATH_MAX)) {
      const int fd = openat(folder, path.c_str() + from, flags);
      letGo(folder);
      return fd;
    }
    // The longest run of whole names that one call takes.
    const size_t cut = path.rfind('/', from + PATH_MAX - 1);
    if (cut == std::string::npos || cut < from) {
      letGo(folder);
      errno = ENAMETOOLONG;  // one name longer than any path
      return -1;
    }
    if (cut == from) {  // "//": nothing between
      from = cut + 1;
      continue;
    }
    // Only searched, not read: a folder that may be entered but not listed
    // still leads on.
    const std::string piece = path.substr(from, cut - from);
    const int next = openat(folder, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    letGo(folder);
    if (next < 0) return -1;
    folder = next;
    from = cut + 1;
  }
}

LogList ExpandLogPaths(const std::vector<std::string>& paths) {
  LogList list;
  for (const std::string& path : paths) {
    struct stat status;
    const int fd = path == "-" ? -1 : OpenPathAnyLength(path, O_PATH | O_CLOEXEC);
    const bool folder = fd >= 0 && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    if (fd >= 0) close(fd);
    if (folder) {
      ListFolderTree(path, list);
    } else {
      list.logs.push_back({path, false});
    }
  }
  return list;
}

}  // namespace roamgrid
