#include "store/store_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "common/temp_name.h"
#include "tiles/grid_units.h"
#include "tiles/track_tile.h"

namespace roamgrid {

namespace {

constexpr char kStoreRoot[] = "RGD";
constexpr int kKeyDigits = 5;
constexpr char kOldLockName[] = ".lock";
constexpr char kOldTempMark[] = ".tmp";
// The largest latitude key of a tile in the grid, in centidegrees.
constexpr int32_t kMaxLatKey = 9000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the five digits of a key magnitude at text[at..at + 4].
std::optional<int32_t> KeyDigits(const std::string& text, size_t at) {
  int32_t value = 0;
  for (size_t i = at; i < at + kKeyDigits; ++i) {
    if (!IsDigit(text[i])) return {};
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// What kind of file an entry is, links not followed: the S_IFMT bits, or 0
// when its status cannot be had.
struct Listed {
  std::string name;
  mode_t type = 0;
};

mode_t TypeOf(int folder, const dirent& entry) {
  switch (entry.d_type) {
    case DT_REG:
      return S_IFREG;
    case DT_DIR:
      return S_IFDIR;
    case DT_LNK:
      return S_IFLNK;
    case DT_FIFO:
      return S_IFIFO;
    case DT_SOCK:
      return S_IFSOCK;
    case DT_CHR:
      return S_IFCHR;
    case DT_BLK:
      return S_IFBLK;
  }
  struct stat info;  // a file system that does not tell the type in the listing
  return fstatat(folder, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 ? info.st_mode & S_IFMT : 0;
}

// The entries of the open folder `fd` (taken and closed), sorted by name;
// false with errno when it cannot be listed.
bool ListFolder(int fd, std::vector<Listed>* entries) {
  DIR* folder = fdopendir(fd);
  if (!folder) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  errno = 0;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") entries->push_back({name, TypeOf(fd, *entry)});
    errno = 0;
  }
  const int error = errno;
  closedir(folder);
  errno = error;
  if (error != 0) return false;
  std::sort(entries->begin(), entries->end(),
            [](const Listed& a, const Listed& b) { return a.name < b.name; });
  return true;
}

// A temporary file name that this program makes in a tile folder: the
// current form, or "<tile name>.tmp<pid>-<n>" of earlier versions beside
// the tile it was to replace.
bool IsOwnTempName(const std::string& folder, const std::string& name) {
  if (!TempFileWriter(name)) return false;
  if (name.starts_with(".roamgrid-")) return true;
  const size_t mark = name.rfind(kOldTempMark);
  return TileKeyFromPath(folder + "/" + name.substr(0, mark)).has_value();
}

void WalkTileFolder(int root, const std::string& name,
                    const std::function<void(const StoreEntry&)>& visit) {
  StoreEntry entry;
  entry.folder = std::string(kStoreRoot) + "/" + name;
  std::vector<Listed> files;
  const int fd = openat(root, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 || !ListFolder(fd, &files)) {
    entry.kind = StoreEntry::Kind::kUnreadableFolder;
    entry.path = entry.folder;
    entry.name = name;
    entry.error = errno;
    visit(entry);
    return;
  }
  for (const Listed& file : files) {
    entry.name = file.name;
    entry.path = entry.folder + "/" + file.name;
    entry.error = 0;
    entry.what = "";
    entry.regular = file.type == S_IFREG;
    if (const std::optional<TileKey> key = TileKeyFromPath(entry.path)) {
      entry.key = *key;
      if (file.type == S_IFREG) {
        entry.kind = StoreEntry::Kind::kTileFile;
      } else {
        entry.kind = StoreEntry::Kind::kNotRegularTile;
        entry.error = file.type == S_IFDIR ? EISDIR : EINVAL;
      }
    } else if (IsTileNameOutsideGrid(entry.path)) {
      entry.kind = StoreEntry::Kind::kOutsideGrid;
      entry.what = kOutsideGridText;
    } else if (file.type == S_IFREG && IsOwnTempName(entry.folder, file.name)) {
      entry.kind = StoreEntry::Kind::kTempFile;
    } else {
      entry.kind = StoreEntry::Kind::kOdd;
      entry.what =
          file.type == S_IFLNK ? "a symbolic link, not followed" : "not a name of the store";
    }
    visit(entry);
  }
}

// The keys a path names in the store's form ("RGD/E139N035/E13975-N03500.map"),
// whatever their range: keys that are multiples of 5, and the path the
// store forms for them. Nothing for any other name.
std::optional<TileKey> KeysOfTileName(const std::string& path) {
  // The file name alone gives the keys; the whole path must then be the
  // one the store forms for them.
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  constexpr size_t kNameLength = 2 * (1 + kKeyDigits) + 1 + 4;  // E13975-N03500.map
  if (name.size() != kNameLength || name[6] != '-' || name.compare(13, 4, ".map") != 0) return {};
  const char ew = name[0];
  const char ns = name[7];
  if ((ew != 'E' && ew != 'W') || (ns != 'N' && ns != 'S')) return {};
  std::optional<int32_t> lon = KeyDigits(name, 1);
  std::optional<int32_t> lat = KeyDigits(name, 8);
  if (!lon || !lat) return {};
  const TileKey key{ns == 'S' ? -*lat : *lat, ew == 'W' ? -*lon : *lon};
  if (key.latKey % kCentiPerTile != 0 || key.lonKey % kCentiPerTile != 0) return {};
  char expected[kTilePathSize];
  if (!FormatTilePath(key.latKey, key.lonKey, expected) || path != expected) return {};
  return key;
}

// Whether the tile of `key` lies in the grid: its south edge from 90 S to
// 90 N (a fix at the North Pole falls into the tile whose south edge is
// 90 N) and its west edge from 180 W to 179.95 E.
bool InGrid(TileKey key) {
  return key.latKey >= -kMaxLatKey && key.latKey <= kMaxLatKey &&
         key.lonKey == NormalizeLonKey(key.lonKey);
}

}  // namespace

std::optional<TileKey> TileKeyFromPath(const std::string& path) {
  const std::optional<TileKey> key = KeysOfTileName(path);
  if (!key || !InGrid(*key)) return {};
  return key;
}

bool IsTileNameOutsideGrid(const std::string& path) {
  const std::optional<TileKey> key = KeysOfTileName(path);
  return key && !InGrid(*key);
}

bool IsTileFolderName(const std::string& name) {
  // "E139N035": the hemispheres and the magnitudes of the keys / 100.
  if (name.size() != 8 || (name[0] != 'E' && name[0] != 'W') || (name[4] != 'N' && name[4] != 'S'))
    return false;
  for (const size_t at : {1, 2, 3, 5, 6, 7})
    if (!IsDigit(name[at])) return false;
  return true;
}

void WalkStore(const std::function<void(const StoreEntry&)>& visit) {
  // The store folder itself may be a link: a store kept on another disk.
  const int root = open(kStoreRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::vector<Listed> entries;
  const int rootCopy =
      root < 0 ? -1 : dup(root);  // ListFolder takes one; the other stays for openat
  if (root < 0 || rootCopy < 0 || !ListFolder(rootCopy, &entries)) {
    const int error = errno;
    if (root >= 0) close(root);
    if (root < 0 && error == ENOENT) return;  // no store yet
    StoreEntry entry;
    entry.kind = StoreEntry::Kind::kUnreadableFolder;
    entry.path = entry.folder = entry.name = kStoreRoot;
    entry.error = error;
    visit(entry);
    return;
  }
  for (const Listed& listed : entries) {
    if (listed.type == S_IFDIR && IsTileFolderName(listed.name)) {
      WalkTileFolder(root, listed.name, visit);
      continue;
    }
    if (listed.name == kOldLockName && listed.type == S_IFREG) continue;  // earlier versions' lock
    StoreEntry entry;
    entry.folder = kStoreRoot;
    entry.name = listed.name;
    entry.path = std::string(kStoreRoot) + "/" + listed.name;
    entry.what =
        listed.type == S_IFLNK ? "a symbolic link, not followed" : "not a name of the store";
    visit(entry);
  }
  close(root);
}

}  // namespace roamgrid
