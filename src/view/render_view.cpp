#include "view/render_view.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "common/number_text.h"
#include "tiles/grid_units.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

// Every call reads up to 4096 tile files, and a marked tile's code stream
// is up to 114,688 bytes, so the builder never expands a tile into its
// 802,816 cells. It reads each file into one buffer and walks the code
// stream once, turning the literal bytes of the visible cell rows straight
// into pixels, band by band: a band is the b cell rows of one pixel row.
// Run bytes mark nothing and only advance the group counter, eight at a
// time through empty stretches; at zoom indices 4 to 7 a band whose pixels
// are all marked is passed over without looking at its literals. The
// walk ends at the last visible cell row. The pixels are the ones the
// block scan of each pixel's b x b cells gives, a damaged stream reading
// as unmarked from where it stops.

namespace roamgrid {

namespace {

int ClampZoom(int32_t zoomIndex) {
  return std::clamp<int32_t>(zoomIndex, kMinZoomIndex, kMaxZoomIndex);
}

// Where one tile row or column lands along one axis of the raster: pixels
// [from, to) and the tile's first cell under pixel `from`.
struct AxisPlacement {
  int from, to;
  int firstCell;
};

// Places tile row (or column) k, whose edge is 20 k grid units, in a view
// whose edge is at `origin` (aligned), at e pixels per tile side.
AxisPlacement PlaceAxis(int64_t k, int64_t origin, int e) {
  const int64_t edge = kGridPerTile * k;
  const int64_t first = ((edge - origin) * e) / kGridPerTile;
  AxisPlacement p;
  p.from = int(std::max<int64_t>(first, 0));
  p.to = int(std::min<int64_t>(first + e, kRasterSide));
  p.firstCell =
      int((((int64_t(p.from) * kGridPerTile) / e + origin - edge) * kCellsPerSide) / kGridPerTile);
  return p;
}

// Where one tile lands in the raster: pixel columns [xA, xB), pixel rows
// [yA, yB), and the tile cell (r0, c0) under pixel (yA, xA).
struct TilePlacement {
  int xA, xB, yA, yB;
  int r0, c0;
};

void ClearPixels(const TilePlacement& p, uint8_t* raster) {
  const int width = p.xB - p.xA;
  if (width == kRasterSide) {  // whole rows: one stretch
    std::memset(raster + p.yA * kRasterSide, 0, size_t(p.yB - p.yA) * kRasterSide);
    return;
  }
  for (int y = p.yA; y < p.yB; ++y) std::memset(raster + y * kRasterSide + p.xA, 0, size_t(width));
}

uint64_t Load64(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kLowBits = 0x0101010101010101ull;
// EightBytes reads the lanes of a word in stream order.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Groups described by the eight run bytes of `word` (each 1..128), in any
// byte order.
int RunGroups(uint64_t word) {
  const uint64_t counts = (word & ~kHighBits) + kLowBits;  // per byte, at most 128
  const uint64_t pairs = (counts & 0x00FF00FF00FF00FFull) + ((counts >> 8) & 0x00FF00FF00FF00FFull);
  return int((pairs * 0x0001000100010001ull) >> 48);
}

// Groups each code byte describes: 1 for a literal, (value & 0x7F) + 1 for a run.
constexpr auto kAdvance = [] {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) t[v] = uint8_t(v < 0x80 ? 1 : (v & 0x7F) + 1);
  return t;
}();

// The same, times 256.
constexpr auto kAdvance256 = [] {
  std::array<uint32_t, 256> t{};
  for (int v = 0; v < 256; ++v) t[v] = uint32_t(kAdvance[v]) << 8;
  return t;
}();

// A code stream being walked: the next code byte and the group it describes.
struct StreamCursor {
  const uint8_t* next;
  const uint8_t* end;
  int group = 0;
};

// Advances the cursor past every group below `target`, marking nothing;
// the last run may reach beyond `target` (its groups are empty). Returns
// false when the stream ends early or a run reaches past the tile, which is
// where a damaged stream stops.
bool SkipGroups(StreamCursor& s, int target) {
  while (s.group < target) {
    // Fast paths: 32 or 8 literal bytes, or eight runs.
    if (s.end - s.next >= 32 && target - s.group >= 32) {
      const uint64_t words =
          Load64(s.next) | Load64(s.next + 8) | Load64(s.next + 16) | Load64(s.next + 24);
      if ((words & kHighBits) == 0) {
        s.next += 32;
        s.group += 32;
        continue;
      }
    }
    if (s.end - s.next >= 8) {
      const uint64_t word = Load64(s.next);
      if ((word & kHighBits) == 0 && target - s.group >= 8) {
        s.next += 8;
        s.group += 8;
        continue;
      }
      // The runs end at most where the last one does; within the tile none
      // of them can reach past it.
      if ((word & kHighBits) == kHighBits && s.group + RunGroups(word) <= kGroupCount) {
        s.next += 8;
        s.group += RunGroups(word);
        continue;
      }
    }
    if (s.next == s.end) return false;
    const int byte = *s.next++;
    if ((byte & 0x80) && s.group + (byte & 0x7F) > kGroupCount) return false;
    s.group += kAdvance[byte];
  }
  return true;
}

// The cell columns of one tile that the view shows: [cLo, cLo + width * b),
// width pixels of b columns each.
struct ColumnWindow {
  int cLo, width, b;
  bool operator==(const ColumnWindow&) const = default;
  bool Whole() const { return cLo == 0 && width * b == kCellsPerSide; }
};

// Eight code bytes read as one word, lane k holding the k-th byte: which
// are literals, and the groups the bytes before each lane describe.
struct EightBytes {
  uint64_t literals;  // bit 8k set when byte k is a literal
  uint64_t before03;  // 16-bit lane k: groups described by bytes 0..k-1 (k = 0..3)
  uint64_t before47;  // 16-bit lane k - 4: the same for k = 4..7
  int total;          // groups described by all eight

