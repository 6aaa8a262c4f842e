#include "view/render_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "support/temp_dir.h"
#include "support/view_at.h"
#include "tiles/grid_units.h"
#include "tiles/track_tile.h"
#include "view/generated_tiles.h"

namespace roamgrid {
namespace {

using testing::GeneratedTile;
using testing::Hex;
using testing::Repeat;
using testing::operator+;
using testing::WriteTileFile;

using Raster = std::vector<uint8_t>;

// The raster builder exactly as the algorithm states it, for aligned
// origins: open each tile of the view, then scan the b x b cell block of
// every pixel it covers.
Raster ReferenceRender(int32_t aLat, int32_t aLon, int zoomIndex) {
  Raster raster(kRasterSize, 0xAA);
  const int S = kZoomSpans[zoomIndex], e = 8960 / S, b = S / 10;
  for (int64_t i = FloorDiv(aLat, 20); i <= FloorDiv(aLat + S - 1, 20); ++i) {
    for (int64_t j = FloorDiv(aLon, 20); j <= FloorDiv(aLon + S - 1, 20); ++j) {
      const int64_t T = 20 * i, U = 20 * j;
      const int64_t x0 = ((U - aLon) * e) / 20, y0 = ((T - aLat) * e) / 20;
      const int64_t xA = std::max<int64_t>(x0, 0), xB = std::min<int64_t>(x0 + e, 448);
      const int64_t yA = std::max<int64_t>(y0, 0), yB = std::min<int64_t>(y0 + e, 448);
      const int64_t c0 = (((xA * 20) / e + aLon - U) * 896) / 20;
      const int64_t r0 = (((yA * 20) / e + aLat - T) * 896) / 20;
      auto tile = std::make_unique<TrackTile>();
      OpenTile(*tile, int32_t(5 * i), 5 * j);
      for (int64_t x = xA; x < xB; ++x) {
        for (int64_t y = yA; y < yB; ++y) {
          uint8_t pixel = 0;
          if (tile->northMask != 0 || tile->southMask != 0) {
            for (int k = 0; k < b && !pixel; ++k) {
              for (int l = 0; l < b && !pixel; ++l) {
                const int64_t r = r0 + (y - yA) * b + k, c = c0 + (x - xA) * b + l;
                EXPECT_TRUE(r >= 0 && r < 896 && c >= 0 && c < 896);
                if (tile->cells[r * 896 + c]) pixel = 1;
              }
            }
          }
          EXPECT_EQ(raster[y * 448 + x], 0xAA) << "pixel written twice";
          raster[y * 448 + x] = pixel;
        }
      }
      ReleaseTile(tile);
    }
  }
  return raster;
}

// Runs the real builder on a raster full of a byte it never writes.
Raster Render(ViewState& state) {
  Raster raster(kRasterSize, 0xAA);
  RebuildView(state, raster.data());
  return raster;
}

ViewState View(int32_t lat, int32_t lon, int zoomIndex) {
  return testing::ViewAt(lat, lon, zoomIndex);
}

// Index of the first differing pixel as "y,x", or "" when equal.
std::string FirstDifference(const Raster& a, const Raster& b) {
  for (int i = 0; i < kRasterSize; ++i)
    if (a[i] != b[i]) return std::to_string(i / 448) + "," + std::to_string(i % 448);
  return "";
}

class RenderViewTest : public testing::TempDirTest {};

TEST_F(RenderViewTest, DefaultHomeFillsTheRasterFromOneTileAtTwoCellsPerPixel) {
  GeneratedTile tile;
  tile.Mark(0, 0);      // pixel (0, 0)
  tile.Mark(1, 3);      // pixel (0, 1)
  tile.Mark(600, 5);    // pixel (300, 2)
  tile.Mark(895, 895);  // pixel (447, 447)
  WriteTileFile(3565, 13975, tile.File());
  ViewState state;
  const Raster raster = Render(state);
  std::vector<int> marked;
  for (int i = 0; i < kRasterSize; ++i) {
    ASSERT_LE(raster[i], 1);
    if (raster[i]) marked.push_back(i);
  }
  EXPECT_EQ(marked, (std::vector<int>{0, 1, 300 * 448 + 2, 447 * 448 + 447}));
  EXPECT_EQ(RebuildView(state, Raster(kRasterSize).data()),
            (ViewTexts{"  0.050", "35.6750", "139.7750"}));
}

TEST(ViewTextsTest, FormatsSpanAndCentreForEveryZoom) {
  const char* spans[] = {"  0.025", "  0.050", "  0.100", "  0.200",
                         "  0.400", "  0.800", "  1.600", "  3.200"};
  for (int zoom = 0; zoom <= 7; ++zoom)
    EXPECT_EQ(FormatViewTexts(View(0, 0, zoom)).spanText, spans[zoom]) << zoom;
  EXPECT_EQ(FormatViewTexts(View(-14260, 55900, 1)).centerLatText, "-35.6250");
  EXPECT_EQ(FormatViewTexts(View(-20, -72000, 7)), (ViewTexts{"  3.200", " 1.5500", "-178.4000"}));
  // Far beyond the earth, but no 32-bit overflow in the centre.
  EXPECT_EQ(FormatViewTexts(View(INT32_MAX, INT32_MIN, 7)).centerLatText, "5368710.7175");
}

TEST_F(RenderViewTest, CommitsThePendingMoveEvenWithoutTiles) {
  ViewState state = View(14260, 55900, 1);
  state.pendingDLat = -10;
  state.pendingDLon = 20;
  const Raster raster = Render(state);
  EXPECT_EQ(raster, Raster(kRasterSize, 0));
  EXPECT_EQ(state.originLat, 14250);
  EXPECT_EQ(state.originLon, 55920);
  EXPECT_EQ(state.pendingDLat, 0);
  EXPECT_EQ(state.pendingDLon, 0);
  EXPECT_EQ(FormatViewTexts(state).centerLatText, "35.6500");
}

// A store around the equator and the prime meridian, and at the date line,
// with every kind of tile the view can meet.
class GeneratedStoreTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    std::mt19937 random(2024);
    int kind = 0;
    auto place = [&](int64_t i, int64_t j) {
      const int64_t lat = 5 * i, lon = 5 * j;
      switch (kind++ % 9) {
        case 0:  // no file
          break;
        case 1:
          WriteTileFile(lat, lon, testing::TrackTileContent(random, 200 + random() % 2000).File());
          break;
        case 2:
          WriteTileFile(lat, lon, testing::FullTileContent().File());
          break;
        case 3: {  // marked cells, masks 0: reads as empty
          GeneratedTile tile = testing::TrackTileContent(random);
          tile.northMask = tile.southMask = 0;
          WriteTileFile(lat, lon, tile.File());
          break;
        }
        case 4: {  // stream cut short
          auto bytes = testing::TrackTileContent(random, 3000).File();
          bytes.resize(3 + random() % (bytes.size() - 3));
          WriteTileFile(lat, lon, bytes);
          break;
        }
        case 5:  // bad or short header
          WriteTileFile(lat, lon, random() % 2 ? Hex("01 FF FF 7F 7F") : Hex("00 FF"));
          break;
        case 6: {  // random code bytes: runs past the end, early ends, trailing bytes
          std::vector<uint8_t> bytes = {0x00, uint8_t(random()), 0xFF};
          const size_t size = 800 + random() % 2000;
          while (bytes.size() < size)
            bytes.push_back(uint8_t(random() % 4 == 0 ? random() & 0x7F : 0xF8 | random()));
          WriteTileFile(lat, lon, bytes);
          break;
        }
        case 7: {  // a dense tile: literals in every group of its south half
          GeneratedTile tile;
          for (int r = 0; r < 448; ++r)
            for (int c = (r * 5) % 7; c < 896; c += 7 + r % 3) tile.Mark(r, c);
          WriteTileFile(lat, lon, tile.File());
          break;
        }
        case 8: {  // single cells at the tile's corners and edges
          GeneratedTile tile;
          for (int r : {0, 1, 447, 448, 894, 895})
            for (int c : {0, 6, 7, 447, 448, 889, 895}) tile.Mark(r, c);
          WriteTileFile(lat, lon, tile.File());
          break;
        }
      }
    };
    for (int64_t i = -3; i <= 2; ++i)
      for (int64_t j = -3; j <= 2; ++j) place(i, j);
    // Both sides of the date line: keys 17995 and 18000 (stored as -18000).
    for (int64_t i = -1; i <= 0; ++i)
      for (int64_t j = 3598; j <= 3601; ++j) place(i, j);
  }
};

