#include "store/store_merge.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "store/store_stats.h"
#include "tiles/store_lock.h"

namespace roamgrid {

namespace {

namespace fs = std::filesystem;

constexpr char kStoreRoot[] = "RGD";
// Tiles merged under one hold of the store lock.
constexpr int kTilesUnderLock = 8;

// Names of the folders (wantFolders) or regular files in `folder`, links
// followed, sorted. False when it cannot be listed.
bool ListEntries(const fs::path& folder, bool wantFolders, std::vector<std::string>* names) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return false;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) return false;
    std::error_code typeError;
    const bool wanted = wantFolders ? it->is_directory(typeError) : it->is_regular_file(typeError);
    if (wanted && !typeError) names->push_back(it->path().filename().string());
  }
  std::sort(names->begin(), names->end());
  return !error;
}

// The same file or folder (device and inode), links followed.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

StoreMergeReport MergeStore(const std::string& store) {
  StoreMergeReport report;
  const std::string root = store + "/" + kStoreRoot;
  // By what the names lead to, not by how they are spelt: "../here",
  // a link to this folder or to its RGD.
  if (SameFile(store, ".") || SameFile(root, kStoreRoot)) {
    report.refused = "is this store";
    return report;
  }
  struct stat info;
  if (stat(root.c_str(), &info) != 0) {
    report.refused = errno == ENOENT
                         ? "has no RGD folder (give the folder that holds RGD/)"
                         : std::string("cannot read its RGD folder: ") + std::strerror(errno);
    return report;
  }
  std::vector<std::string> folders;
  if (!S_ISDIR(info.st_mode) || !ListEntries(root, true, &folders)) {
    report.refused = "cannot read its RGD folder";
    return report;
  }
  // Several tiles' saves share one hold of the store lock (a save inside
  // takes it over), so that other programs wait no longer than a few saves.
  std::optional<StoreLock> lock;
  int underLock = 0;
  for (const std::string& folder : folders) {
    std::vector<std::string> files;
    if (!ListEntries(root + "/" + folder, false, &files)) {
      report.unreadableFolders.push_back(root + "/" + folder);
      continue;
    }
    for (const std::string& file : files) {
      // The path this store gives the tile: only exact tile names are taken
      // (conflict copies and anything else of the other store are not).
      const std::string tilePath = std::string(kStoreRoot) + "/" + folder + "/" + file;
      const std::optional<TileKey> key = TileKeyFromPath(tilePath);
      const std::string path = root + "/" + folder + "/" + file;
      if (!key) {
        if (IsTileNameOutsideGrid(tilePath)) report.outsideGrid.push_back(path);
        continue;
      }
      ++report.tileFiles;
      if (underLock == kTilesUnderLock) lock.reset();
      if (!lock) {
        lock.emplace();
        underLock = 0;
      }
      ++underLock;
      const TileMerge merge = MergeTileFile(path, key->latKey, key->lonKey);
      report.newCells += merge.newCells;
      switch (merge.outcome) {
        case TileMerge::Outcome::kMerged:
          ++report.tilesChanged;
          break;
        case TileMerge::Outcome::kUnchanged:
          break;
        default:
          report.newCells -= merge.newCells;  // not saved: not added
          report.problems.push_back({path, tilePath, merge});
          break;
      }
    }
  }
  return report;
}

}  // namespace roamgrid
