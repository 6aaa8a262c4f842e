#include "tiles/track_recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <vector>

#include "common/safe_file.h"
#include "support/temp_dir.h"
#include "tiles/reference_tile_codec.h"
#include "tiles/tile_file.h"

namespace roamgrid {
namespace {

using testing::Hex;
using testing::ReadBytes;
using testing::ReferenceEncode;
using testing::Repeat;
using testing::WriteBytes;
using testing::operator+;

// File of a tile whose only visited cells are `marked` (row, column).
std::vector<uint8_t> TileFileWith(uint8_t north, uint8_t south,
                                  const std::vector<std::pair<int, int>>& marked) {
  std::vector<uint8_t> cells(kCellCount, 0);
  for (auto [row, column] : marked) cells[size_t(row) * kCellsPerSide + size_t(column)] = 1;
  return ReferenceEncode(north, south, cells.data());
}

int VisitedCount(const TrackTile& tile) {
  int count = 0;
  for (int i = 0; i < kCellCount; ++i) count += tile.cells[i] != 0;
  return count;
}

class TrackRecorderTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }
};

TEST_F(TrackRecorderTest, WorkedFixesGiveTheirKeysCellsMasksAndPaths) {
  struct Case {
    double lat, lon;
    double latKey, lonKey;
    int row, column;
    uint8_t north, south;
    const char* path;
  };
  const Case cases[] = {
      {35.0123, 139.7456, 3500, 13970, 220, 817, 0x00, 0x08, "RGD/E139N035/E13970-N03500.map"},
      {0.0, 0.0, 0, 0, 0, 0, 0x00, 0x01, "RGD/E000N000/E00000-N00000.map"},
      {-0.01, -0.01, -5, -5, 716, 716, 0x80, 0x00, "RGD/W000S000/W00005-S00005.map"},
      {-1.0, -1.0, -100, -100, 0, 0, 0x00, 0x01, "RGD/W001S001/W00100-S00100.map"},
      {-33.8568, 151.2153, -3390, 15120, 774, 274, 0x20, 0x00, "RGD/E151S033/E15120-S03390.map"},
      // Edges of the range and of the tile.
      {179.999, -179.999, 17995, -18000, 878, 17, 0x10, 0x00, "RGD/W180N179/W18000-N17995.map"},
      {0.049999999999999996, 0.049999999999999996, 0, 0, 895, 895, 0x80, 0x00,
       "RGD/E000N000/E00000-N00000.map"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lat << ", " << c.lon);
    std::filesystem::remove_all("RGD");
    TrackRecorder recorder;
    ASSERT_TRUE(AddPoint(recorder, c.lat, c.lon));
    EXPECT_EQ(recorder.tileLatKey, c.latKey);
    EXPECT_EQ(recorder.tileLonKey, c.lonKey);
    ASSERT_NE(recorder.tile, nullptr);
    const TrackTile& tile = *recorder.tile;
    EXPECT_STREQ(tile.path, c.path);
    EXPECT_EQ(tile.cells[size_t(c.row) * kCellsPerSide + size_t(c.column)], 1);
    EXPECT_EQ(VisitedCount(tile), 1);
    EXPECT_EQ(tile.northMask, c.north);
    EXPECT_EQ(tile.southMask, c.south);
    EXPECT_EQ(tile.dirty, 1);
    ASSERT_TRUE(ReleaseRecorderTile(recorder));
    EXPECT_EQ(recorder.tile, nullptr);
    EXPECT_EQ(recorder.tileLatKey, c.latKey);  // the keys stay
    EXPECT_EQ(ReadBytes(c.path), TileFileWith(c.north, c.south, {{c.row, c.column}}));
    if (c.row == 0 && c.column == 0) {  // the format's example: only the first cell
      EXPECT_EQ(ReadBytes(c.path), Hex("00 00 01 40") + Repeat(0xFF, 895) + Hex("FE"));
    }
  }
}

TEST_F(TrackRecorderTest, FixesOutsideTheOpenRangeAreDroppedWithoutEffect) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double rejected[][2] = {{180.0, 0.0}, {-180.0, 0.0}, {0.0, 180.0}, {0.0, -180.0},
                                {nan, 0.0},   {0.0, nan},    {-inf, 0.0},  {1e300, 1e300}};
  TrackRecorder recorder;
  ASSERT_TRUE(AddPoint(recorder, 35.0123, 139.7456));
  ASSERT_TRUE(ReleaseRecorderTile(recorder));
  for (const auto& fix : rejected) {
    EXPECT_FALSE(AddPoint(recorder, fix[0], fix[1])) << fix[0] << ", " << fix[1];
    EXPECT_EQ(recorder.tile, nullptr);
    EXPECT_EQ(recorder.tileLatKey, 3500);
    EXPECT_EQ(recorder.tileLonKey, 13970);
  }
  // The tile's folder and the tile.
  EXPECT_EQ(std::distance(std::filesystem::recursive_directory_iterator("RGD"), {}), 2);
}

