#include "import/log_folder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace roamgrid {

namespace {

void ListFolder(const std::string& folder, LogList& list) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    list.unreadableFolders.push_back({folder, errno});
    return;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
    errno = 0;
  }
  if (errno != 0) list.unreadableFolders.push_back({folder, errno});
  closedir(dir);
  std::sort(names.begin(), names.end());
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const std::string& name : names) {
    const std::string path = prefix + name;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) continue;  // gone meanwhile
    if (S_ISDIR(status.st_mode)) {
      ListFolder(path, list);
      continue;
    }
    // A link is read when it leads to a file, never followed to a folder.
    if (S_ISLNK(status.st_mode) && stat(path.c_str(), &status) != 0) continue;
    if (S_ISREG(status.st_mode)) list.logs.push_back({path, true});
  }
}

}  // namespace

LogList ExpandLogPaths(const std::vector<std::string>& paths) {
  LogList list;
  for (const std::string& path : paths) {
    struct stat status;
    if (path != "-" && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      ListFolder(path, list);
    } else {
      list.logs.push_back({path, false});
    }
  }
  return list;
}

}  // namespace roamgrid
