#include "tiles/tile_hand.h"

#include <algorithm>
#include <iterator>

#include "tiles/tile_file.h"

namespace roamgrid {

namespace {

// What a packed tile costs besides its bytes: the list node and the index
// entry.
constexpr size_t kPackedOverhead = 96;

}  // namespace

size_t TileHand::Packed::Memory() const {
  return sizeof(Packed) + kPackedOverhead + bytes.capacity() + fileBytes.capacity();
}

void TileHand::Park(HeldTile held, std::unique_ptr<uint8_t[]>* spareCells) {
  whole_.push_back(std::move(held));
  // Without memory for packed tiles the whole ones past the limit wait for
  // TakeOverflow.
  while (limits_.packedBytes > 0 && whole_.size() > limits_.wholeTiles) PackOldestWhole(spareCells);
}

void TileHand::PackOldestWhole(std::unique_ptr<uint8_t[]>* spareCells) {
  HeldTile held = std::move(whole_.front());
  whole_.erase(whole_.begin());
  TrackTile& tile = *held.tile;
  Packed packed;
  packed.latKey = tile.latKey;
  packed.lonKey = tile.lonKey;
  packed.dirty = tile.dirty;
  packed.unavailable = held.unavailable;
  packed.headerDamaged = held.headerDamaged;
  packed.fileSeen = tile.fileSeen;
  packed.fileBytes = std::move(tile.fileBytes);
  packed.fileBytes.shrink_to_fit();
  if (tile.cells) {
    packed.hasCells = true;
    // The recorder's cells are written only by LoadTile and AddPoint, so
    // its groups say where the marks are.
    const TileGroups* groups = tile.groupsOf == tile.cells.get() ? &tile.groups : nullptr;
    packed.bytes = EncodeTile(tile.northMask, tile.southMask, tile.cells.get(), groups);
    packed.bytes.shrink_to_fit();
    RecycleCells(tile, spareCells);
  }
  // Open files are a bounded resource: past the bound, a save compares the
  // file's bytes with those read instead.
  if (tile.held.held() && heldFiles_ < limits_.heldFiles) {
    packed.held = std::move(tile.held);
    ++heldFiles_;
  }
  dirtyPacked_ += packed.dirty != 0;
  packedBytes_ += packed.Memory();
  packed_.push_back(std::move(packed));
  packedIndex_[Key(tile.latKey, tile.lonKey)] = std::prev(packed_.end());
}

HeldTile TileHand::Unpack(Packed& packed, std::unique_ptr<uint8_t[]>* spareCells) {
  HeldTile held{std::make_unique<TrackTile>(), packed.unavailable, packed.headerDamaged};
  TrackTile& tile = *held.tile;
  tile.latKey = packed.latKey;
  tile.lonKey = packed.lonKey;
  FormatTilePath(tile.latKey, tile.lonKey, tile.path);
  tile.dirty = packed.dirty;
  tile.fileSeen = packed.fileSeen;
  tile.fileBytes = std::move(packed.fileBytes);
  tile.held = std::move(packed.held);
  if (packed.hasCells) {
    tile.northMask = packed.bytes[1];
    tile.southMask = packed.bytes[2];
    if (spareCells && *spareCells) {
      tile.cells = std::move(*spareCells);
    } else {
      tile.cells = std::make_unique<uint8_t[]>(kCellCount);
    }
    DecodeCells(packed.bytes.data() + kTileHeaderSize, packed.bytes.size() - kTileHeaderSize,
                tile.cells.get(), &tile.groups, true);
    tile.groupsOf = tile.cells.get();
  }
  return held;
}

std::optional<HeldTile> TileHand::Take(int32_t latKey, int32_t lonKey,
                                       std::unique_ptr<uint8_t[]>* spareCells) {
  for (size_t i = whole_.size(); i-- > 0;) {
    const TrackTile& tile = *whole_[i].tile;
    if (tile.latKey != latKey || tile.lonKey != lonKey) continue;
    HeldTile held = std::move(whole_[i]);
    whole_.erase(whole_.begin() + ptrdiff_t(i));
    return held;
  }
  const auto found = packedIndex_.find(Key(latKey, lonKey));
  if (found == packedIndex_.end()) return std::nullopt;
  const std::list<Packed>::iterator at = found->second;
  packedIndex_.erase(found);
  return TakePacked(at, spareCells);
}

HeldTile TileHand::TakePacked(std::list<Packed>::iterator at,
                              std::unique_ptr<uint8_t[]>* spareCells) {
  packedBytes_ -= at->Memory();
  heldFiles_ -= at->held.held();
  dirtyPacked_ -= at->dirty != 0;
  HeldTile held = Unpack(*at, spareCells);
  packed_.erase(at);
  return held;
}

size_t TileHand::Overflow(size_t batch) const {
  size_t over = 0;
  if (limits_.packedBytes == 0) {
    over = whole_.size() > limits_.wholeTiles ? whole_.size() - limits_.wholeTiles : 0;
  } else {
    size_t bytes = packedBytes_;
    for (auto at = packed_.begin(); at != packed_.end() && bytes > limits_.packedBytes; ++at) {
      bytes -= at->Memory();
      ++over;
    }
  }
  if (over == 0) return 0;
  return std::min(size(), std::max(over, batch));
}

HeldTile TileHand::TakeOldest(std::unique_ptr<uint8_t[]>* spareCells) {
  if (packed_.empty()) {
    HeldTile held = std::move(whole_.front());
    whole_.erase(whole_.begin());
    return held;
  }
  packedIndex_.erase(Key(packed_.front().latKey, packed_.front().lonKey));
  return TakePacked(packed_.begin(), spareCells);
}

bool TileHand::AnyDirty() const {
  if (dirtyPacked_ > 0) return true;
  return std::any_of(whole_.begin(), whole_.end(),
                     [](const HeldTile& held) { return held.tile && held.tile->dirty; });
}

void TileHand::ForEachDirty(std::unique_ptr<uint8_t[]>* spareCells,
                            const std::function<void(TrackTile&, bool& headerDamaged)>& visit) {
  for (Packed& packed : packed_) {
    if (!packed.dirty) continue;
    const size_t memoryBefore = packed.Memory();
    const bool wasHeld = packed.held.held();
    HeldTile held = Unpack(packed, spareCells);
    visit(*held.tile, held.headerDamaged);
    // The marks are what they were; what the visit learnt of the file is kept.
    TrackTile& tile = *held.tile;
    dirtyPacked_ -= packed.dirty != 0;
    packed.dirty = tile.dirty;
    dirtyPacked_ += packed.dirty != 0;
    packed.headerDamaged = held.headerDamaged;
    packed.fileSeen = tile.fileSeen;
    packed.fileBytes = std::move(tile.fileBytes);
    packed.held = std::move(tile.held);
    heldFiles_ -= wasHeld && !packed.held.held();
    packedBytes_ = packedBytes_ - memoryBefore + packed.Memory();
    RecycleCells(tile, spareCells);
  }
  for (HeldTile& held : whole_)
    if (held.tile && held.tile->dirty) visit(*held.tile, held.headerDamaged);
}

}  // namespace roamgrid
