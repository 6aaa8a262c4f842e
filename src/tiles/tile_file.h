// The tile file: a 3-byte header (0x00, northMask, southMask) and a code
// stream describing the 114688 groups of seven cells in cell order. A code
// byte 0x00..0x7F is a literal group (bit 6 = first cell ... bit 0 =
// seventh); 0x80..0xFF is a run of (value & 0x7F) + 1 unvisited groups.
// Encoding and decoding are pure functions; LoadTile and SaveTile add the
// file access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tiles/grid_units.h"
#include "tiles/track_tile.h"

namespace roamgrid {

// kUnavailable: the file exists (or may exist) but cannot be read; it is
// not absent, so nothing may be written over it.
enum LoadResult : int { kLoaded = 0, kNoFile = 1, kDamaged = 2, kUnavailable = 3 };

constexpr size_t kTileHeaderSize = 3;
// The longest file a tile can need: every group a literal byte.
constexpr size_t kMaxTileFileSize = kTileHeaderSize + kGroupCount;
static_assert(kMaxTileFileSize == 114691);

// Walks a code stream, calling sink.Run(firstGroup, groupCount) for each
// run byte and sink.Literal(group, bits) for each literal byte. A final run
// may cover one group past the end of the tile; that group is not passed
// on. Returns kLoaded when the stream described all groups (bytes after
// that are not looked at), kDamaged when it ended early or a run reached
// further. `groupsDone` receives the number of groups described.
template <class Sink>
inline LoadResult WalkCodeStream(const uint8_t* code, size_t size, Sink& sink,
                                 int* groupsDone = nullptr) {
  int g = 0;
  LoadResult result = kDamaged;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = code[i];
    if (byte & 0x80) {
      const int n = byte & 0x7F;
      if (g + n > kGroupCount) break;
      const int count = (g + n == kGroupCount) ? n : n + 1;  // drop the group past the end
      sink.Run(g, count);
      g += n + 1;
    } else {
      sink.Literal(g, byte);
      g += 1;
    }
    if (g >= kGroupCount) {
      result = kLoaded;
      break;
    }
  }
  if (groupsDone) *groupsDone = g > kGroupCount ? kGroupCount : g;
  return result;
}

// Decodes a code stream into 802816 cells (each 0 or 1). Cells that a
// damaged stream stops short of are set to 0. Returns kLoaded or kDamaged.
// With `groups`, the groups with a visited cell are marked there.
// `cellsCleared`: the cells are all 0 already, and only literals are
// written.
LoadResult DecodeCells(const uint8_t* code, size_t size, uint8_t* cells,
                       TileGroups* groups = nullptr, bool cellsCleared = false);

// Encodes masks and cells as the complete file content: the header, then
// literals for groups with a visited cell and maximal runs (at most 128
// groups) for the others. Equal tiles give identical bytes. With `groups`,
// only the groups it marks are looked at; every other cell must be 0.
std::vector<uint8_t> EncodeTile(uint8_t northMask, uint8_t southMask, const uint8_t* cells,
                                const TileGroups* groups = nullptr);

// Reads at most kMaxTileFileSize bytes of the file at `path` into `buffer`
// (which must hold that many) in one go. Returns the number of bytes read,
// or -1 when the file cannot be opened or read, or is not a regular file;
// then `error` (when given) receives errno: ENOENT only when there is no
// file, EISDIR for a folder, EINVAL for a symbolic link, a pipe or a
// device (TileProblemReason calls that "not a regular file"). A link at
// the tile's own name is never followed (links among its folders are);
// a pipe's writer is never waited for. With `hold`, the file read stays
// open there (see TileFileHold); otherwise it is closed.
long ReadTileFile(const char* path, uint8_t* buffer, int* error = nullptr,
                  TileFileHold* hold = nullptr);

// Fills cells and masks of `tile` from the file at tile.path:
//   kLoaded   every cell and both masks from the file;
//   kNoFile   there is no file (ENOENT): no cells, masks 0;
//   kUnavailable  the file exists but cannot be opened or read, or is not
//             a regular file: no cells, masks 0; `error` gets the errno;
//   kDamaged  a header shorter than 3 bytes or not starting with 0x00: no
//             cells, masks 0; or a code stream that ends early or runs past
//             the tile: masks from the file, cells from the file as far as
//             the stream went and 0 after that.
// It also keeps what it found in tile.fileSeen and tile.fileBytes (the
// bytes read, or that the file did not exist) and the file itself in
// tile.held for SaveTile, and marks the
// groups with a visited cell in tile.groups. When the tile has no cells and
// `clearedCells` holds a buffer of 802816 zero bytes, the cells are decoded
// into that buffer (which is taken) rather than a new one.
LoadResult LoadTile(TrackTile& tile, int* error = nullptr,
                    std::unique_ptr<uint8_t[]>* clearedCells = nullptr);

// Writes masks and cells to the file at tile.path, creating its directories
// when needed. The bytes go to a temporary file beside it that replaces the
// tile file only when complete, so a failed save keeps the previous file.
// Marks only accumulate, and other programs may save the same tile: under
// the store lock (StoreLock) the file is compared with what LoadTile found
// (tile.held, else its bytes), and when another program replaced it since,
// its cells and masks are ORed into what is written (the tile in memory is
// not changed). A file that exists but cannot be read, and anything under
// the name that is not a regular file (a symbolic link included), is not
// replaced. A save made without the lock (none can be had) is counted with
// NoteSaveWithoutLock.
// Returns true when the file was replaced; false (nothing changed on disk,
// errno says why: EINVAL for what is not a regular file, EINTR when the
// wait for the lock was given up) when it could not be read or written,
// or the tile has no path or no cells.
// `dirty` is not changed. `trustGroups`: the cells were written only by
// LoadTile and AddPoint, so tile.groups says where marks may be and only
// there is looked at.
bool SaveTile(const TrackTile& tile, bool trustGroups = false);

// SaveTile for a tile whose file content is at hand: writes `bytes` (a
// complete tile file as EncodeTile makes them) to the file at tile.path,
// with SaveTile's lock, change check (against tile.held and tile.fileBytes)
// and merge. The tile's cells and masks are not looked at.
bool SaveTileBytes(const TrackTile& tile, std::vector<uint8_t> bytes);

// The tile file that holds every mark and mask bit of both tile files
// `first` (at least a whole header; its code stream should load whole) and
// `second`, encoded as EncodeTile encodes: the two code streams ORed run
// by run, no cell decoded. A `second` with a damaged header adds nothing,
// one with a damaged code stream the groups before the damage; so does a
// damaged code stream of `first`. `added` receives the cells `second`
// marks that `first` does not; `secondWhole` whether `second` loads whole,
// `firstWhole` whether the code stream of `first` does: one pass both ORs
// and checks, where a check before would read each stream twice.
std::vector<uint8_t> OrTileFiles(const uint8_t* first, size_t firstSize, const uint8_t* second,
                                 size_t secondSize, long long* added = nullptr,
                                 bool* secondWhole = nullptr, bool* firstWhole = nullptr);

}  // namespace roamgrid
