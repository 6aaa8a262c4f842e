#include "tiles/tile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/safe_file.h"
#include "tiles/store_lock.h"

namespace roamgrid {

namespace {

// The seven cells of each literal value, as 8 bytes (the eighth unused),
// so a literal is decoded with one copy.
struct LiteralTable {
  std::array<std::array<uint8_t, 8>, 128> cells{};
  LiteralTable() {
    for (int value = 0; value < 128; ++value)
      for (int k = 0; k < kCellsPerGroup; ++k) cells[value][k] = (value >> (6 - k)) & 1;
  }
};
const LiteralTable kLiterals;

// Literals only: the cells start cleared, so run bytes, and the groups
// that a damaged stream stops short of, need no writes. Each group with a
// visited cell is marked in `groups`.
struct LiteralSink {
  uint8_t* cells;
  TileGroups* groups;
  void Run(int, int) {}
  void Literal(int g, uint8_t bits) {
    std::memcpy(cells + size_t(g) * kCellsPerGroup, kLiterals.cells[bits].data(), kCellsPerGroup);
    if (bits) groups->Mark(g);
  }
};

// Sixteen bytes as one value (a vector register where there is one).
using Bytes16 = uint64_t __attribute__((vector_size(16)));

// Index of the first non-zero byte of p[from, to), or `to` when all are
// zero. Long empty stretches are the common case of a tile, so 64 bytes
// are tested at a time.
size_t FindNonZero(const uint8_t* p, size_t from, size_t to) {
  size_t i = from;
  while (i + 64 <= to) {
    Bytes16 a, b, c, d;
    std::memcpy(&a, p + i, sizeof a);
    std::memcpy(&b, p + i + 16, sizeof b);
    std::memcpy(&c, p + i + 32, sizeof c);
    std::memcpy(&d, p + i + 48, sizeof d);
    const Bytes16 any = (a | b) | (c | d);
    if ((any[0] | any[1]) != 0) break;
    i += 64;
  }
  while (i + 8 <= to) {
    uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    if (w != 0) {
      // The lowest non-zero byte comes first in memory on a little-endian
      // machine.
      if constexpr (std::endian::native == std::endian::little) return i + std::countr_zero(w) / 8;
      break;
    }
    i += 8;
  }
  while (i < to && !p[i]) ++i;
  return i;
}

// The literal byte of group `g`: bit 6 - k set for each non-zero cell k.
uint8_t GroupBits(const uint8_t* cells, int g) {
  const uint8_t* group = cells + size_t(g) * kCellsPerGroup;
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes in one load (the last group has no eighth), the eighth
    // masked off.
    uint64_t w = 0;
    if (g + 1 < kGroupCount) {
      std::memcpy(&w, group, sizeof w);
      w &= 0x00FFFFFFFFFFFFFFULL;
    } else {
      std::memcpy(&w, group, kCellsPerGroup);
    }
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    // 0x01 in each byte that is non-zero, gathered by one multiplication:
    // byte k lands on bit 62 - k of the product, and no two terms meet.
    const uint64_t nonZero = ((((w & kLow7) + kLow7) | w) & ~kLow7) >> 7;
    return uint8_t((nonZero * 0x4020100804020100ULL) >> 56) & 0x7F;
  }
  uint8_t bits = 0;
  for (int k = 0; k < kCellsPerGroup; ++k)
    if (group[k]) bits |= uint8_t(1u << (6 - k));
  return bits;
}

// Writes `count` empty groups as run bytes at `out`: as many of 128 as
// fit, then the rest, which is what the longest-run rule gives. Returns
// the end of what it wrote, (count + 127) / 128 bytes.
constexpr int kLongestRun = 128;
inline uint8_t* PutRuns(uint8_t* out, int count) {
  for (; count >= kLongestRun; count -= kLongestRun) *out++ = 0xFF;
  if (count > 0) *out++ = uint8_t(0x80 | (count - 1));
  return out;
}
void PutRuns(std::vector<uint8_t>& out, int count) {
  const size_t at = out.size();
  out.resize(at + size_t(count + kLongestRun - 1) / kLongestRun);
  PutRuns(out.data() + at, count);
}

// The code stream of cells whose visited cells lie in the groups that
// `groups` marks: only those are looked at, all others are empty.
void EncodeGroups(const uint8_t* cells, const TileGroups& groups, std::vector<uint8_t>& out) {
  int g = 0;  // the first group not written yet
  for (size_t word = 0; word < groups.bits.size(); ++word) {
    for (uint64_t bits = groups.bits[word]; bits != 0; bits &= bits - 1) {
      const int found = int(word * 64) + std::countr_zero(bits);
      const uint8_t literal = GroupBits(cells, found);
      if (literal == 0) continue;  // marked, but holds nothing: part of a run
      PutRuns(out, found - g);
      out.push_back(literal);
      g = found + 1;
    }
  }
  PutRuns(out, kGroupCount - g);
}

// Keeps what LoadTile found in the file, for the change check of a later
// save. errno still tells why a file could not be opened; only "does not
// exist" is an absent file.
void RememberFile(TrackTile& tile, const uint8_t* bytes, long size, int error) {
  tile.fileBytes.clear();
  if (size >= 0) {
    tile.fileSeen = TrackTile::FileSeen::kBytes;
    tile.fileBytes.assign(bytes, bytes + size);
  } else {
    const bool absent = tile.path[0] != '\0' && error == ENOENT;
    tile.fileSeen = absent ? TrackTile::FileSeen::kAbsent : TrackTile::FileSeen::kUnknown;
  }
}

// The tile file as it is now, read as LoadTile reads it (at most
// kMaxTileFileSize bytes) into `buffer`. Returns 0 with the size in `size`,
// or the errno of the failure: ENOENT when there is no file, anything else
// when what is there cannot be read whole.
int ReadCurrentFile(const char* path, uint8_t* buffer, size_t* size) {
  int error = 0;
  const long got = ReadTileFile(path, buffer, &error);
  *size = got < 0 ? 0 : size_t(got);
  return got < 0 ? error : 0;
}

// The visited cells of each literal value, counted once (a processor
// without a population count instruction would call a library for it).
struct LiteralMarks {
  std::array<uint8_t, 128> count{};
  LiteralMarks() {
    for (int value = 1; value < 128; ++value)
      count[value] = uint8_t(count[value >> 1] + (value & 1));
  }
};
const LiteralMarks kLiteralMarks;

// Reads a code stream as spans of groups: a literal group, or a run of
// empty ones. Past the end of the stream, or from a byte that runs past the
// tile, the rest of the tile is one empty span: what a damaged stream
// describes no further adds nothing.
class CodeCursor {
 public:
  CodeCursor(const uint8_t* code, size_t size) : p_(code), end_(code + size) { Next(); }
  int left() const { return left_; }      // groups left in the current span
  uint8_t bits() const { return bits_; }  // of a literal; 0 for a run
  bool whole() const { return whole_; }   // the stream described every group
  // Passes `n` groups (at most left()).
  void Take(int n) {
    g_ += n;
    left_ -= n;
    if (left_ == 0) Next();
  }

