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
// their contents in byte order of the names, depth first, however deep
// (paths longer than PATH_MAX included); links to folders found there are
// not followed, links to files are read, other files (pipes, devices) are
// passed over. Every other path, "-" included, stays as it is. Named in
// unreadableFolders, with the errno, and the rest still listed: a folder
// that cannot be listed, one that can be listed but not entered (EACCES:
// what it holds is passed over), and one met again below itself (ELOOP).
LogList ExpandLogPaths(const std::vector<std::string>& paths);

// open(2) of `path` with `flags`, for a path of any length: one longer
// than PATH_MAX is opened a run of names at a time, each relative to the
// folder before it. -1 with errno when it cannot be opened.
int OpenPathAnyLength(const std::string& path, int flags);

}  // namespace roamgrid