  explicit EightBytes(uint64_t word) {
    const uint64_t runs = (word >> 7) & kLowBits;
    literals = (runs ^ kLowBits) << 7;
    // Groups per byte: 1 for a literal, (value & 0x7F) + 1 for a run.
    const uint64_t counts = (word & ~kHighBits & (runs * 0x7F)) + kLowBits;
    const uint64_t low = Widen(counts & 0xFFFFFFFF), high = Widen(counts >> 32);
    // Multiplying by 0x0001000100010001 adds every lane into all lanes
    // above it: inclusive prefix sums, at most 512 per lane.
    const uint64_t ones = 0x0001000100010001ull;
    const uint64_t lowSums = low * ones;
    const uint64_t highSums = high * ones + (lowSums >> 48) * ones;
    before03 = lowSums - low;
    before47 = highSums - high;
    total = int(highSums >> 48);
  }
  // Groups before the byte whose literal flag is bit `bit` (8k + 7).
  int GroupsBefore(int bit) const {
    const int lane = bit >> 3;
    const uint64_t sums = lane < 4 ? before03 : before47;
    return int((sums >> (16 * (lane & 3))) & 0xFFFF);
  }

 private:
  // Four bytes into four 16-bit lanes.
  static uint64_t Widen(uint64_t four) {
    const uint64_t pairs = (four | (four << 16)) & 0x0000FFFF0000FFFFull;
    return (pairs | (pairs << 8)) & 0x00FF00FF00FF00FFull;
  }
};

// Walks the code stream of a tile whose visible cells are rows [r0, r0 +
// bands * b) and the columns of the kernel's window, handing each literal
// byte of the visible rows to kernel.Literal(group column, bits) and
// closing each band with kernel.EndBand(band); bands after the point where
// a damaged stream stops are closed unmarked.
template <class Kernel>
void WalkBands(StreamCursor s, int r0, int bands, int b, Kernel& kernel) {
  const int bandGroups = b * kGroupsPerRow;
  int band = 0;
  int bandEnd = (r0 + b) * kGroupsPerRow;
  // Closes every band that ends at or before `group`; false once the last
  // visible band is closed.
  auto closeBands = [&](int group) {
    while (group >= bandEnd) {
      kernel.EndBand(band);
      bandEnd += bandGroups;
      if (++band == bands) return false;
    }
    return true;
  };
  // Up to this group eight code bytes cannot reach past the tile, so the
  // eight-byte steps need no check for a run past the end, nor for the end
  // of the stream (after which further bytes are not code).
  constexpr int kEightByteLimit = kGroupCount - 8 * kGroupsPerRow;
  if (!SkipGroups(s, r0 * kGroupsPerRow) || !closeBands(s.group)) {
    for (; band < bands; ++band) kernel.EndBand(band);
    return;
  }
  for (;;) {
    if (kLittleEndian && s.end - s.next >= 8 && s.group <= kEightByteLimit) {
      const uint64_t word = Load64(s.next);
      s.next += 8;
      if ((word & kHighBits) == kHighBits) {  // eight runs: nothing to mark
        s.group += RunGroups(word);
        if (!closeBands(s.group)) return;
        continue;
      }
      // Eight bytes with literals: the group of each byte comes from sums of
      // the bytes' group counts, so no branch on a byte's kind is needed
      // (it would be mispredicted wherever a track crosses).
      const EightBytes eight(word);
      for (uint64_t lanes = eight.literals; lanes != 0; lanes &= lanes - 1) {
        const int bit = std::countr_zero(lanes);
        const int group = s.group + eight.GroupsBefore(bit);
        if (group >= bandEnd && !closeBands(group)) return;
        kernel.Literal(group & (kGroupsPerRow - 1), uint32_t(word >> (bit - 7)) & 0x7F);
      }
      s.group += eight.total;
      if (!closeBands(s.group)) return;
    } else {
      // One byte at a time near the end of the tile or of the stream.
      if (s.next == s.end) break;
      const uint32_t byte = *s.next++;
      if (byte & 0x80) {
        if (s.group + int(byte & 0x7F) > kGroupCount) break;  // a run past the tile
      } else {
        kernel.Literal(s.group & (kGroupsPerRow - 1), byte);
      }
      s.group += kAdvance[byte];
      if (!closeBands(s.group)) return;
    }
  }
  for (; band < bands; ++band) kernel.EndBand(band);
}

// Whole tiles at zoom indices 4 to 7 (b = 16 to 128 cells per pixel, 56 to
// 7 pixels per tile side). A group's seven cells lie in one pixel or in two
// neighbouring ones, so what a code byte marks depends only on its group
// column and its value: one table lookup per byte, run bytes giving 0. The
// pixels of a band are bits of one register.
class NarrowTable {
 public:
  static constexpr int kFirstZoom = 4;