 private:
  void Next() {
    bits_ = 0;
    if (g_ >= kGroupCount) {
      left_ = 0;
      return;
    }
    if (p_ == end_ || ((*p_ & 0x80) && g_ + (*p_ & 0x7F) > kGroupCount)) {
      p_ = end_;
      whole_ = false;
      left_ = kGroupCount - g_;
      return;
    }
    const uint8_t byte = *p_++;
    if (byte & 0x80) {
      left_ = std::min((byte & 0x7F) + 1, kGroupCount - g_);  // a final run may cover one more
    } else {
      left_ = 1;
      bits_ = byte;
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  int g_ = 0;
  int left_ = 0;
  uint8_t bits_ = 0;
  bool whole_ = true;
};

}  // namespace

std::vector<uint8_t> OrTileFiles(const uint8_t* first, size_t firstSize, const uint8_t* second,
                                 size_t secondSize, long long* added, bool* secondWhole,
                                 bool* firstWhole) {
  // The result is written into a buffer kept for the thread's next OR, then
  // copied out at its size: a canonical stream takes at most a byte per
  // group, so it always fits.
  thread_local const std::unique_ptr<uint8_t[]> buffer =
      std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
  uint8_t* out = buffer.get();
  *out++ = 0x00;
  *out++ = first[1];
  *out++ = first[2];
  const bool secondHeader = secondSize >= kTileHeaderSize && second[0] == 0x00;
  if (secondHeader) {
    buffer[1] |= second[1];
    buffer[2] |= second[2];
  }
  CodeCursor a(first + kTileHeaderSize, firstSize - kTileHeaderSize);
  CodeCursor b(second + (secondHeader ? kTileHeaderSize : secondSize),
               secondHeader ? secondSize - kTileHeaderSize : 0);
  long long newCells = 0;
  int empty = 0;  // empty groups not written yet
  while (a.left() > 0) {
    if (a.bits() == 0 && b.bits() == 0) {
      // Both in runs (or literals without a mark): as far as both go.
      const int n = std::min(a.left(), b.left());
      empty += n;
      a.Take(n);
      b.Take(n);
      continue;
    }
    newCells += kLiteralMarks.count[b.bits() & ~a.bits() & 0x7F];
    out = PutRuns(out, empty);
    empty = 0;
    *out++ = a.bits() | b.bits();
    a.Take(1);
    b.Take(1);
  }
  out = PutRuns(out, empty);
  if (added) *added = newCells;
  if (secondWhole) *secondWhole = secondHeader && b.whole();
  if (firstWhole) *firstWhole = a.whole();
  return std::vector<uint8_t>(buffer.get(), out);
}

LoadResult DecodeCells(const uint8_t* code, size_t size, uint8_t* cells, TileGroups* groups,
                       bool cellsCleared) {
  // One clearing pass costs less than a write per run; cells that a
  // damaged stream does not reach stay unvisited.
  if (!cellsCleared) std::memset(cells, 0, kCellCount);
  TileGroups ignored;
  LiteralSink sink{cells, groups ? groups : &ignored};
  return WalkCodeStream(code, size, sink);
}

std::vector<uint8_t> EncodeTile(uint8_t northMask, uint8_t southMask, const uint8_t* cells,
                                const TileGroups* groups) {
  std::vector<uint8_t> out;
  out.reserve(2048);
  out.push_back(0x00);
  out.push_back(northMask);
  out.push_back(southMask);
  if (groups) {
    EncodeGroups(cells, *groups, out);
    return out;
  }
  // `next` is the group of the first visited cell at or after group g, so
  // each cell is searched once and the empty groups before it become
  // maximal runs.
  int next = int(FindNonZero(cells, 0, kCellCount) / kCellsPerGroup);
  int g = 0;
  while (g < kGroupCount) {
    if (g < next) {
      // At most 128 groups a run; `next` is at most the end of the tile.
      const int count = std::min(next - g, 128);
      out.push_back(uint8_t(0x80 | (count - 1)));
      g += count;
      continue;
    }
    out.push_back(GroupBits(cells, g));
    ++g;
    next = int(FindNonZero(cells, size_t(g) * kCellsPerGroup, kCellCount) / kCellsPerGroup);
  }
  return out;
}

// Plain system calls: a view reads up to 4096 tile files, and a stdio
// stream would add an allocation, a buffer and a status call to each.
long ReadTileFile(const char* path, uint8_t* buffer, int* error, TileFileHold* hold) {
  int ignored;
  int& why = error ? *error : ignored;
  why = ENOENT;
  if (hold) hold->Reset();
  if (path[0] == '\0') return -1;  // a key without a real tile has no file
  // Non-blocking, and only a regular file: a named pipe or a device under
  // a tile's name must not stop the program, and is no tile. O_NOFOLLOW: a
  // link under the tile's name is not a tile either; its target, wherever
  // it is, is neither read nor (by a later save) replaced.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    why = errno;
    struct stat link;
    // ELOOP also stands for too many links among the folders.
    if (why == ELOOP && fstatat(AT_FDCWD, path, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(link.st_mode))
      why = EINVAL;
    return -1;
  }
  struct stat info;
  const bool known = fstat(fd, &info) == 0;
  if (!known || !S_ISREG(info.st_mode)) {
    why = !known ? errno : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    close(fd);
    return -1;
  }
  // A tile file is replaced, never written in place, so the size it has
  // now is the size it keeps while open: one read takes it whole.
  const size_t want = std::min(size_t(std::max<off_t>(info.st_size, 0)), kMaxTileFileSize);
  size_t got = 0;
  while (got < want) {
    const ssize_t n = read(fd, buffer + got, want - got);
    if (n > 0) {
      got += size_t(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      // Cells made up after a read error could be saved over the file.
      why = errno;
      close(fd);
      return -1;
    }
  }
  if (hold) {
    hold->Take(fd, info);
  } else {
    close(fd);
  }
  why = 0;
  return long(got);
}

LoadResult LoadTile(TrackTile& tile, int* error, std::unique_ptr<uint8_t[]>* clearedCells) {
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
  int why = 0;
  const long size = ReadTileFile(tile.path, buffer.get(), &why, &tile.held);
  if (error) *error = why;
  RememberFile(tile, buffer.get(), size, why);
  if (size < 0) {
    tile.northMask = tile.southMask = 0;
    return why == ENOENT ? kNoFile : kUnavailable;  // only a missing file is absent
  }
  if (size < long(kTileHeaderSize) || buffer[0] != 0x00) {
    tile.northMask = tile.southMask = 0;
    return kDamaged;
  }
  tile.northMask = buffer[1];
  tile.southMask = buffer[2];
  bool cleared = false;
  if (!tile.cells && clearedCells && *clearedCells) {
    tile.cells = std::move(*clearedCells);
    cleared = true;
  }
  if (!tile.cells) tile.cells = std::make_unique_for_overwrite<uint8_t[]>(kCellCount);
  tile.groups = {};
  tile.groupsOf = tile.cells.get();
  return DecodeCells(buffer.get() + kTileHeaderSize, size_t(size) - kTileHeaderSize,
                     tile.cells.get(), &tile.groups, cleared);
}

bool SaveTile(const TrackTile& tile, bool trustGroups) {
  if (tile.path[0] == '\0' || !tile.cells) return false;
  // Only where a mark may be is looked at, when the tile knows that.
  const TileGroups* groups =
      trustGroups && tile.groupsOf == tile.cells.get() ? &tile.groups : nullptr;
  return SaveTileBytes(tile, EncodeTile(tile.northMask, tile.southMask, tile.cells.get(), groups));
}

bool SaveTileBytes(const TrackTile& tile, std::vector<uint8_t> bytes) {
  if (tile.path[0] == '\0') return false;
  // Held until the new file has its name, so that no other program replaces
  // the file between the look at it and the rename.
  const StoreLock lock;
  if (lock.state() == StoreLock::State::kStopped) {
    errno = EINTR;  // the wait was given up: the file stays as it is
    return false;
  }
  // What stands under the name now, a link not followed: only a regular
  // file (or nothing) is ever replaced.
  struct stat now;
  const bool exists = fstatat(AT_FDCWD, tile.path, &now, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return false;  // errno says why
  if (exists && !S_ISREG(now.st_mode)) {
    errno = S_ISDIR(now.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  // The file LoadTile read, still under the name and unchanged: nothing of
  // another program's to keep, and no need to read it again.
  if (exists && !tile.held.Same(now)) {
    auto current = std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
    size_t size = 0;
    const int readError = ReadCurrentFile(tile.path, current.get(), &size);
    // Marks that cannot be read cannot be kept: the file stays as it is.
    if (readError != 0 && readError != ENOENT) {
      errno = readError;
      return false;
    }
    if (readError == 0) {
      const auto same = [&](const std::vector<uint8_t>& other) {
        return other.size() == size &&
               (size == 0 || std::memcmp(other.data(), current.get(), size) == 0);
      };
      // Another program saved the tile since it was read: keep its marks
      // too. A file equal to the new bytes has nothing to add.
      const bool unchanged = tile.fileSeen == TrackTile::FileSeen::kBytes && same(tile.fileBytes);
      if (!unchanged && !same(bytes))
        bytes = OrTileFiles(bytes.data(), bytes.size(), current.get(), size);
    }
  }
  if (!ReplaceRegularFile(tile.path, bytes.data(), bytes.size(), exists ? &now : nullptr))
    return false;
  if (!lock.locked()) NoteSaveWithoutLock(lock.error());
  return true;
}

}  // namespace roamgrid
