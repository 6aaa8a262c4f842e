#include "tiles/tile_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/safe_file.h"

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

struct CellSink {
  uint8_t* cells;
  void Run(int g, int count) {
    std::memset(cells + size_t(g) * kCellsPerGroup, 0, size_t(count) * kCellsPerGroup);
  }
  void Literal(int g, uint8_t bits) {
    std::memcpy(cells + size_t(g) * kCellsPerGroup, kLiterals.cells[bits].data(), kCellsPerGroup);
  }
};

// Index of the first non-zero byte of p[from, to), or `to` when all are
// zero. Eight bytes are tested at a time: long empty stretches are the
// common case of a tile.
size_t FindNonZero(const uint8_t* p, size_t from, size_t to) {
  size_t i = from;
  while (i < to && (i & 7) != 0) {
    if (p[i]) return i;
    ++i;
  }
  while (i + 32 <= to) {
    uint64_t w[4];
    std::memcpy(w, p + i, sizeof w);
    if ((w[0] | w[1] | w[2] | w[3]) != 0) break;
    i += 32;
  }
  while (i + 8 <= to) {
    uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    if (w != 0) break;
    i += 8;
  }
  while (i < to && !p[i]) ++i;
  return i;
}

}  // namespace

LoadResult DecodeCells(const uint8_t* code, size_t size, uint8_t* cells) {
  CellSink sink{cells};
  int groupsDone = 0;
  const LoadResult result = WalkCodeStream(code, size, sink, &groupsDone);
  if (groupsDone < kGroupCount) {
    // A damaged stream: the cells it did not reach read as unvisited.
    std::memset(cells + size_t(groupsDone) * kCellsPerGroup, 0,
                size_t(kGroupCount - groupsDone) * kCellsPerGroup);
  }
  return result;
}

std::vector<uint8_t> EncodeTile(uint8_t northMask, uint8_t southMask, const uint8_t* cells) {
  std::vector<uint8_t> out;
  out.reserve(1024);
  out.push_back(0x00);
  out.push_back(northMask);
  out.push_back(southMask);
  int g = 0;
  while (g < kGroupCount) {
    const uint8_t* group = cells + size_t(g) * kCellsPerGroup;
    uint8_t bits = 0;
    for (int k = 0; k < kCellsPerGroup; ++k)
      if (group[k]) bits |= uint8_t(1u << (6 - k));
    if (bits) {
      out.push_back(bits);
      ++g;
      continue;
    }
    // Group g is empty: extend the run to the next group with a visited
    // cell, at most 128 groups and never past the end of the tile.
    const int limit = std::min(g + 128, kGroupCount);
    const size_t next =
        FindNonZero(cells, size_t(g + 1) * kCellsPerGroup, size_t(limit) * kCellsPerGroup);
    const int end = int(next / kCellsPerGroup);  // first group not in the run
    out.push_back(uint8_t(0x80 | (end - g - 1)));
    g = end;
  }
  return out;
}

// Plain system calls: a view reads up to 4096 tile files, and a stdio
// stream would add an allocation, a buffer and a status call to each.
long ReadTileFile(const char* path, uint8_t* buffer) {
  if (path[0] == '\0') return -1;  // a key without a real tile has no file
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t got = 0;
  while (got < kMaxTileFileSize) {
    const ssize_t n = read(fd, buffer + got, kMaxTileFileSize - got);
    if (n > 0) {
      got += size_t(n);
    } else if (n == 0 || errno != EINTR) {
      break;  // the end, or a read error: the file reads as far as it went
    }
  }
  close(fd);
  return long(got);
}

LoadResult LoadTile(TrackTile& tile) {
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
  const long size = ReadTileFile(tile.path, buffer.get());
  if (size < 0) {
    tile.northMask = tile.southMask = 0;
    return kNoFile;
  }
  if (size < long(kTileHeaderSize) || buffer[0] != 0x00) {
    tile.northMask = tile.southMask = 0;
    return kDamaged;
  }
  tile.northMask = buffer[1];
  tile.southMask = buffer[2];
  if (!tile.cells) tile.cells = std::make_unique_for_overwrite<uint8_t[]>(kCellCount);
  return DecodeCells(buffer.get() + kTileHeaderSize, size_t(size) - kTileHeaderSize,
                     tile.cells.get());
}

bool SaveTile(const TrackTile& tile) {
  if (tile.path[0] == '\0' || !tile.cells) return false;
  const std::vector<uint8_t> bytes = EncodeTile(tile.northMask, tile.southMask, tile.cells.get());
  ReplacingFile file(tile.path);
  if (!file.Open()) {
    CreateParentDirectories(tile.path);
    if (!file.Open()) return false;
  }
  file.Write(bytes.data(), bytes.size());
  return file.Commit();
}

}  // namespace roamgrid
