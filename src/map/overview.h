// The overview of the store: a pyramid of "any cell visited" bitmaps of the
// whole Web Mercator square, one per whole zoom from 0 to kOverviewZoom. At
// zoom L the world is 256 x 2^L pixels a side, and a pixel is marked when
// the centre of a visited cell lies in it (cells placed as the explorer
// tiles place them); a pixel of zoom L - 1 is marked when any of its four
// pixels of zoom L is. Only zoom kOverviewZoom is filled from the tiles; the
// coarser zooms follow from it.
//
// The bitmaps are kept in blocks of 64 x 64 pixels, only where something is
// marked, so memory grows with the marks and not with the world. The finest
// zoom's blocks are what the cache file keeps (EncodeBlocks/DecodeBlocks).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace roamgrid {

// The finest zoom of the overview: a pixel of about 76 m at the equator,
// some 12 x 12 cells; a tile of the store is 73 pixels wide. Closer views
// read the tiles in view, at most a few hundred.
constexpr int kOverviewZoom = 11;
constexpr int kOverviewBlockSide = 64;

// Pixel rectangle, first and last pixel included.
struct PixelRect {
  int64_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;
  bool Empty() const { return x1 < x0 || y1 < y0; }
};

class OverviewPyramid {
 public:
  // 64 rows of 64 pixels; bit i of a row is column i.
  struct Block {
    std::array<uint64_t, kOverviewBlockSide> rows{};
    bool Empty() const;
    bool operator==(const Block&) const = default;
  };

  // Pixels a side of the world at `zoom`: 256 x 2^zoom.
  static int64_t WorldPixels(int zoom) { return int64_t{256} << zoom; }

  // Marks pixel (x, y) of the finest zoom; nothing outside the world.
  // Coarser zooms follow at the next UpdateCoarser.
  void Mark(int64_t x, int64_t y);
  // Clears the pixels of `rect` (finest zoom, clipped to the world).
  void Clear(const PixelRect& rect);
  // Brings the coarser zooms up to date with the finest one where it
  // changed since the last call.
  void UpdateCoarser();
  // Removes everything.
  void Reset();

  bool Get(int zoom, int64_t x, int64_t y) const;
  // The block (bx, by) of `zoom` (its pixels 64 bx .. 64 bx + 63 and the
  // same down), or null when nothing in it is marked.
  const Block* FindBlock(int zoom, int64_t bx, int64_t by) const;
  // Calls visit(x, y) for every marked pixel of `zoom` within `rect`
  // (clipped to the world), block by block.
  void ForEachMarked(int zoom, const PixelRect& rect,
                     const std::function<void(int64_t, int64_t)>& visit) const;
  // Calls visit(bx, by, block) for every block of `zoom` with a mark, in
  // no particular order.
  void ForEachBlock(int zoom,
                    const std::function<void(int64_t, int64_t, const Block&)>& visit) const;
  size_t BlockCount(int zoom) const;
  // Bytes held by the blocks and their tables, roughly.
  size_t MemoryBytes() const;
  bool Empty() const { return levels_[kOverviewZoom].empty(); }

  // The finest zoom's blocks as bytes: a count, then per block its numbers
  // and 64 rows (little-endian), in order of by, then bx.
  void EncodeBlocks(std::vector<uint8_t>& out) const;
  // Replaces the pyramid with blocks from EncodeBlocks' bytes at
  // bytes[at..size) and rebuilds the coarser zooms; `at` moves past them.
  // False (and an empty pyramid) when they are not such bytes.
  bool DecodeBlocks(const uint8_t* bytes, size_t size, size_t& at);

  bool operator==(const OverviewPyramid& other) const;

 private:
  using Level = std::unordered_map<uint64_t, Block>;
  static uint64_t Key(int64_t bx, int64_t by) { return uint64_t(by) << 32 | uint64_t(bx); }
  void RebuildParent(int zoom, uint64_t parentKey);

  std::array<Level, kOverviewZoom + 1> levels_;
  // Blocks of the finest zoom changed since the last UpdateCoarser.
  std::unordered_set<uint64_t> changed_;
};

}  // namespace roamgrid