// Aligned views at every zoom, negative origins, views that cut tiles at
// their edges and views across the date line: identical to the reference.
TEST_F(GeneratedStoreTest, MatchesTheReferenceRendering) {
  struct Case {
    int zoom;
    int32_t lat, lon;
  };
  std::vector<Case> cases = {
      {0, 15, 15},       {0, -5, -5},    {0, -25, 35},    {0, 0, 0},       {0, -60, -60},
      {1, -10, -30},     {1, 30, 10},    {1, -40, -50},   {2, -20, -40},   {2, 20, 0},
      {3, -60, -60},     {4, -80, -100}, {5, -160, -200}, {6, -320, -300}, {7, -640, -640},
      {7, -1260, -1260}, {0, -5, 71995}, {1, -10, 71990}, {3, -40, 71960}, {5, -20, -72020},
  };
  std::mt19937 random(5);
  for (int zoom = 0; zoom <= 7; ++zoom) {
    for (int n = 0; n < 3; ++n) {
      const int32_t step = AlignmentStep(zoom), span = kZoomSpans[zoom];
      auto pick = [&] { return int32_t((int(random() % (140 + span)) - 70 - span) / step * step); };
      cases.push_back({zoom, pick(), pick()});
    }
  }
  for (const Case& c : cases) {
    ViewState state = View(c.lat - 20, c.lon + 40, c.zoom);
    state.pendingDLat = 20;
    state.pendingDLon = -40;
    const Raster fast = Render(state);
    ASSERT_EQ(FirstDifference(fast, ReferenceRender(c.lat, c.lon, c.zoom)), "")
        << "zoom " << c.zoom << " origin " << c.lat << "," << c.lon;
    EXPECT_EQ(state.originLat, c.lat);
    EXPECT_EQ(state.originLon, c.lon);
  }
}