  static const NarrowTable& ForZoom(int zoom) {
    static const auto tables = [] {
      auto all = std::make_unique<std::array<NarrowTable, kMaxZoomIndex - kFirstZoom + 1>>();
      for (int z = kFirstZoom; z <= kMaxZoomIndex; ++z) (*all)[z - kFirstZoom].Build(z);
      return all;
    }();
    return (*tables)[zoom - kFirstZoom];
  }

  // At zoom index 7 (7 pixels) the entry is the pixel bits themselves;
  // below it, bits 0 and 1 mark the group's first pixel and the next one,
  // and bits 2..7 hold that first pixel.
  bool Direct() const { return direct_; }
  // Entry for the group column in bits 8..14 of `index` and the code byte
  // in bits 0..7.
  uint8_t operator[](uint32_t index) const { return entries_[index]; }

 private:
  void Build(int zoom) {
    const int b = kZoomSpans[zoom] / 10;
    direct_ = kCellsPerSide / b <= 8;
    for (int gc = 0; gc < kGroupsPerRow; ++gc) {
      const int firstPixel = gc * kCellsPerGroup / b;
      for (int v = 0; v < 0x80; ++v) {
        uint8_t entry = 0;
        for (int k = 0; k < kCellsPerGroup; ++k) {
          if (!(v & (0x40 >> k))) continue;
          const int pixel = (gc * kCellsPerGroup + k) / b;
          entry |= uint8_t(direct_ ? 1 << pixel : 1 << (pixel - firstPixel));
        }
        if (!direct_ && entry) entry |= uint8_t(firstPixel << 2);
        entries_[gc << 8 | v] = entry;
      }
    }
  }

