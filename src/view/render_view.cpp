#include "view/render_view.h"

#include <algorithm>
#include <array>
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
// Run bytes mark nothing, so they only advance the group counter; a band
// whose pixels are all marked is passed over quickly, eight or more code
// bytes at a time; the walk ends at the last visible cell row. The pixels
// are the ones the block scan of each pixel's b x b cells gives.

namespace roamgrid {

namespace {

int ClampZoom(int32_t zoomIndex) {
  return std::clamp<int32_t>(zoomIndex, kMinZoomIndex, kMaxZoomIndex);
}

// Where one tile lands in the raster: pixel columns [xA, xB), pixel rows
// [yA, yB), and the tile cell (r0, c0) under pixel (yA, xA).
struct TilePlacement {
  int xA, xB, yA, yB;
  int r0, c0;
};

// Places tile (i, j) in the view with south-west corner (lat, lon), both
// aligned, at e pixels per tile side.
TilePlacement PlaceTile(int64_t i, int64_t j, int64_t lat, int64_t lon, int e) {
  const int64_t T = kGridPerTile * i;
  const int64_t U = kGridPerTile * j;
  const int64_t x0 = ((U - lon) * e) / kGridPerTile;
  const int64_t y0 = ((T - lat) * e) / kGridPerTile;
  TilePlacement p;
  p.xA = int(std::max<int64_t>(x0, 0));
  p.xB = int(std::min<int64_t>(x0 + e, kRasterSide));
  p.yA = int(std::max<int64_t>(y0, 0));
  p.yB = int(std::min<int64_t>(y0 + e, kRasterSide));
  p.c0 = int((((int64_t(p.xA) * kGridPerTile) / e + lon - U) * kCellsPerSide) / kGridPerTile);
  p.r0 = int((((int64_t(p.yA) * kGridPerTile) / e + lat - T) * kCellsPerSide) / kGridPerTile);
  return p;
}

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
constexpr uint64_t kFullRuns = ~0ull;  // eight run bytes 0xFF: 1024 empty groups

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
    // Fast paths: 32 or 8 literal bytes, or eight full runs.
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
      // Each of the eight runs starts at most 896 groups on and reaches 127
      // further, so none passes the end of the tile.
      if (word == kFullRuns && s.group + 1023 <= kGroupCount) {
        s.next += 8;
        s.group += 1024;
        continue;
      }
    }
    if (s.next == s.end) return false;
    const int byte = *s.next++;
    if (byte & 0x80) {
      const int n = byte & 0x7F;
      if (s.group + n > kGroupCount) return false;
      s.group += n + 1;
    } else {
      s.group += 1;
    }
  }
  return true;
}

// The cell columns of one tile that the view shows: [cLo, cLo + width * b),
// width pixels of b columns each.
struct ColumnWindow {
  int cLo, width, b;
  bool operator==(const ColumnWindow&) const = default;
};

// Walks the code stream of a tile whose visible cells are rows [r0, r0 +
// bands * b) and the columns of the kernel's window, handing the literal
// bytes of each band to the kernel and closing each band with
// kernel.EndBand(band). Bands after the point where a damaged stream stops
// are closed unmarked.
template <class Kernel>
void WalkBands(StreamCursor s, int r0, int bands, int b, Kernel& kernel) {
  const int bandGroups = b * kGroupsPerRow;
  int band = 0;
  int bandEnd = (r0 + b) * kGroupsPerRow;
  // Closes every band that ends at or before the cursor; false once the
  // last visible band is closed.
  auto closeBands = [&] {
    while (s.group >= bandEnd) {
      kernel.EndBand(band);
      bandEnd += bandGroups;
      if (++band == bands) return false;
    }
    return true;
  };
  if (SkipGroups(s, r0 * kGroupsPerRow) && closeBands()) {
    while (s.next != s.end) {
      const uint32_t byte = *s.next++;
      const uint32_t isRun = byte >> 7;
      const uint32_t n = byte & 0x7F;
      // Literal bits, or 0 for a run: runs go through the same straight
      // path, since a branch on the byte's kind would be mispredicted
      // wherever tracks cross.
      kernel.Literal(s.group & (kGroupsPerRow - 1), byte & (isRun - 1));
      if (isRun && s.group + int(n) > kGroupCount) break;  // a run past the tile: damaged
      s.group += 1 + int(n & (0u - isRun));
      if (s.group >= bandEnd && !closeBands()) return;
      if (kernel.BandFull()) {
        // Nothing in the rest of the band can change its pixels.
        if (!SkipGroups(s, bandEnd)) break;
        if (!closeBands()) return;
      }
    }
  }
  for (; band < bands; ++band) kernel.EndBand(band);
}