// One tile whose code stream takes every path of the builder: dense and
// sparse bands, band ends inside eight-byte steps, whole marked bands, and
// damage anywhere, including in the last cell row and after the end.
TEST_F(RenderViewTest, EveryStreamShapeMatchesTheReferenceAtEveryZoom) {
  std::mt19937 random(17);
  for (int round = 0; round < 12; ++round) {
    GeneratedTile tile = testing::TrackTileContent(random, int(random() % 3000));
    // Dense stretches of literals, some covering whole bands.
    for (int n = int(random() % 4); n > 0; --n) {
      const int row = int(random() % 896), rows = 1 + int(random() % 300);
      const int step = 1 + int(random() % 9);
      for (int r = row; r < std::min(896, row + rows); ++r)
        for (int c = int(random() % 7); c < 896; c += step) tile.Mark(r, c);
    }
    std::vector<uint8_t> bytes = tile.File();
    switch (round % 6) {
      case 1:  // cut anywhere, the last row included
        bytes.resize(3 + random() % (bytes.size() - 3));
        break;
      case 2:  // bytes after the end of the stream
        for (int n = 0; n < 40; ++n) bytes.push_back(uint8_t(random()));
        break;
      case 3: {  // a run that reaches past the tile near its end
        const size_t at = bytes.size() - 1 - random() % std::min<size_t>(bytes.size() - 3, 12);
        bytes[at] = 0xFF;
        break;
      }
      case 4:  // one byte changed anywhere
        bytes[3 + random() % (bytes.size() - 3)] = uint8_t(random());
        break;
      default:
        break;
    }
    WriteTileFile(0, 0, bytes);
    for (int zoom = 0; zoom <= 7; ++zoom) {
      const int32_t span = kZoomSpans[zoom], step = AlignmentStep(zoom);
      // Origins that place the tile (grid 0..20) at the view's corners,
      // edges and inside.
      for (int32_t lat : {round % 2 ? 0 : 20 - span, -step * int32_t(random() % 4)}) {
        const int32_t lon = -step * int32_t(random() % (1 + std::max(0, span - 20) / step));
        ViewState state = View(int32_t(FloorDiv(lat, step) * step), lon, zoom);
        const Raster fast = Render(state);
        ASSERT_EQ(FirstDifference(fast, ReferenceRender(state.originLat, state.originLon, zoom)),
                  "")
            << "round " << round << " zoom " << zoom << " origin " << lat << "," << lon;
      }
    }
  }
}

