// The in-memory tile: one 0.05 x 0.05 degree square of 896 x 896 cells,
// its key, its file path and its two block masks; opened with OpenTile and
// let go of with ReleaseTile.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "tiles/grid_units.h"

struct stat;

namespace roamgrid {

// One bit per group of seven cells (group g is bit g % 64 of word g / 64):
// a clear bit says the group's cells are all 0. Zero-initialised, every
// group is empty.
struct TileGroups {
  std::array<uint64_t, kGroupCount / 64> bits{};
  void Mark(int group) { bits[size_t(group) >> 6] |= uint64_t(1) << (group & 63); }
};
static_assert(kGroupCount % 64 == 0);

// The tile file as LoadTile read it, kept open until the tile is let go
// of: a save under the store lock compares the file then under the tile's
// name with it, and while it is open no other file can get its inode
// number, so the same device, inode, size and modification time mean
// that no other program replaced the file since. Move-only; closes the
// file when destroyed.
class TileFileHold {
 public:
  TileFileHold() = default;
  ~TileFileHold() { Reset(); }
  TileFileHold(TileFileHold&& other) noexcept { *this = std::move(other); }
  TileFileHold& operator=(TileFileHold&& other) noexcept;
  TileFileHold(const TileFileHold&) = delete;
  TileFileHold& operator=(const TileFileHold&) = delete;

  // Takes the open file `fd` whose status is `info`.
  void Take(int fd, const struct stat& info);
  void Reset();  // closes the file; holds none afterwards
  bool held() const { return fd_ >= 0; }
  // True when `info` (a status of the name, links not followed) describes
  // the held file as it was read.
  bool Same(const struct stat& info) const;

 private:
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  off_t size_ = 0;
  timespec modified_{};
};

constexpr int kTilePathSize = 32;  // path field, terminating NUL included

struct TrackTile {
  int32_t latKey = 0;  // south edge, centidegrees, as passed to OpenTile
  int32_t lonKey = 0;  // west edge, centidegrees, normalised to -18000..17999
  // Relative file path, "RGD/E139N035/E13975-N03500.map". Empty for a key
  // whose path would not fit the field: such a tile has no file, opens
  // absent and is never written.
  char path[kTilePathSize] = {};
  uint8_t dirty = 0;  // 1 once a cell changed from 0 to 1 since opening
  // The 896 x 896 cells, cell (row, column) at row * 896 + column, row 0 at
  // the south edge, column 0 at the west edge; non-zero means visited. None
  // while the tile has neither loaded data nor a recorded fix.
  std::unique_ptr<uint8_t[]> cells;
  // The groups of `cells` that may hold a visited cell; all others are 0.
  // LoadTile and AddPoint keep it, so the recorder's save looks only there
  // and its reused cell buffer is cleared only there. It describes only the
  // buffer it was kept for (`groupsOf`), and only as long as nothing else
  // writes into the cells; other holders' saves look at every cell.
  TileGroups groups{};
  const uint8_t* groupsOf = nullptr;
  uint8_t northMask = 0;  // blocks of rows 448..895; first mask byte of the file
  uint8_t southMask = 0;  // blocks of rows 0..447; second mask byte of the file
  // The file as LoadTile found it, so that a save can tell whether another
  // program replaced it since: kBytes with its bytes (as many as LoadTile
  // reads) in `fileBytes`, or kAbsent when it did not exist. kUnknown when
  // it was not read (or could not be): a save then merges whatever file it
  // finds.
  enum class FileSeen : uint8_t { kUnknown, kAbsent, kBytes };
  FileSeen fileSeen = FileSeen::kUnknown;
  std::vector<uint8_t> fileBytes;
  // The file read, while the tile lives (none when there was none).
  TileFileHold held;
};

// Wraps a longitude key into -18000..17999: 18000 -> -18000, 36000 -> 0,
// -18005 -> 17995.
int32_t NormalizeLonKey(int64_t lonKey);

// Writes the relative path of tile (latKey, lonKey) into `out` (keys as
// stored in the tile: lonKey already normalised). Returns false and leaves
// `out` empty when the path would not fit 31 characters (|latKey| > 99999).
bool FormatTilePath(int32_t latKey, int32_t lonKey, char (&out)[kTilePathSize]);

// Initialises a newly created tile for a key: stores the keys (longitude
// normalised), forms the path, reads the file with LoadTile and clears
// `dirty`. Afterwards the tile is loaded, absent (no cells, masks 0),
// damaged or unavailable (see LoadTile); the result says which (an int
// holding a LoadResult), and `error` gets LoadTile's errno. `clearedCells`,
// when given and holding a buffer of 802816 zero bytes, is used for the
// cells instead of a new one when the file has any (see LoadTile).
int OpenTile(TrackTile& tile, int32_t latKey, int64_t lonKey, int* error = nullptr,
             std::unique_ptr<uint8_t[]>* clearedCells = nullptr);

// Lets go of a tile: writes it with SaveTile when dirty, then frees it and
// its cells; `tile` is empty afterwards. Nothing happens when it is empty.
// Returns false only when a dirty tile could not be saved (its changes are
// lost; the file keeps its previous content), with errno telling why.
// `spareCells` is for a tile whose cells were written only by LoadTile and
// AddPoint (the recorder's): its save looks only where tile.groups says marks
// may be, and its cells are cleared there and handed over instead of being
// freed, for the next OpenTile.
bool ReleaseTile(std::unique_ptr<TrackTile>& tile,
                 std::unique_ptr<uint8_t[]>* spareCells = nullptr);

// Takes the cells of a tile whose marks may lie only where tile.groups
// says (tile.groupsOf is its cells), clears them there and hands them to
// `spareCells` as 802816 zero bytes for another tile; the tile is left
// without cells. Nothing happens (false) for a tile without cells or
// whose groups are not known.
bool RecycleCells(TrackTile& tile, std::unique_ptr<uint8_t[]>* spareCells);

}  // namespace roamgrid
