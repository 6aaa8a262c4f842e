#include "tiles/track_tile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "tiles/tile_file.h"

namespace roamgrid {
namespace {

using testing::ReadBytes;

TEST(TilePathTest, FormsTheRelativePathOfEveryExampleKey) {
  struct Case {
    int32_t latKey;
    int64_t lonKey;
    const char* path;
  };
  const Case cases[] = {
      {3500, 13975, "RGD/E139N035/E13975-N03500.map"},
      {0, 0, "RGD/E000N000/E00000-N00000.map"},
      {-3350, -7005, "RGD/W070S033/W07005-S03350.map"},
      {-5, 17995, "RGD/E179S000/E17995-S00005.map"},
      {4995, 18000, "RGD/W180N049/W18000-N04995.map"},
      {-5, -5, "RGD/W000S000/W00005-S00005.map"},
      {99995, -18005, "RGD/E179N999/E17995-N99995.map"},
  };
  for (const Case& c : cases) {
    TrackTile tile;
    OpenTile(tile, c.latKey, c.lonKey);
    EXPECT_STREQ(tile.path, c.path) << c.latKey << "," << c.lonKey;
  }
}

TEST(TilePathTest, WrapsLongitudeKeys) {
  EXPECT_EQ(NormalizeLonKey(18000), -18000);
  EXPECT_EQ(NormalizeLonKey(18005), -17995);
  EXPECT_EQ(NormalizeLonKey(36000), 0);
  EXPECT_EQ(NormalizeLonKey(-18005), 17995);
  EXPECT_EQ(NormalizeLonKey(-54000), -18000);
  EXPECT_EQ(NormalizeLonKey(-18000), -18000);
  EXPECT_EQ(NormalizeLonKey(17995), 17995);
  EXPECT_EQ(NormalizeLonKey(5 * 107374182LL), NormalizeLonKey(5 * 107374182LL - 36000 * 1000));
}

class TrackTileTest : public testing::TempDirTest {};

TEST_F(TrackTileTest, KeyBeyondThePathFieldOpensAbsentAndIsNeverWritten) {
  auto tile = std::make_unique<TrackTile>();
  OpenTile(*tile, 100000, 0);
  EXPECT_STREQ(tile->path, "");
  EXPECT_EQ(tile->cells, nullptr);
  EXPECT_EQ(tile->northMask | tile->southMask, 0);
  tile->cells = std::make_unique<uint8_t[]>(kCellCount);
  tile->cells[0] = 1;
  tile->dirty = 1;
  EXPECT_FALSE(ReleaseTile(tile));
  EXPECT_EQ(tile, nullptr);
  EXPECT_FALSE(std::filesystem::exists("RGD"));
  TrackTile south;
  OpenTile(south, -2147483647, 0);
  EXPECT_STREQ(south.path, "");
}

TEST_F(TrackTileTest, MissingFileOpensAbsentAndCleanReleaseWritesNothing) {
  auto tile = std::make_unique<TrackTile>();
  OpenTile(*tile, 3500, 13975);
  EXPECT_EQ(tile->cells, nullptr);
  EXPECT_EQ(tile->northMask, 0);
  EXPECT_EQ(tile->southMask, 0);
  EXPECT_EQ(tile->dirty, 0);
  // Masks changed in memory without a changed cell are not written.
  tile->cells = std::make_unique<uint8_t[]>(kCellCount);
  tile->southMask = 0x01;
  EXPECT_TRUE(ReleaseTile(tile));
  EXPECT_FALSE(std::filesystem::exists("RGD"));
}

TEST_F(TrackTileTest, DirtyReleaseSavesAndTheNextOpenReadsIt) {
  auto tile = std::make_unique<TrackTile>();
  OpenTile(*tile, -5, -5);
  tile->cells = std::make_unique<uint8_t[]>(kCellCount);
  tile->cells[716 * 896 + 716] = 1;
  tile->northMask = 0x80;
  tile->dirty = 1;
  EXPECT_TRUE(ReleaseTile(tile));
  // 716 full runs and one of 102 groups, the literal, then 179 full runs and one of 25.
  EXPECT_EQ(ReadBytes("RGD/W000S000/W00005-S00005.map").size(), 3u + 717 + 1 + 180);
  TrackTile again;
  OpenTile(again, -5, -5);
  ASSERT_NE(again.cells, nullptr);
  EXPECT_EQ(again.cells[716 * 896 + 716], 1);
  EXPECT_EQ(again.northMask, 0x80);
  EXPECT_EQ(again.dirty, 0);
}

}  // namespace
}  // namespace roamgrid
