// The overview cache file: what the map knows of each tile file of a store
// (its status when read and a hash of its bytes) and the overview built
// from them, so that a program started again reads only the tiles that
// changed. The file is a cache: it can always be deleted, and one that is
// damaged, of another version or of another store is rebuilt.
//
// Layout (integers little-endian):
//   8 bytes  "RGOVRVW" and a 0 byte
//   4        format version (kOverviewCacheVersion)
//   4        kOverviewZoom
//   8        length of the payload
//   8        length of the compressed payload that follows (zlib)
// payload:
//   4 + n    the store it belongs to (its folder's full path)
//   8        tile count, then per tile, in key order:
//            latKey, lonKey (4 each, signed), device, inode, size,
//            modification seconds, nanoseconds, hash (8 each), settled (1),
//            explorer extras count (4) and extras (8 each)
//   ...      the overview's blocks (OverviewPyramid::EncodeBlocks)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "map/overview.h"

namespace roamgrid {

constexpr uint32_t kOverviewCacheVersion = 1;

// What the map knows of one tile file of the store.
struct TileRecord {
  int32_t latKey = 0;
  int32_t lonKey = 0;
  // Its status when last read: the same device, inode, size and
  // modification time mean the same file.
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;
  uint64_t hash = 0;  // HashBytes of its bytes; 0 when it could not be read
  // False: read it again at the next Refresh (it changed too recently to
  // trust its status, could not be read, or changed while being read).
  bool settled = false;
  // For a tile whose mask bytes are both 0 (it marks nothing on the map):
  // the zoom 17 explorer tiles of its visited cells (y << 32 | x), which
  // `stats` counts all the same.
  std::vector<uint64_t> explorerExtras;

  bool SameStatus(const TileRecord& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds;
  }
  bool operator==(const TileRecord&) const = default;
};

// Orders records by key: latitude, then longitude.
inline bool RecordKeyLess(const TileRecord& a, const TileRecord& b) {
  return a.latKey != b.latKey ? a.latKey < b.latKey : a.lonKey < b.lonKey;
}

// A 64-bit hash of `size` bytes; equal bytes give equal hashes.
uint64_t HashBytes(const uint8_t* bytes, size_t size);
// Mixes a 64-bit value (for combining hashes).
uint64_t MixBits(uint64_t value);

// The bytes of the cache file of `store`.
std::vector<uint8_t> EncodeOverviewCache(const std::string& store,
                                         const std::vector<TileRecord>& records,
                                         const OverviewPyramid& overview);

// Largest cache file read, and largest payload unpacked.
constexpr size_t kMaxOverviewCacheBytes = size_t{1} << 30;

enum class CacheRead { kLoaded, kDamaged, kOtherVersion, kOtherStore };

// Reads the cache file bytes of `store` into `records` (in key order) and
// `overview`. Anything but kLoaded leaves both empty. Bounded: no count in
// the file makes it allocate more than the file's own size allows.
CacheRead DecodeOverviewCache(const uint8_t* bytes, size_t size, const std::string& store,
                              std::vector<TileRecord>& records, OverviewPyramid& overview);
// The same for the payload alone, unpacked (what follows the header).
CacheRead DecodeOverviewPayload(const uint8_t* bytes, size_t size, const std::string& store,
                                std::vector<TileRecord>& records, OverviewPyramid& overview);

}  // namespace roamgrid
