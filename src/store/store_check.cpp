#include "store/store_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

StoreCheck CheckStore(bool clean, bool foldConflicts) {
  StoreStats stats = CollectStoreStats();
  StoreCheck check;
  check.tileFiles = stats.tileFiles;
  check.notLoadedWhole = std::move(stats.notLoadedWhole);
  check.unreadableFolders = std::move(stats.unreadableFolders);
  check.oddEntries = std::move(stats.oddEntries);
  check.outsideGrid = std::move(stats.outsideGrid);
  for (const StoreStats::ConflictCopy& copy : stats.conflictCopies) {
    ConflictCopyFound found;
    found.path = copy.path;
    found.tilePath = copy.tilePath;
    if (foldConflicts) {
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
    }
    check.conflictCopies.push_back(std::move(found));
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