  bool direct_ = false;
  std::array<uint8_t, kGroupsPerRow * 256> entries_{};
};

template <bool kDirect>
uint64_t NarrowMarks(const NarrowTable& table, uint32_t index) {
  const uint32_t entry = table[index];
  if constexpr (kDirect) {
    return entry;
  } else {
    return uint64_t(entry & 3) << (entry >> 2);
  }
}

// Walks the code stream of a whole tile at zoom index 4 to 7 into its
// `bands` rows of `width` pixels from `firstPixel` on (band k is pixel row
// yA + k). Bands after the point where a damaged stream stops are
// unmarked.
template <bool kDirect>
void WalkNarrow(StreamCursor s, int bands, int b, int width, const NarrowTable& table,
                uint8_t* firstPixel) {
  const int bandGroups = b * kGroupsPerRow;
  const uint64_t full = width == 64 ? ~0ull : (1ull << width) - 1;
  uint64_t marks = 0;
  int band = 0;
  int bandEnd = bandGroups;
  // Writes the pixels of every band that ends at or before the cursor;
  // false once the last band is written.
  auto closeBands = [&] {
    while (s.group >= bandEnd) {
      uint8_t* row = firstPixel + band * kRasterSide;
      for (int x = 0; x < width; ++x) row[x] = uint8_t((marks >> x) & 1);
      marks = 0;
      bandEnd += bandGroups;
      if (++band == bands) return false;
    }
    return true;
  };
  // Up to this group eight code bytes cannot reach past the tile, so the
  // eight-byte steps need no check for a run past the end, nor for the end
  // of the stream (after which further bytes are not code).
  constexpr int kEightByteLimit = kGroupCount - 8 * kGroupsPerRow;
  for (;;) {
    if (s.end - s.next >= 8 && s.group <= kEightByteLimit) {
      const uint64_t word = Load64(s.next);
      if ((word & kHighBits) == kHighBits) {
        // Eight runs mark nothing; empty stretches are taken eight bytes at a
        // time until the next literal.
        s.group += RunGroups(word);
        while (s.end - s.next >= 16 && s.group <= kEightByteLimit) {
          const uint64_t next = Load64(s.next + 8);
          if ((next & kHighBits) != kHighBits) break;
          s.group += RunGroups(next);
          s.next += 8;
        }
      } else if (s.group + 8 * kGroupsPerRow < bandEnd) {
        // Eight bytes inside the band, without a branch on each byte's kind
        // (it would be mispredicted wherever a track crosses). The group is
        // kept times 256, where the table index wants it.
        uint32_t group256 = uint32_t(s.group) << 8;
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) {
          const uint32_t byte = s.next[k];
          marks |= NarrowMarks<kDirect>(table, (group256 & 0x7F00) | byte);
          group256 += kAdvance256[byte];
        }
        s.group = int(group256 >> 8);
      } else {
        for (int k = 0; k < 8; ++k) {
          const uint32_t byte = s.next[k];
          marks |= NarrowMarks<kDirect>(table, uint32_t(s.group & 0x7F) << 8 | byte);
          s.group += kAdvance[byte];
          if (!closeBands()) return;
        }
      }
      s.next += 8;
    } else {
      // One byte at a time near the end of the tile or of the stream.
      if (s.next == s.end) break;
      const uint32_t byte = *s.next++;
      if ((byte & 0x80) && s.group + int(byte & 0x7F) > kGroupCount) break;  // past the tile
      marks |= NarrowMarks<kDirect>(table, uint32_t(s.group & 0x7F) << 8 | byte);
      s.group += kAdvance[byte];
    }
    if (!closeBands()) return;
    if (marks == full) {
      // Nothing in the rest of the band can change its pixels.
      if (!SkipGroups(s, bandEnd)) break;
      if (!closeBands()) return;
    }
  }
  // A damaged stream: what it did not reach reads as unmarked.
  for (; band < bands; ++band) {
    uint8_t* row = firstPixel + band * kRasterSide;
    for (int x = 0; x < width; ++x) row[x] = uint8_t((marks >> x) & 1);
    marks = 0;
  }
}

// Any window, and wide ones of 112 to 896 pixels per tile side (b = 8 down
// to 1): the pixels of a band collect in a row of bytes; each literal ORs
// the eight bytes from its group's first pixel on, spread from its bits by
// a table, into the aligned eight-byte words of the row. A band's marked
// stretch of words is copied to the raster, whose rows were cleared
// beforehand.
class WideKernel {
 public:
  static constexpr int kPad = 8;  // room for groups that begin left of the window
  struct Entry {
    uint16_t pos = kPad;  // row-buffer index of the pixel of the group's cell 0
    uint8_t visible = 0;  // literal bits of the cells inside the window
    uint8_t split = 7;    // cells of the group in its first pixel, 1..7
  };
  using Map = std::array<Entry, kGroupsPerRow>;