// The last eight code bytes end the stream with seven full-row runs and
// go on with a literal: that byte lies past the tile and marks nothing.
TEST_F(RenderViewTest, BytesAfterTheLastGroupMarkNothing) {
  const std::vector<uint8_t> bytes =
      Hex("00 00 01") + Repeat(0x40, 7) + Hex("F8") + Repeat(0xFF, 888 + 7) + Repeat(0x7F, 9);
  WriteTileFile(0, 0, bytes);
  // Row 0, columns 0, 7, ..., 42: pixels in the south-west corner.
  const int marked[] = {7, 7, 7, 6, 3, 2, 1, 1};
  for (int zoom = 0; zoom <= 7; ++zoom) {
    ViewState state = View(0, 0, zoom);
    const Raster raster = Render(state);
    ASSERT_EQ(FirstDifference(raster, ReferenceRender(0, 0, zoom)), "") << zoom;
    EXPECT_EQ(std::count(raster.begin(), raster.end(), 1), marked[zoom]) << zoom;
  }
}

// At zoom index 7 the first band (cell rows 0..127) is full once row 0 is
// read, and the rest of it is passed over; the single cell at the start of
// the next band, right after seven more literals, must still count.
TEST_F(RenderViewTest, AFullBandIsPassedOverExactlyToItsEnd) {
  const std::vector<uint8_t> bytes =
      Hex("00 00 01 81") + Repeat(0x7F, 126 + 127 * 128) + Hex("40 FE") + Repeat(0xFF, 767);
  WriteTileFile(0, 0, bytes);
  for (int zoom = 0; zoom <= 7; ++zoom) {
    ViewState state = View(0, 0, zoom);
    const Raster raster = Render(state);
    ASSERT_EQ(FirstDifference(raster, ReferenceRender(0, 0, zoom)), "") << zoom;
  }
  ViewState state = View(0, 0, 7);
  const Raster raster = Render(state);
  EXPECT_EQ(raster[1 * 448 + 0], 1);  // cell (128, 0)
  EXPECT_EQ(raster[1 * 448 + 1], 0);
}

// An origin off the alignment rule is drawn as the aligned view to its
// south-west; the exact origin is committed.
TEST_F(GeneratedStoreTest, UnalignedOriginsDrawTheAlignedViewSouthWest) {
  std::mt19937 random(9);
  for (int zoom = 0; zoom <= 7; ++zoom) {
    for (int n = 0; n < 3; ++n) {
      const int32_t span = kZoomSpans[zoom], step = AlignmentStep(zoom);
      auto pick = [&] { return int32_t(int(random() % (140 + span)) - 70 - span) | 1; };
      const int32_t lat = pick(), lon = pick();
      ViewState state = View(lat, lon, zoom);
      const Raster fast = Render(state);
      ASSERT_EQ(FirstDifference(fast, ReferenceRender(int32_t(FloorDiv(lat, step) * step),
                                                      int32_t(FloorDiv(lon, step) * step), zoom)),
                "")
          << "zoom " << zoom << " origin " << lat << "," << lon;
      EXPECT_EQ(state.originLat, lat);
      EXPECT_EQ(state.originLon, lon);
    }
  }
}

// Origins at the ends of the 32-bit range and zoom indices outside 0..7:
// every pixel written, nothing read outside the tiles, no overflow.
TEST_F(GeneratedStoreTest, ExtremeStatesStaySafe) {
  const ViewState states[] = {View(INT32_MAX, INT32_MAX, 7), View(INT32_MIN, INT32_MIN, 0),
                              View(INT32_MAX - 3, 7, 1), View(-640, -640, 9), View(-640, -640, -2)};
  for (ViewState state : states) {
    state.pendingDLat = 1000;
    const ViewState before = state;
    const Raster raster = Render(state);
    for (uint8_t pixel : raster) ASSERT_LE(pixel, 1);
    EXPECT_EQ(state.originLat, int32_t(int64_t(before.originLat) + 1000));
    EXPECT_EQ(state.pendingDLat, 0);
  }
  ViewState tooFar = View(-640, -640, 9);
  EXPECT_EQ(Render(tooFar), ReferenceRender(-640, -640, 7));
}

}  // namespace
}  // namespace roamgrid