// Views of at most 64 pixels per tile side (b >= 16 cells per pixel): the
// pixels of a band are bits of one register. A group of seven cells lies
// in at most two pixels.
class NarrowKernel {
 public:
  struct Entry {
    uint8_t first = 0;   // literal bits of the cells in pixel `pixel`
    uint8_t second = 0;  // literal bits of the cells in pixel `pixel` + 1
    uint8_t pixel = 0;   // pixel of the group's first visible cell, 0..width-1
  };
  using Map = std::array<Entry, kGroupsPerRow>;

  static void BuildMap(const ColumnWindow& w, Map& map) {
    for (int gc = 0; gc < kGroupsPerRow; ++gc) {
      Entry entry;
      bool seen = false;
      for (int k = 0; k < kCellsPerGroup; ++k) {
        const int c = gc * kCellsPerGroup + k - w.cLo;
        if (c < 0 || c >= w.width * w.b) continue;
        const uint8_t bit = uint8_t(0x40 >> k);
        if (!seen) entry.pixel = uint8_t(c / w.b);
        seen = true;
        if (c / w.b == entry.pixel) {
          entry.first |= bit;
        } else {
          entry.second |= bit;
        }
      }
      map[gc] = entry;
    }
  }

  NarrowKernel(const Map& map, int width, uint8_t* firstPixel)
      : map_(map),
        width_(width),
        full_(width == 64 ? ~0ull : (1ull << width) - 1),
        firstPixel_(firstPixel) {}

  void Literal(int gc, uint32_t bits) {
    const Entry e = map_[gc];
    const uint64_t pair = uint64_t((bits & e.first) != 0) | uint64_t((bits & e.second) != 0) << 1;
    marks_ |= pair << e.pixel;
  }
  bool BandFull() const { return marks_ == full_; }
  void EndBand(int band) {
    uint8_t* row = firstPixel_ + band * kRasterSide;  // band k is pixel row yA + k
    for (int x = 0; x < width_; ++x) row[x] = uint8_t((marks_ >> x) & 1);
    marks_ = 0;
  }

 private:
  const Map& map_;
  const int width_;
  const uint64_t full_;
  uint8_t* const firstPixel_;
  uint64_t marks_ = 0;
};