  static void BuildMap(const ColumnWindow& w, Map& map) {
    for (int gc = 0; gc < kGroupsPerRow; ++gc) {
      Entry entry;
      const int first = gc * kCellsPerGroup - w.cLo;  // may lie left of the window
      for (int k = 0; k < kCellsPerGroup; ++k) {
        const int c = first + k;
        if (c >= 0 && c < w.width * w.b) entry.visible |= uint8_t(0x40 >> k);
      }
      if (entry.visible) {
        entry.pos = uint16_t(kPad + FloorDiv(first, w.b));
        entry.split = uint8_t(std::min<int64_t>(w.b - FloorMod(first, w.b), 7));
      }
      map[gc] = entry;
    }
  }

  // The map for whole tiles at a zoom index of 0 to 3, made once.
  static const Map& WholeTileMap(int zoom) {
    static const auto maps = [] {
      std::array<Map, 4> all{};
      for (int z = 0; z < 4; ++z) {
        const int cellsPerPixel = kZoomSpans[z] / 10;
        BuildMap(ColumnWindow{0, kCellsPerSide / cellsPerPixel, cellsPerPixel}, all[z]);
      }
      return all;
    }();
    return maps[zoom];
  }

  // The row: kRowWords words, all 0 between bands.
  static constexpr int kRowWords = (kPad + kCellsPerSide) / 8 + 2;
  using Row = std::array<uint64_t, kRowWords>;

  WideKernel(const Map& map, int b, int width, uint8_t* firstPixel, Row& row)
      : map_(map), spread_(Spread(b)), width_(width), firstPixel_(firstPixel), row_(row) {}

  void Literal(int gc, uint32_t bits) {
    const Entry e = map_[gc];
    const uint64_t add = spread_[e.split][bits & e.visible];
    const int word = e.pos >> 3;
    if constexpr (kLittleEndian) {
      // Two aligned words rather than one unaligned one: a load that
      // overlaps the previous literal's store only in part would stall.
      const int shift = (e.pos & 7) * 8;
      row_[word] |= add << shift;
      row_[word + 1] |= (add >> 1) >> (63 - shift);  // the spread has at most 7 bytes
    } else {
      uint8_t* at = reinterpret_cast<uint8_t*>(row_.data()) + e.pos;
      const uint64_t bytes = Load64(at) | add;
      std::memcpy(at, &bytes, sizeof bytes);
    }
    first_ = std::min(first_, word);
    last_ = std::max(last_, word + 1);
  }
  void EndBand(int band) {
    if (last_ < 0) return;  // nothing marked: the raster row is cleared already
    const int from = std::max(first_ * 8, kPad), to = std::min(last_ * 8 + 8, kPad + width_);
    if (from < to) {
      std::memcpy(firstPixel_ + band * kRasterSide + (from - kPad),
                  reinterpret_cast<const uint8_t*>(row_.data()) + from, size_t(to - from));
    }
    std::fill(row_.begin() + first_, row_.begin() + last_ + 1, 0);
    first_ = kRowWords;
    last_ = -1;
  }