TEST_F(TrackRecorderTest, RevisitedCellSetsTheMaskButLeavesTheFileAlone) {
  // A stored tile whose mask bytes (deliberately 0) disagree with its one
  // visited cell: a fix on that cell sets the bit in memory, but the tile
  // is not dirty, so the file is not rewritten.
  const std::string path = "RGD/E139N035/E13970-N03500.map";
  const std::vector<uint8_t> stored = TileFileWith(0x00, 0x00, {{220, 817}});
  WriteBytes(path, stored);
  TrackRecorder recorder;
  ASSERT_TRUE(AddPoint(recorder, 35.0123, 139.7456));
  ASSERT_TRUE(AddPoint(recorder, 35.0123, 139.7456));
  EXPECT_EQ(recorder.tile->dirty, 0);
  EXPECT_EQ(recorder.tile->southMask, 0x08);
  ASSERT_TRUE(ReleaseRecorderTile(recorder));
  EXPECT_EQ(ReadBytes(path), stored);
}

TEST_F(TrackRecorderTest, DamagedHeaderStartsAFreshTileThatReplacesTheFile) {
  const std::string path = "RGD/E000N000/E00000-N00000.map";
  WriteBytes(path, Hex("01 FF FF") + Repeat(0x7F, 2000));
  {
    TrackRecorder recorder;
    ASSERT_TRUE(AddPoint(recorder, 0.0, 0.0));
    EXPECT_EQ(VisitedCount(*recorder.tile), 1);
  }  // the destructor saves the held tile
  EXPECT_EQ(ReadBytes(path), Hex("00 00 01 40") + Repeat(0xFF, 895) + Hex("FE"));
}

TEST_F(TrackRecorderTest, AlternatingTilesSaveBeforeReopenAndKeepEveryMark) {
  // Each change of tile saves the old tile before the new one is read, so
  // a track that comes back finds its earlier marks.
  TrackRecorder recorder;
  const int rows[] = {0, 17, 35, 53, 71, 89};  // 0.001 degree is 17.92 cells
  std::vector<std::pair<int, int>> west, east;
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(AddPoint(recorder, 0.001 * i, -0.01));
    west.push_back({rows[i], 716});
    ASSERT_TRUE(AddPoint(recorder, 0.001 * i, 0.01));
    east.push_back({rows[i], 179});
  }
  EXPECT_EQ(VisitedCount(*recorder.tile), 6);
  ASSERT_TRUE(ReleaseRecorderTile(recorder));
  EXPECT_EQ(ReadBytes("RGD/W000N000/W00005-N00000.map"), TileFileWith(0x00, 0x08, west));
  EXPECT_EQ(ReadBytes("RGD/E000N000/E00000-N00000.map"), TileFileWith(0x00, 0x01, east));
}

// A track wandering among three tiles reuses one tile's cleared cells for
// the next and saves only where marks may be: every file still holds
// exactly its marks, with a stored file, and another program's marks
// merged in between.
TEST_F(TrackRecorderTest, WanderingTrackKeepsExactlyItsMarksInEveryTile) {
  const int keys[3][2] = {{0, 0}, {0, 5}, {5, 0}};
  const char* paths[3] = {"RGD/E000N000/E00000-N00000.map", "RGD/E000N000/E00005-N00000.map",
                          "RGD/E000N000/E00000-N00005.map"};
  std::vector<std::vector<uint8_t>> marks(3, std::vector<uint8_t>(kCellCount, 0));
  std::mt19937 random(5);
  const auto mark = [&](int t) {
    const int row = int(random() % kCellsPerSide), column = int(random() % kCellsPerSide);
    marks[t][size_t(row) * kCellsPerSide + size_t(column)] = 1;
    return std::pair{row, column};
  };
  for (int i = 0; i < 500; ++i) mark(1);
  CreateParentDirectories(paths[1]);
  WriteBytes(paths[1], ReferenceEncode(0, 0, marks[1].data()));
  TrackRecorder recorder;
  for (int step = 0; step < 60; ++step) {
    const int t = int(random() % 3);
    for (int i = 0; i < 40; ++i) {
      const auto [row, column] = mark(t);
      ASSERT_TRUE(AddPoint(recorder, (keys[t][0] + (row + 0.5) * 5 / 896.0) / 100,
                           (keys[t][1] + (column + 0.5) * 5 / 896.0) / 100));
    }
    if (step == 30) {  // another program saves the open tile
      for (int i = 0; i < 200; ++i) mark(t);
      WriteBytes(paths[t], ReferenceEncode(0, 0, marks[t].data()));
    }
  }
  ASSERT_TRUE(ReleaseRecorderTile(recorder));
  for (int t = 0; t < 3; ++t) {
    std::vector<uint8_t> file = ReadBytes(paths[t]);
    ASSERT_GE(file.size(), 3u);
    file[1] = file[2] = 0;  // the masks are the recorder's business
    EXPECT_EQ(file, ReferenceEncode(0, 0, marks[t].data())) << paths[t];
  }
}

TEST_F(TrackRecorderTest, FailedSaveIsReportedAndKeepsTheStoredTile) {
  const std::string path = "RGD/E000N000/E00000-N00000.map";
  TrackRecorder recorder;
  ASSERT_TRUE(AddPoint(recorder, 0.0, 0.0));
  ASSERT_TRUE(ReleaseRecorderTile(recorder));
  const std::vector<uint8_t> stored = ReadBytes(path);
  ASSERT_TRUE(AddPoint(recorder, 0.001, 0.001));
  SetWriteFault({.failAfterBytes = 10});
  EXPECT_FALSE(ReleaseRecorderTile(recorder));
  EXPECT_EQ(recorder.tile, nullptr);
  EXPECT_EQ(ReadBytes(path), stored);
  ClearWriteFault();
  EXPECT_TRUE(ReleaseRecorderTile(recorder));  // nothing held: nothing to do
}

}  // namespace
}  // namespace roamgrid
