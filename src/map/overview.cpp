#include "map/overview.h"

#include <algorithm>
#include <bit>

#include "common/byte_io.h"

namespace roamgrid {

namespace {

constexpr int kSide = kOverviewBlockSide;
static_assert(kSide == 64, "a block row is one 64-bit word");

// Blocks a side of the world at `zoom`.
int64_t WorldBlocks(int zoom) { return OverviewPyramid::WorldPixels(zoom) / kSide; }

// The even bits of `word` (bit 2k to bit k): 32 pixels of a coarser row from
// 64 of a finer one whose pairs were ORed into the even bits.
uint32_t GatherEvenBits(uint64_t word) {
  word &= 0x5555555555555555ull;
  word = (word | (word >> 1)) & 0x3333333333333333ull;
  word = (word | (word >> 2)) & 0x0F0F0F0F0F0F0F0Full;
  word = (word | (word >> 4)) & 0x00FF00FF00FF00FFull;
  word = (word | (word >> 8)) & 0x0000FFFF0000FFFFull;
  word = (word | (word >> 16)) & 0x00000000FFFFFFFFull;
  return uint32_t(word);
}

void AppendLE64(std::vector<uint8_t>& out, uint64_t v) {
  const size_t at = out.size();
  out.resize(at + 8);
  PutLE64(out.data() + at, v);
}

}  // namespace

bool OverviewPyramid::Block::Empty() const {
  for (uint64_t row : rows)
    if (row) return false;
  return true;
}

void OverviewPyramid::Mark(int64_t x, int64_t y) {
  const int64_t world = WorldPixels(kOverviewZoom);
  if (x < 0 || y < 0 || x >= world || y >= world) return;
  const uint64_t key = Key(x / kSide, y / kSide);
  levels_[kOverviewZoom][key].rows[size_t(y % kSide)] |= uint64_t(1) << (x % kSide);
  changed_.insert(key);
}

void OverviewPyramid::Clear(const PixelRect& rect) {
  const int64_t world = WorldPixels(kOverviewZoom);
  const int64_t x0 = std::max<int64_t>(rect.x0, 0), x1 = std::min(rect.x1, world - 1);
  const int64_t y0 = std::max<int64_t>(rect.y0, 0), y1 = std::min(rect.y1, world - 1);
  if (x1 < x0 || y1 < y0) return;
  Level& level = levels_[kOverviewZoom];
  for (int64_t by = y0 / kSide; by <= y1 / kSide; ++by) {
    for (int64_t bx = x0 / kSide; bx <= x1 / kSide; ++bx) {
      const auto found = level.find(Key(bx, by));
      if (found == level.end()) continue;
      const int64_t left = std::max(x0 - bx * kSide, int64_t{0});
      const int64_t right = std::min(x1 - bx * kSide, int64_t{kSide - 1});
      const uint64_t keep =
          ~((right == kSide - 1 ? ~uint64_t{0} : (uint64_t{1} << (right + 1)) - 1) &
            ~((uint64_t{1} << left) - 1));
      const int64_t top = std::max(y0 - by * kSide, int64_t{0});
      const int64_t bottom = std::min(y1 - by * kSide, int64_t{kSide - 1});
      for (int64_t row = top; row <= bottom; ++row) found->second.rows[size_t(row)] &= keep;
      changed_.insert(found->first);
      if (found->second.Empty()) level.erase(found);
    }
  }
}

void OverviewPyramid::RebuildParent(int zoom, uint64_t parentKey) {
  const int64_t bx = int64_t(uint32_t(parentKey)), by = int64_t(parentKey >> 32);
  Block parent;
  const Level& finer = levels_[zoom + 1];
  for (int quarter = 0; quarter < 4; ++quarter) {
    const int64_t cx = 2 * bx + (quarter & 1), cy = 2 * by + (quarter >> 1);
    const auto child = finer.find(Key(cx, cy));
    if (child == finer.end()) continue;
    const int shift = (quarter & 1) * (kSide / 2);
    const size_t rowBase = size_t(quarter >> 1) * (kSide / 2);
    for (size_t row = 0; row < kSide / 2; ++row) {
      const uint64_t pair = child->second.rows[2 * row] | child->second.rows[2 * row + 1];
      parent.rows[rowBase + row] |= uint64_t(GatherEvenBits(pair | (pair >> 1))) << shift;
    }
  }
  Level& level = levels_[zoom];
  if (parent.Empty()) {
    level.erase(parentKey);
  } else {
    level[parentKey] = parent;
  }
}

void OverviewPyramid::UpdateCoarser() {
  std::unordered_set<uint64_t> changed = std::move(changed_);
  changed_.clear();
  for (int zoom = kOverviewZoom - 1; zoom >= 0 && !changed.empty(); --zoom) {
    std::unordered_set<uint64_t> parents;
    for (uint64_t key : changed)
      parents.insert(Key(int64_t(uint32_t(key)) / 2, int64_t(key >> 32) / 2));
    for (uint64_t key : parents) RebuildParent(zoom, key);
    changed = std::move(parents);
  }
}

void OverviewPyramid::Reset() {
  for (Level& level : levels_) level.clear();
  changed_.clear();
}

bool OverviewPyramid::Get(int zoom, int64_t x, int64_t y) const {
  if (zoom < 0 || zoom > kOverviewZoom) return false;
  const int64_t world = WorldPixels(zoom);
  if (x < 0 || y < 0 || x >= world || y >= world) return false;
  const Block* block = FindBlock(zoom, x / kSide, y / kSide);
  return block && (block->rows[size_t(y % kSide)] >> (x % kSide) & 1);
}

const OverviewPyramid::Block* OverviewPyramid::FindBlock(int zoom, int64_t bx, int64_t by) const {
  if (zoom < 0 || zoom > kOverviewZoom) return nullptr;
  const int64_t blocks = WorldBlocks(zoom);
  if (bx < 0 || by < 0 || bx >= blocks || by >= blocks) return nullptr;
  const auto found = levels_[zoom].find(Key(bx, by));
  return found == levels_[zoom].end() ? nullptr : &found->second;
}

void OverviewPyramid::ForEachMarked(int zoom, const PixelRect& rect,
                                    const std::function<void(int64_t, int64_t)>& visit) const {
  if (zoom < 0 || zoom > kOverviewZoom) return;
  const int64_t world = WorldPixels(zoom);
  const int64_t x0 = std::max<int64_t>(rect.x0, 0), x1 = std::min(rect.x1, world - 1);
  const int64_t y0 = std::max<int64_t>(rect.y0, 0), y1 = std::min(rect.y1, world - 1);
  if (x1 < x0 || y1 < y0) return;
  const auto visitBlock = [&](int64_t bx, int64_t by, const Block& block) {
    const int64_t top = std::max(y0 - by * kSide, int64_t{0});
    const int64_t bottom = std::min(y1 - by * kSide, int64_t{kSide - 1});
    const int64_t left = std::max(x0 - bx * kSide, int64_t{0});
    const int64_t right = std::min(x1 - bx * kSide, int64_t{kSide - 1});
    const uint64_t columns =
        (right == kSide - 1 ? ~uint64_t{0} : (uint64_t{1} << (right + 1)) - 1) &
        ~((uint64_t{1} << left) - 1);
    for (int64_t row = top; row <= bottom; ++row) {
      for (uint64_t bits = block.rows[size_t(row)] & columns; bits != 0; bits &= bits - 1)
        visit(bx * kSide + std::countr_zero(bits), by * kSide + row);
    }
  };
  const Level& level = levels_[zoom];
  const int64_t bx0 = x0 / kSide, bx1 = x1 / kSide, by0 = y0 / kSide, by1 = y1 / kSide;
  // Few marks in a large rectangle: look at the blocks there are, not at
  // every block the rectangle holds.
  if (uint64_t(bx1 - bx0 + 1) * uint64_t(by1 - by0 + 1) > level.size()) {
    for (const auto& [key, block] : level) {
      const int64_t bx = int64_t(uint32_t(key)), by = int64_t(key >> 32);
      if (bx >= bx0 && bx <= bx1 && by >= by0 && by <= by1) visitBlock(bx, by, block);
    }
    return;
  }
  for (int64_t by = by0; by <= by1; ++by) {
    for (int64_t bx = bx0; bx <= bx1; ++bx) {
      const auto found = level.find(Key(bx, by));
      if (found != level.end()) visitBlock(bx, by, found->second);
    }
  }
}

void OverviewPyramid::ForEachBlock(
    int zoom, const std::function<void(int64_t, int64_t, const Block&)>& visit) const {
  if (zoom < 0 || zoom > kOverviewZoom) return;
  for (const auto& [key, block] : levels_[zoom])
    visit(int64_t(uint32_t(key)), int64_t(key >> 32), block);
}

size_t OverviewPyramid::BlockCount(int zoom) const {
  return zoom < 0 || zoom > kOverviewZoom ? 0 : levels_[zoom].size();
}

size_t OverviewPyramid::MemoryBytes() const {
  size_t bytes = 0;
  // A node of the table: the block, its key, a link and the hash, roughly.
  for (const Level& level : levels_)
    bytes += level.size() * (sizeof(Block) + 32) + level.bucket_count() * sizeof(void*);
  return bytes;
}

void OverviewPyramid::EncodeBlocks(std::vector<uint8_t>& out) const {
  std::vector<uint64_t> keys;
  keys.reserve(levels_[kOverviewZoom].size());
  for (const auto& entry : levels_[kOverviewZoom]) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  AppendLE64(out, keys.size());
  for (uint64_t key : keys) {
    AppendLE64(out, key);
    for (uint64_t row : levels_[kOverviewZoom].at(key).rows) AppendLE64(out, row);
  }
}

bool OverviewPyramid::DecodeBlocks(const uint8_t* bytes, size_t size, size_t& at) {
  Reset();
  constexpr size_t kBlockBytes = 8 + 8 * kSide;
  const int64_t blocks = WorldBlocks(kOverviewZoom);
  bool sound = at <= size && size - at >= 8;
  const uint64_t count = sound ? GetLE64(bytes + at) : 0;
  if (sound) at += 8;
  // Each block must be there in full, in increasing order, inside the world
  // and with a mark: anything else is not what EncodeBlocks wrote.
  sound = sound && count <= (size - at) / kBlockBytes;
  uint64_t previous = 0;
  for (uint64_t i = 0; sound && i < count; ++i, at += kBlockBytes) {
    const uint64_t key = GetLE64(bytes + at);
    const int64_t bx = int64_t(uint32_t(key)), by = int64_t(key >> 32);
    Block block;
    for (size_t row = 0; row < kSide; ++row) block.rows[row] = GetLE64(bytes + at + 8 + 8 * row);
    sound = bx < blocks && by < blocks && (i == 0 || key > previous) && !block.Empty();
    previous = key;
    if (sound) {
      levels_[kOverviewZoom].emplace(key, block);
      changed_.insert(key);
    }
  }
  if (!sound) {
    Reset();
    return false;
  }
  UpdateCoarser();
  return true;
}

bool OverviewPyramid::operator==(const OverviewPyramid& other) const {
  return levels_ == other.levels_;
}

}  // namespace roamgrid
