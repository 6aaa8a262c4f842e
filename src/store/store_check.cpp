#include "store/store_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/safe_file.h"
#include "common/temp_name.h"
#include "tiles/store_lock.h"
#include "tiles/tile_file.h"

namespace roamgrid {

namespace {

// Removes `name` from the tile folder `folder`, which is opened without
// following a link: a folder swapped for a link since the walk leads
// nowhere else. Gone already (another check removed it): what was asked
// is done. Returns 0 or the errno of the failure.
int RemoveTempFile(const std::string& folder, const std::string& name) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = unlinkat(fd, name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
  close(fd);
  return error;
}

// The bytes of the file at `path` as a tile read takes them; empty when it
// cannot be read.
std::vector<uint8_t> ReadWhole(const std::string& path) {
  std::vector<uint8_t> bytes(kMaxTileFileSize);
  const long size = ReadTileFile(path.c_str(), bytes.data());
  bytes.resize(size < 0 ? 0 : size_t(size));
  return bytes;
}

// A copy as found, not yet folded.
ConflictCopyFound Found(const StoreStats::ConflictCopy& copy) {
  ConflictCopyFound found;
  found.path = copy.path;
  found.tilePath = copy.tilePath;
  return found;
}

}  // namespace

std::vector<StoreStats::ConflictCopy> FindConflictCopies() {
  std::vector<StoreStats::ConflictCopy> copies;
  WalkStore([&](const StoreEntry& entry) {
    if (std::optional<StoreStats::ConflictCopy> copy = ConflictCopyAt(entry)) {
      copies.push_back(std::move(*copy));
    }
  });
  return copies;
}

ConflictCopyFound FoldConflictCopy(const StoreStats::ConflictCopy& copy) {
  ConflictCopyFound found = Found(copy);
  const std::vector<uint8_t> before = ReadWhole(copy.path);
  found.merge = MergeTileFile(copy.path, copy.key.latKey, copy.key.lonKey);
  const bool kept = found.merge.outcome == TileMerge::Outcome::kMerged ||
                    found.merge.outcome == TileMerge::Outcome::kUnchanged;
  if (kept) {
    // Its marks are in the tile now. Under the lock no save is between
    // its look at the folder and its rename; a copy that a sync tool
    // replaced since it was read stays for the next fold.
    const StoreLock lock;
    if (ReadWhole(copy.path) == before) {
      found.folded = unlink(copy.path.c_str()) == 0 || errno == ENOENT;
      if (!found.folded) found.removeError = errno;
    }
  }
  return found;
}

std::string NotFoldedReason(const ConflictCopyFound& copy) {
  if (copy.folded) return {};
  if (copy.removeError != 0) {
    return "folded, but cannot be removed: " + FileErrorText(copy.removeError);
  }
  const std::string problem = TileMergeProblem(copy.merge, copy.tilePath);
  return problem.empty() ? "it changed meanwhile; fold again" : problem;
}

ConflictFold FoldConflictCopies(TaskProgress* progress) {
  // Lock waits go to the progress window, whose Cancel gives them up.
  struct TellProgress : StoreLockWait {
    TaskProgress* progress;
    explicit TellProgress(TaskProgress* told) : progress(told) {}
    void Waiting(bool waiting) override {
      if (progress) progress->WaitingForStoreLock(waiting);
    }
    bool Stop() override { return progress && progress->Cancelled(); }
  } tell(progress);
  const ScopedStoreLockWait waitHandler(&tell);
  ConflictFold fold;
  const std::vector<StoreStats::ConflictCopy> copies = FindConflictCopies();
  for (size_t i = 0; i < copies.size(); ++i) {
    if (progress) {
      progress->Advance((long long)i, (long long)copies.size());
      if (progress->Cancelled()) {
        fold.stopped = true;
        break;
      }
    }
    ConflictCopyFound found = FoldConflictCopy(copies[i]);
    // A copy merged but not removed has added its cells all the same.
    fold.newCells += found.merge.newCells;
    if (found.folded) {
      ++fold.folded;
    } else {
      fold.left.push_back(std::move(found));
    }
  }
  return fold;
}

StoreCheck CheckStore(bool clean, bool foldConflicts) {
  StoreStats stats = CollectStoreStats();
  StoreCheck check;
  check.tileFiles = stats.tileFiles;
  check.notLoadedWhole = std::move(stats.notLoadedWhole);
  check.unreadableFolders = std::move(stats.unreadableFolders);
  check.oddEntries = std::move(stats.oddEntries);
  check.outsideGrid = std::move(stats.outsideGrid);
  for (const StoreStats::ConflictCopy& copy : stats.conflictCopies) {
    if (foldConflicts) {
      check.conflictCopies.push_back(FoldConflictCopy(copy));
    } else {
      check.conflictCopies.push_back(Found(copy));
    }
  }
  if (stats.tempFiles.empty()) return check;
  // A writer holds the lock from creating its temporary file to the rename,
  // so under it a file whose writer is gone stays abandoned.
  const StoreLock lock;
  for (const std::string& path : stats.tempFiles) {
    const size_t slash = path.rfind('/');
    const std::string name = path.substr(slash + 1);
    if (!IsAbandonedTempFile(name)) continue;
    AbandonedTempFile temp{path};
    if (clean) {
      temp.error = RemoveTempFile(path.substr(0, slash), name);
      temp.removed = temp.error == 0;
    }
    check.abandonedTempFiles.push_back(std::move(temp));
  }
  return check;
}

}  // namespace roamgrid
