#include "tiles/track_tile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tiles/grid_units.h"
#include "tiles/tile_file.h"

namespace roamgrid {

TileFileHold& TileFileHold::operator=(TileFileHold&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.fd_;
    device_ = other.device_;
    inode_ = other.inode_;
    size_ = other.size_;
    modified_ = other.modified_;
    other.fd_ = -1;
  }
  return *this;
}

void TileFileHold::Take(int fd, const struct stat& info) {
  Reset();
  fd_ = fd;
  device_ = info.st_dev;
  inode_ = info.st_ino;
  size_ = info.st_size;
  modified_ = info.st_mtim;
}

void TileFileHold::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool TileFileHold::Same(const struct stat& info) const {
  return fd_ >= 0 && info.st_dev == device_ && info.st_ino == inode_ && info.st_size == size_ &&
         info.st_mtim.tv_sec == modified_.tv_sec && info.st_mtim.tv_nsec == modified_.tv_nsec;
}

int32_t NormalizeLonKey(int64_t lonKey) {
  if (lonKey >= 18000 || lonKey < -18000) lonKey = FloorMod(lonKey + 18000, 36000) - 18000;
  return int32_t(lonKey);
}

// Written digit by digit: the view forms up to 4096 paths per redraw, and
// a formatted print costs more than the rest of the work on a tile with a
// track. The result is "RGD/%c%03d%c%03d/%c%05d-%c%05d.map" of the
// magnitudes, which has 30 characters for magnitudes up to 99999 and more
// than 31 above.
bool FormatTilePath(int32_t latKey, int32_t lonKey, char (&out)[kTilePathSize]) {
  out[0] = '\0';
  const long long lat = std::llabs((long long)latKey);
  const long long lon = std::llabs((long long)lonKey);
  if (lat > 99999 || lon > 99999) return false;  // longer than the field holds
  const char ew = lonKey >= 0 ? 'E' : 'W';
  const char ns = latKey >= 0 ? 'N' : 'S';
  auto digits = [](char* at, long long value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10) at[i] = char('0' + value % 10);
  };
  std::memcpy(out, "RGD/E000N000/E00000-N00000.map", 31);
  out[4] = ew;
  digits(out + 5, lon / 100, 3);
  out[8] = ns;
  digits(out + 9, lat / 100, 3);
  out[13] = ew;
  digits(out + 14, lon, 5);
  out[20] = ns;
  digits(out + 21, lat, 5);
  return true;
}

int OpenTile(TrackTile& tile, int32_t latKey, int64_t lonKey, int* error,
             std::unique_ptr<uint8_t[]>* clearedCells) {
  tile.latKey = latKey;
  tile.lonKey = NormalizeLonKey(lonKey);
  FormatTilePath(tile.latKey, tile.lonKey, tile.path);  // too long: no file
  tile.cells.reset();
  tile.northMask = 0;
  tile.southMask = 0;
  // A missing file reads as an empty tile.
  const LoadResult result = LoadTile(tile, error, clearedCells);
  tile.dirty = 0;
  return result;
}

bool ReleaseTile(std::unique_ptr<TrackTile>& tile, std::unique_ptr<uint8_t[]>* spareCells) {
  if (!tile) return true;
  bool saved = true;
  if (tile->dirty) saved = SaveTile(*tile, spareCells != nullptr);
  const int error = errno;  // why a save failed, for the caller
  if (spareCells) RecycleCells(*tile, spareCells);
  tile.reset();
  errno = error;
  return saved;
}

bool RecycleCells(TrackTile& tile, std::unique_ptr<uint8_t[]>* spareCells) {
  if (!tile.cells || tile.groupsOf != tile.cells.get()) return false;
  // Clearing where a mark may be costs far less than clearing (or
  // allocating) all 802816 cells for the next tile.
  const TileGroups& groups = tile.groups;
  for (size_t word = 0; word < groups.bits.size(); ++word)
    for (uint64_t bits = groups.bits[word]; bits != 0; bits &= bits - 1) {
      const size_t group = word * 64 + size_t(std::countr_zero(bits));
      std::memset(tile.cells.get() + group * kCellsPerGroup, 0, kCellsPerGroup);
    }
  *spareCells = std::move(tile.cells);
  tile.groupsOf = nullptr;
  return true;
}

}  // namespace roamgrid
