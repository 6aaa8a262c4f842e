// The tiles a recorder keeps in hand besides its open tile, so that a track
// coming back to a tile it left (a drive along a tile edge, the way home)
// finds it in memory instead of saving it and reading it again. The few
// tiles used last stay whole (802816 cells each); older ones are packed
// into the bytes of their tile file (a few KiB for a track), and only when
// the packed tiles pass their memory bound do the least recently used ones
// go, to be released (saved) by the recorder.
//
// A packed tile keeps what a save needs to know of its file: whether there
// was one and its bytes as read, and the open file itself (TileFileHold)
// for as many tiles as `Limits::heldFiles` allows; beyond that a save
// compares the file's bytes instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "tiles/track_tile.h"

namespace roamgrid {

// A tile in hand with what the recorder learnt of its file when it opened it.
struct HeldTile {
  std::unique_ptr<TrackTile> tile;
  bool unavailable = false;    // exists but cannot be read: never written
  bool headerDamaged = false;  // a save replaces a file with a damaged header
};

class TileHand {
 public:
  struct Limits {
    size_t wholeTiles = 0;   // tiles kept whole besides the open one
    size_t packedBytes = 0;  // memory for packed tiles; 0: none are packed
    size_t heldFiles = 0;    // packed tiles that keep their file open
    // Whether tiles are kept in hand at all.
    bool active() const { return wholeTiles > 0 || packedBytes > 0; }
  };

  TileHand() = default;
  TileHand(const TileHand&) = delete;
  TileHand& operator=(const TileHand&) = delete;

  const Limits& limits() const { return limits_; }
  void SetLimits(const Limits& limits) { limits_ = limits; }
  bool empty() const { return whole_.empty() && packed_.empty(); }
  size_t size() const { return whole_.size() + packed_.size(); }
  size_t packedBytes() const { return packedBytes_; }

  // Puts a tile in as the most recently used. The least recently used
  // whole tiles past Limits::wholeTiles are packed, their cells cleared and
  // handed to `spareCells` (or freed when it holds a buffer already); with
  // no memory for packed tiles they stay whole, for TakeOverflow.
  void Park(HeldTile held, std::unique_ptr<uint8_t[]>* spareCells);

  // Takes the tile (latKey, lonKey) out of the hand, whole (a packed tile's
  // cells decoded into the buffer of `spareCells`, or a new one), or
  // nothing when it is not in hand.
  std::optional<HeldTile> Take(int32_t latKey, int32_t lonKey,
                               std::unique_ptr<uint8_t[]>* spareCells);

  // How many of the least recently used tiles must go to bring the hand
  // within its limits: 0 while it is within them; once past them, at least
  // `batch` (or all there are), so that their saves can share a hold of
  // the store lock.
  size_t Overflow(size_t batch) const;

  // Takes the least recently used tile out, whole (see Take). The hand
  // must not be empty.
  HeldTile TakeOldest(std::unique_ptr<uint8_t[]>* spareCells);

  // Whether a tile in hand has marks that are not saved.
  bool AnyDirty() const;

  // Calls `visit` with each dirty tile, whole, and what is known of its
  // file, least recently used first; a packed tile is unpacked into the
  // buffer of `spareCells` for the call and packed again after it (its
  // marks do not change, what the call learnt of its file is kept).
  void ForEachDirty(std::unique_ptr<uint8_t[]>* spareCells,
                    const std::function<void(TrackTile&, bool& headerDamaged)>& visit);

 private:
  // A tile in its file's bytes (header and code stream), with what its
  // save needs of the file it was read from.
  struct Packed {
    int32_t latKey = 0;
    int32_t lonKey = 0;
    uint8_t dirty = 0;
    bool hasCells = false;  // an unavailable tile has none
    bool unavailable = false;
    bool headerDamaged = false;
    TrackTile::FileSeen fileSeen = TrackTile::FileSeen::kUnknown;
    std::vector<uint8_t> fileBytes;
    TileFileHold held;
    std::vector<uint8_t> bytes;
    size_t Memory() const;
  };
  static uint64_t Key(int32_t latKey, int32_t lonKey) {
    return uint64_t(uint32_t(latKey)) << 32 | uint32_t(lonKey);
  }

  void PackOldestWhole(std::unique_ptr<uint8_t[]>* spareCells);
  // A packed tile made whole; its file bytes and open file move out of it.
  HeldTile Unpack(Packed& packed, std::unique_ptr<uint8_t[]>* spareCells);
  // Takes a packed tile out of the list (its index entry is gone already).
  HeldTile TakePacked(std::list<Packed>::iterator at, std::unique_ptr<uint8_t[]>* spareCells);

  Limits limits_;
  std::vector<HeldTile> whole_;  // least recently used first
  std::list<Packed> packed_;     // least recently used first; all older than whole_
  std::unordered_map<uint64_t, std::list<Packed>::iterator> packedIndex_;
  size_t packedBytes_ = 0;
  size_t heldFiles_ = 0;    // packed tiles whose file is held open
  size_t dirtyPacked_ = 0;  // packed tiles with unsaved marks
};

}  // namespace roamgrid