 private:
  // For each split and literal value: the pixel bytes that the group's
  // marked cells fall in, from its first pixel on, as they lie in memory.
  using SpreadTable = std::array<std::array<uint64_t, 128>, 8>;
  static const SpreadTable& Spread(int b) {
    static const auto tables = [] {
      std::array<SpreadTable, 4> t{};  // b = 1, 2, 4 and 8 or more
      for (int level = 0; level < 4; ++level) {
        const int cellsPerPixel = 1 << level;
        for (int split = 1; split <= 7; ++split) {
          for (int bits = 0; bits < 128; ++bits) {
            uint8_t pixels[8] = {};
            for (int k = 0; k < kCellsPerGroup; ++k)
              if (bits & (0x40 >> k)) pixels[k < split ? 0 : 1 + (k - split) / cellsPerPixel] = 1;
            std::memcpy(&t[level][split][bits], pixels, sizeof pixels);
          }
        }
      }
      return t;
    }();
    return tables[b >= 8 ? 3 : b == 4 ? 2 : b == 2 ? 1 : 0];
  }

  const Map& map_;
  const SpreadTable& spread_;
  const int width_;
  uint8_t* const firstPixel_;
  Row& row_;
  int first_ = kRowWords;  // the words marked in this band: first_ to last_
  int last_ = -1;
};

// The rows (i) and columns (j) of tiles, in tiles of 20 grid units, that a
// view of span S with the drawn south-west corner (lat, lon) meets.
struct TileSpan {
  int64_t iA, iB, jA, jB;
};
TileSpan TilesOfView(int64_t lat, int64_t lon, int S) {
  return {FloorDiv(lat, kGridPerTile), FloorDiv(lat + S - 1, kGridPerTile),
          FloorDiv(lon, kGridPerTile), FloorDiv(lon + S - 1, kGridPerTile)};
}

// The drawn origin of an effective origin: moved south-west onto the
// alignment grid when it is off it, so that tiles abut and cells stay in
// their tile.
int64_t DrawnOrigin(int32_t origin, int zoom) {
  const int64_t step = AlignmentStep(zoom);
  return FloorDiv(origin, step) * step;
}

}  // namespace

