#include "map/map_layers.h"

#include <gtest/gtest.h>

#include "map/map_store.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::CellAt;
using testing::TempDirTest;
using testing::ViewAt;

TEST(RgbaImage, BlendsSourceOverAndPaintsMasks) {
  struct Case {
    Rgba under, over, result;
  };
  const Case cases[] = {
      {{0, 0, 0, 0}, {10, 20, 30, 40}, {10, 20, 30, 40}},            // over nothing
      {{200, 200, 200, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}},        // opaque covers
      {{200, 100, 0, 255}, {0, 0, 255, 0}, {200, 100, 0, 255}},      // transparent: nothing
      {{255, 255, 255, 255}, {0, 0, 0, 128}, {127, 127, 127, 255}},  // half over white
      {{0, 0, 255, 128}, {255, 0, 0, 128}, {170, 0, 85, 192}},       // half over half
  };
  for (const Case& c : cases) {
    RgbaImage image(1, 1);
    image.Set(0, 0, c.under);
    image.Blend(0, 0, c.over);
    EXPECT_EQ(image.At(0, 0), c.result);
  }
  RgbaImage image(3, 2);
  image.Blend(5, 5, kMarksRed);  // outside: nothing
  MaskImage mask(3, 2);
  mask.bytes[4] = 1;
  PaintMask(mask, kMarksRed, image);
  EXPECT_EQ(image.At(1, 1), kMarksRed);
  EXPECT_EQ(image.At(0, 0), Rgba{});
  PaintMask(MaskImage(2, 2), kMarksRed, image);  // another size: nothing
}

class MapLayersTest : public TempDirTest {};

TEST_F(MapLayersTest, ExplorerLayerTintsExploredTilesAndOutlinesSquareAndCluster) {
  // A block of 5 x 5 explored zoom 14 tiles: a square of side 5 and a
  // cluster of the 3 x 3 tiles inside it.
  std::vector<testing::GlobalCell> cells;
  const double tiles = 16384;
  const int firstX = int(MercatorWorldX(139.7) * tiles), firstY = int(MercatorWorldY(35.7) * tiles);
  for (int dy = 0; dy < 5; ++dy)
    for (int dx = 0; dx < 5; ++dx) {
      const ExplorerTileBounds edges = ExplorerTileEdges(14, {firstX + dx, firstY + dy});
      cells.push_back(CellAt((edges.south + edges.north) / 2, (edges.west + edges.east) / 2));
    }
  testing::WriteCells(cells);
  MarksMapOptions options;
  options.useCacheFile = false;
  MarksMap map(options);
  map.Refresh();
  EXPECT_EQ(map.Explorer(14).summary, (ExplorerSummary{25, 5, 9}));
  EXPECT_EQ(map.Explorer(14).shapes.squareCorner, (ExplorerTile{firstX, firstY}));

  // At zoom 11 a zoom 14 tile is 32 pixels wide; the first explored one's
  // north-west corner at pixel (256, 256).
  const double scale = 256 * 2048;
  const MercatorView view{(firstX * 32 - 256 + 256) / scale, (firstY * 32 - 256 + 256) / scale, 11,
                          512, 512};
  RgbaImage image;
  ExplorerStyle style;
  DrawExplorerLayer(view, map, image, style);
  ASSERT_EQ(image.width, 512);
  const auto at = [&](int dx, int dy, int px, int py) {
    return image.At(256 + dx * 32 + px, 256 + dy * 32 + py);  // pixel (px, py) of tile (dx, dy)
  };
  EXPECT_EQ(at(2, 2, 16, 16), style.explored14);
  EXPECT_EQ(at(6, 2, 16, 16), Rgba{});                // not explored
  EXPECT_EQ(at(0, 0, 16, 0).red, style.square.red);   // the square's north edge
  EXPECT_EQ(at(1, 1, 16, 0).red, style.cluster.red);  // the cluster's north edge
  EXPECT_NE(at(6, 2, 0, 16), Rgba{});                 // a grid line
  // Zoom 17 joins at closer zooms only.
  RgbaImage wide;
  DrawExplorerLayer(ViewAt(35.7, 139.7, 6, 300, 200), map, wide, style);
  EXPECT_EQ(wide.width, 300);
}

TEST_F(MapLayersTest, StoreGridShadesTheSquaresWithFilesWhenZoomedIn) {
  testing::WriteCells({CellAt(35.66, 139.76)});
  MarksMapOptions options;
  options.useCacheFile = false;
  MarksMap map(options);
  map.Refresh();
  StoreGridStyle style;
  RgbaImage image;
  DrawStoreTileGrid(ViewAt(35.675, 139.775, 12, 400, 400), map, image, style);
  // The square 35.65..35.70 N, 139.75..139.80 E is in the middle.
  EXPECT_EQ(image.At(200, 200), style.withFile);
  EXPECT_EQ(image.At(200, 20), Rgba{});  // the square to the north has no file
  bool line = false;
  for (int x = 0; x < 400; ++x) line |= image.At(x, 100).alpha > style.withFile.alpha;
  EXPECT_TRUE(line);
  DrawStoreTileGrid(ViewAt(35.675, 139.775, 5, 400, 400), map, image, style);
  EXPECT_EQ(image.At(200, 200), style.withFile) << "not cleared when the size stays";
  RgbaImage fresh;
  DrawStoreTileGrid(ViewAt(35.675, 139.775, 5, 400, 400), map, fresh, style);
  for (uint8_t b : fresh.bytes) ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace roamgrid
