#include "common/store_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/text.h"

namespace roamgrid {

namespace {

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// mkdir -p: creates each missing folder of the absolute `path`, mode 0700
// (the store is one person's record of where they have been). Returns 0 or
// the errno of the step that failed.
int MakeFolders(const std::string& path) {
  for (size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && path[end] != '/') continue;
    if (path[end - 1] == '/') continue;  // "//" or a trailing "/"
    const std::string prefix = path.substr(0, end);
    if (mkdir(prefix.c_str(), 0700) == 0) continue;
    const int error = errno;
    struct stat info;
    // Something already there: a folder (or a link to one) is fine; for
    // anything else chdir below names the reason.
    if (error == EEXIST || stat(prefix.c_str(), &info) == 0) continue;
    return error;
  }
  return 0;
}

}  // namespace

bool TakeStoreOption(const std::vector<std::string>& arguments, size_t& at,
                     StoreFolderRequest& request, std::string& error) {
  const std::string& argument = arguments[at];
  if (argument == "--user-store") {
    ++at;
    if (request.userStore)
      error = "--user-store given twice";
    else if (!request.directories.empty())
      error = "-C and --user-store exclude each other";
    request.userStore = true;
    return true;
  }
  if (argument != "-C") return false;
  if (at + 1 >= arguments.size()) {
    error = "-C needs a directory";
  } else if (arguments[at + 1].empty()) {
    error = "-C: the directory is empty";
  } else if (request.userStore) {
    error = "-C and --user-store exclude each other";
  } else {
    request.directories.push_back(arguments[at + 1]);
  }
  at += 2;
  return true;
}

std::string UserStoreFolder(const char* xdgDataHome, const char* home) {
  // A relative XDG_DATA_HOME is not valid and is ignored, as the XDG base
  // directory rules say.
  if (IsAbsolute(xdgDataHome)) return std::string(xdgDataHome) + "/roamgrid";
  if (IsAbsolute(home)) return std::string(home) + "/.local/share/roamgrid";
  return {};
}

std::string EnterStoreFolder(const StoreFolderRequest& request) {
  return EnterStoreFolder(request, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

std::string EnterStoreFolder(const StoreFolderRequest& request, const char* xdgDataHome,
                             const char* home) {
  if (request.userStore) {
    const std::string folder = UserStoreFolder(xdgDataHome, home);
    if (folder.empty())
      return "--user-store: neither XDG_DATA_HOME nor HOME names an absolute folder";
    if (const int error = MakeFolders(folder); error != 0)
      return "--user-store: cannot create the folder " + Quoted(folder) + ": " +
             std::strerror(error);
    if (chdir(folder.c_str()) != 0)
      return "--user-store: cannot change to " + Quoted(folder) + ": " + std::strerror(errno);
  }
  for (const std::string& directory : request.directories) {
    if (chdir(directory.c_str()) != 0)
      return "-C: cannot change to " + Quoted(directory) + ": " + std::strerror(errno);
  }
  return {};
}

}  // namespace roamgrid