ViewTexts RebuildView(ViewState& state, uint8_t* raster) {
  const int zoom = ClampZoom(state.zoomIndex);
  const int S = kZoomSpans[zoom];
  const int e = 8960 / S;  // pixels per tile side
  const int b = S / 10;    // cells per pixel side
  // Origin + pending move with 32-bit wrap-around, as the commit stores it.
  const int32_t aLat = int32_t(int64_t(state.originLat) + state.pendingDLat);
  const int32_t aLon = int32_t(int64_t(state.originLon) + state.pendingDLon);
  const int64_t lat = DrawnOrigin(aLat, zoom);
  const int64_t lon = DrawnOrigin(aLon, zoom);

  auto file = std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
  // Maps for windows that show part of a tile (zoom indices 0 and 1).
  auto partMap = std::make_unique<WideKernel::Map>();
  ColumnWindow partWindow{-1, 0, 0};
  auto wideRow = std::make_unique<WideKernel::Row>();

  const auto [iA, iB, jA, jB] = TilesOfView(lat, lon, S);
  // At most 65 tile columns: the widest view, cut at both edges.
  std::array<AxisPlacement, kZoomSpans[kMaxZoomIndex] / kGridPerTile + 1> columns;
  for (int64_t j = jA; j <= jB; ++j) columns[size_t(j - jA)] = PlaceAxis(j, lon, e);
  for (int64_t i = iA; i <= iB; ++i) {
    const AxisPlacement row = PlaceAxis(i, lat, e);
    for (int64_t j = jA; j <= jB; ++j) {
      const AxisPlacement& column = columns[size_t(j - jA)];
      const TilePlacement p{column.from, column.to,     row.from,
                            row.to,      row.firstCell, column.firstCell};
      if (p.xA >= p.xB || p.yA >= p.yB) continue;
      // Only the alignment rule keeps the cells in the tile; the snapping
      // above keeps it, and a window that broke it would be drawn unmarked.
      const bool inside = p.r0 >= 0 && p.c0 >= 0 && p.r0 + (p.yB - p.yA) * b <= kCellsPerSide &&
                          p.c0 + (p.xB - p.xA) * b <= kCellsPerSide;
      char path[kTilePathSize];
      FormatTilePath(int32_t(kCentiPerTile * i), NormalizeLonKey(kCentiPerTile * j), path);
      const long size = inside ? ReadTileFile(path, file.get()) : -1;
      // No file, a damaged header, or both masks 0: no pixel is marked.
      if (size < long(kTileHeaderSize) || file[0] != 0x00 || (file[1] | file[2]) == 0) {
        ClearPixels(p, raster);
        continue;
      }
      const StreamCursor stream{file.get() + kTileHeaderSize, file.get() + size};
      const ColumnWindow window{p.c0, p.xB - p.xA, b};
      uint8_t* firstPixel = raster + p.yA * kRasterSide + p.xA;
      const int bands = p.yB - p.yA;
      if (window.Whole() && p.r0 == 0 && bands * b == kCellsPerSide &&
          zoom >= NarrowTable::kFirstZoom) {
        const NarrowTable& table = NarrowTable::ForZoom(zoom);
        if (table.Direct()) {
          WalkNarrow<true>(stream, bands, b, window.width, table, firstPixel);
        } else {
          WalkNarrow<false>(stream, bands, b, window.width, table, firstPixel);
        }
        continue;
      }
      const WideKernel::Map* map = zoom <= 3 ? &WideKernel::WholeTileMap(zoom) : nullptr;
      if (!map || !window.Whole()) {
        if (!(window == partWindow)) WideKernel::BuildMap(window, *partMap);
        partWindow = window;
        map = partMap.get();
      }
      ClearPixels(p, raster);
      WideKernel kernel(*map, b, window.width, firstPixel, *wideRow);
      WalkBands(stream, p.r0, bands, b, kernel);
    }
  }

  state.originLon = aLon;
  state.originLat = aLat;
  state.pendingDLon = 0;
  state.pendingDLat = 0;
  return FormatViewTexts(state);
}

std::vector<std::string> ViewTileFolders(const ViewState& state) {
  const int zoom = ClampZoom(state.zoomIndex);
  const TileSpan tiles = TilesOfView(DrawnOrigin(state.originLat, zoom),
                                     DrawnOrigin(state.originLon, zoom), kZoomSpans[zoom]);
  std::vector<std::string> folders;
  for (int64_t i = tiles.iA; i <= tiles.iB; ++i) {
    for (int64_t j = tiles.jA; j <= tiles.jB; ++j) {
      char path[kTilePathSize];
      if (!FormatTilePath(int32_t(kCentiPerTile * i), NormalizeLonKey(kCentiPerTile * j), path))
        continue;
      const std::string tilePath = path;
      folders.push_back(tilePath.substr(0, tilePath.rfind('/')));
    }
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  return folders;
}

ViewTexts FormatViewTexts(const ViewState& state) {
  const int64_t S = kZoomSpans[ClampZoom(state.zoomIndex)];
  ViewTexts texts;
  texts.spanText = FormatFixed(double(S) / 400.0, 7, 3);
  texts.centerLatText = FormatFixed(double(S / 2 + state.originLat) / 400.0, 7, 4);
  texts.centerLonText = FormatFixed(double(S / 2 + state.originLon) / 400.0, 7, 4);
  return texts;
}

}  // namespace roamgrid
