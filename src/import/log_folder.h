// The logs an import is given: paths of logs, and folders that stand for
// every regular file below them, each then judged by its content.
#pragma once

#include <string>
#include <vector>

namespace roamgrid {

struct LogList {
  struct Log {
    std::string path;
    bool inFolder = false;  // found in a folder: read only if it is a log
  };
  struct FolderProblem {
    std::string path;
    int error = 0;  // errno
  };
  std::vector<Log> logs;
  std::vector<FolderProblem> unreadableFolders;
};

// Expands `paths` in the order given: a folder (a link to one given by
// name included) becomes every regular file below it, folders before
// their contents in byte order of the names, depth first; links to
// folders found there are not followed, links to files are read, other
// files (pipes, devices) are passed over. Every other path, "-" included,
// stays as it is. A folder that cannot be listed is named in
// unreadableFolders; the rest is still listed.
LogList ExpandLogPaths(const std::vector<std::string>& paths);

}  // namespace roamgrid