// Views of 112 to 896 pixels per tile side (b = 8 down to 1): the pixels of
// a band collect in a row of bytes; each literal ORs the eight bytes from
// its group's first pixel on, spread from its bits by a table.
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

  WideKernel(const Map& map, int b, int width, uint8_t* firstPixel)
      : map_(map), spread_(Spread(b)), width_(width), firstPixel_(firstPixel) {}

  void Literal(int gc, uint32_t bits) {
    if (bits == 0) return;
    const Entry e = map_[gc];
    const uint64_t add = spread_[e.split][bits & e.visible];
    uint8_t* at = row_.data() + e.pos;
    uint64_t word = Load64(at) | add;
    std::memcpy(at, &word, sizeof word);
    touched_ |= add;
  }
  bool BandFull() const { return false; }
  // The raster rows were cleared beforehand; only marked bands are copied.
  void EndBand(int band) {
    if (!touched_) return;
    std::memcpy(firstPixel_ + band * kRasterSide, row_.data() + kPad, size_t(width_));
    std::memset(row_.data(), 0, row_.size());
    touched_ = 0;
  }

 private:
  // For each split (cells in the first pixel) and literal value: the eight
  // pixel bytes the group's visible cells mark, from its first pixel on.
  using SpreadTable = std::array<std::array<uint64_t, 128>, 8>;
  static const SpreadTable& Spread(int b) {
    static const auto tables = [] {
      std::array<SpreadTable, 4> t{};  // b = 1, 2, 4 and 8 or more
      for (int level = 0; level < 4; ++level) {
        const int b = 1 << level;
        for (int split = 1; split <= 7; ++split) {
          for (int bits = 0; bits < 128; ++bits) {
            uint64_t word = 0;
            for (int k = 0; k < kCellsPerGroup; ++k) {
              if (!(bits & (0x40 >> k))) continue;
              const int pixel = k < split ? 0 : 1 + (k - split) / b;
              word |= uint64_t(1) << (8 * pixel);  // byte `pixel` of the little-endian word
            }
            t[level][split][bits] = word;
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
  uint64_t touched_ = 0;
  std::array<uint8_t, kPad + kCellsPerSide + 8> row_{};
};

}  // namespace

ViewTexts RebuildView(ViewState& state, uint8_t* raster) {
  const int zoom = ClampZoom(state.zoomIndex);
  const int S = kZoomSpans[zoom];
  const int e = 8960 / S;  // pixels per tile side
  const int b = S / 10;    // cells per pixel side
  // Origin + pending move with 32-bit wrap-around, as the commit stores it.
  const int32_t aLat = int32_t(int64_t(state.originLat) + state.pendingDLat);
  const int32_t aLon = int32_t(int64_t(state.originLon) + state.pendingDLon);
  // The drawn origin: the effective one, moved south-west onto the alignment
  // grid when it is off it, so that tiles abut and cells stay in their tile.
  const int64_t step = AlignmentStep(zoom);
  const int64_t lat = FloorDiv(aLat, step) * step;
  const int64_t lon = FloorDiv(aLon, step) * step;

  auto file = std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
  NarrowKernel::Map narrowMap;
  auto wideMap = std::make_unique<WideKernel::Map>();
  ColumnWindow mapWindow{-1, 0, 0};  // the window the maps were built for

  const int64_t iA = FloorDiv(lat, kGridPerTile), iB = FloorDiv(lat + S - 1, kGridPerTile);
  const int64_t jA = FloorDiv(lon, kGridPerTile), jB = FloorDiv(lon + S - 1, kGridPerTile);
  for (int64_t i = iA; i <= iB; ++i) {
    for (int64_t j = jA; j <= jB; ++j) {
      const TilePlacement p = PlaceTile(i, j, lat, lon, e);
      if (p.xA >= p.xB || p.yA >= p.yB) continue;
      // Only the alignment rule keeps the cells in the tile; the snapping
      // above keeps it, and a window that broke it is drawn unmarked.
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
      if (window.width <= 64) {
        if (!(window == mapWindow)) NarrowKernel::BuildMap(window, narrowMap);
        mapWindow = window;
        NarrowKernel kernel(narrowMap, window.width, firstPixel);
        WalkBands(stream, p.r0, p.yB - p.yA, b, kernel);
      } else {
        if (!(window == mapWindow)) WideKernel::BuildMap(window, *wideMap);
        mapWindow = window;
        ClearPixels(p, raster);
        WideKernel kernel(*wideMap, b, window.width, firstPixel);
        WalkBands(stream, p.r0, p.yB - p.yA, b, kernel);
      }
    }
  }

  state.originLon = aLon;
  state.originLat = aLat;
  state.pendingDLon = 0;
  state.pendingDLat = 0;
  return FormatViewTexts(state);
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
