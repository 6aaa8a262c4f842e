#include "tiles/tile_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "common/safe_file.h"
#include "support/temp_dir.h"
#include "tiles/reference_tile_codec.h"
#include "tiles/store_lock.h"

namespace roamgrid {
namespace {

using testing::Hex;
using testing::ReadBytes;
using testing::Repeat;
using testing::WriteBytes;
using testing::operator+;

std::unique_ptr<uint8_t[]> EmptyCells() { return std::make_unique<uint8_t[]>(kCellCount); }

std::vector<uint8_t> EncodeOne(int row, int column) {
  auto cells = EmptyCells();
  cells[row * 896 + column] = 1;
  return EncodeTile(0x00, 0x01, cells.get());
}

TEST(TileCodecTest, EncodesTheSingleCellExamplesByteForByte) {
  EXPECT_EQ(EncodeOne(0, 0), Hex("00 00 01 40") + Repeat(0xFF, 895) + Hex("FE"));
  EXPECT_EQ(EncodeOne(0, 6), Hex("00 00 01 01") + Repeat(0xFF, 895) + Hex("FE"));
  EXPECT_EQ(EncodeOne(1, 0), Hex("00 00 01 FF 40") + Repeat(0xFF, 894) + Hex("FE"));
  auto cells = EmptyCells();
  cells[895 * 896 + 895] = 1;
  EXPECT_EQ(EncodeTile(0x80, 0x00, cells.get()),
            Hex("00 80 00") + Repeat(0xFF, 895) + Hex("FE 01"));
  EXPECT_EQ(EncodeOne(0, 0).size(), 900u);
}

TEST(TileCodecTest, EmptyAndFullTilesHaveTheExtremeSizes) {
  auto cells = EmptyCells();
  EXPECT_EQ(EncodeTile(0, 0, cells.get()), Hex("00 00 00") + Repeat(0xFF, 896));
  std::fill(cells.get(), cells.get() + kCellCount, 1);
  EXPECT_EQ(EncodeTile(0xFF, 0xFF, cells.get()), Hex("00 FF FF") + Repeat(0x7F, kGroupCount));
}

// Tiles with tracks, scattered cells, any non-zero values and empty
// stretches of every length: fast and reference codecs agree.
TEST(TileCodecTest, MatchesTheReferenceCodecOnGeneratedTiles) {
  std::mt19937 random(7);
  for (int round = 0; round < 12; ++round) {
    auto cells = EmptyCells();
    const int marks = round == 0 ? 0 : 1 << (round + 2);
    for (int i = 0; i < marks; ++i) {
      const int at = int(random() % kCellCount);
      const int length = int(random() % 40);
      for (int k = 0; k < length && at + k < kCellCount; ++k)
        cells[at + k] = uint8_t(1 + random() % 3);
    }
    const auto encoded = EncodeTile(uint8_t(round), 0x5A, cells.get());
    ASSERT_EQ(encoded, testing::ReferenceEncode(uint8_t(round), 0x5A, cells.get()));
    const std::vector<uint8_t> code(encoded.begin() + 3, encoded.end());
    auto fast = EmptyCells();
    auto slow = EmptyCells();
    EXPECT_EQ(DecodeCells(code.data(), code.size(), fast.get()), kLoaded);
    EXPECT_EQ(testing::ReferenceDecode(code, slow.get()), kLoaded);
    ASSERT_EQ(0, std::memcmp(fast.get(), slow.get(), kCellCount));
    for (int i = 0; i < kCellCount; ++i) ASSERT_EQ(fast[i], cells[i] ? 1 : 0);
    // Where decoding found marks is all a later encoding needs to look at.
    TileGroups groups;
    auto cleared = EmptyCells();
    EXPECT_EQ(DecodeCells(code.data(), code.size(), cleared.get(), &groups, true), kLoaded);
    ASSERT_EQ(EncodeTile(uint8_t(round), 0x5A, cleared.get(), &groups), encoded);
  }
}

TEST(TileCodecTest, DamagedStreamsDecodeAsTheReferenceWithZerosAfterTheBreak) {
  std::mt19937 random(11);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> code(random() % 3000);
    for (auto& byte : code) byte = uint8_t(random() % 5 == 0 ? random() : 0xF0 | random());
    auto fast = EmptyCells();
    std::fill(fast.get(), fast.get() + kCellCount, 0xAA);  // garbage before the load
    auto slow = EmptyCells();
    EXPECT_EQ(DecodeCells(code.data(), code.size(), fast.get()),
              testing::ReferenceDecode(code, slow.get()));
    ASSERT_EQ(0, std::memcmp(fast.get(), slow.get(), kCellCount));
  }
}

// ORing two tile files run by run gives what decoding both, ORing the
// cells and encoding gives: for sound files, for a second file written
// loosely (literal 0x00 bytes, short runs, a final run one group past the
// end, bytes after the end), and for damaged second files, which add the
// groups before the damage (nothing with a damaged header).
TEST(TileCodecTest, OrOfTwoFilesMatchesTheOrOfTheirCells) {
  std::mt19937 random(13);
  // Scattered marks, and a band where most cells are marked: long spans of
  // literals, which end at the tile's last cell in some rounds.
  const auto randomCells = [&](int marks, int bandFrom, int bandCells) {
    auto cells = EmptyCells();
    for (int i = 0; i < marks; ++i) cells[random() % kCellCount] = 1;
    for (int i = bandFrom; i < bandFrom + bandCells && i < kCellCount; ++i)
      cells[i] = random() % 4 != 0;
    return cells;
  };
  // The same tile written cell group by cell group, with runs of at most
  // 20 groups, a literal 0x00 for every tenth empty group.
  const auto loose = [](const uint8_t* cells, uint8_t north, uint8_t south) {
    std::vector<uint8_t> out{0x00, north, south};
    int empty = 0;
    for (int g = 0; g < kGroupCount; ++g) {
      uint8_t bits = 0;
      for (int k = 0; k < kCellsPerGroup; ++k) bits |= uint8_t((cells[g * 7 + k] != 0) << (6 - k));
      if (bits == 0 && g % 10 != 0) {
        if (++empty == 20) out.push_back(uint8_t(0x80 | 19)), empty = 0;
        continue;
      }
      if (empty > 0) out.push_back(uint8_t(0x80 | (empty - 1))), empty = 0;
      out.push_back(bits);
    }
    out.push_back(uint8_t(0x80 | empty));  // one group past the end
    out.push_back(0x42);                   // after the end: not read
    return out;
  };
  for (int round = 0; round < 16; ++round) {
    SCOPED_TRACE(round);
    const auto a = randomCells(round * 300, round * 50000, round % 3 ? 30000 : 0);
    const auto b = randomCells((round % 4) * 200, kCellCount - 5000 - (round - 1) * 40000,
                               round % 2 ? 5000 : 0);
    const auto first = EncodeTile(0x01, 0x10, a.get());
    std::vector<uint8_t> second =
        round % 2 ? loose(b.get(), 0x80, 0x02) : EncodeTile(0x80, 0x02, b.get());
    std::vector<uint8_t> expectedB(kCellCount, 0);
    bool whole = true;
    long long expectedAdded = 0;
    if (round % 4 == 3) {  // damaged: cut short, or its header
      second.resize(second.size() / 2);
      if (round == 15) second[0] = 0x01;
      whole = false;
    }
    if (second[0] == 0x00) {
      const std::vector<uint8_t> code(second.begin() + 3, second.end());
      testing::ReferenceDecode(code, expectedB.data());
    }
    std::vector<uint8_t> both(kCellCount);
    for (int i = 0; i < kCellCount; ++i) {
      both[i] = a[i] | expectedB[i];
      expectedAdded += expectedB[i] && !a[i];
    }
    const uint8_t north = second[0] == 0x00 ? 0x81 : 0x01;
    const uint8_t south = second[0] == 0x00 ? 0x12 : 0x10;
    long long added = -1;
    bool secondWhole = !whole;
    EXPECT_EQ(
        OrTileFiles(first.data(), first.size(), second.data(), second.size(), &added, &secondWhole),
        testing::ReferenceEncode(north, south, both.data()));
    EXPECT_EQ(added, expectedAdded);
    EXPECT_EQ(secondWhole, whole);
    // The other way round, the damage of the first stream is told, and
    // what it described before the damage is kept.
    if (second[0] == 0x00) {
      bool firstWhole = !whole;
      EXPECT_EQ(OrTileFiles(second.data(), second.size(), first.data(), first.size(), nullptr,
                            nullptr, &firstWhole),
                testing::ReferenceEncode(north, south, both.data()));
      EXPECT_EQ(firstWhole, whole);
    }
  }
}

TEST(TileCodecTest, RunBoundAtTheEndOfTheTile) {
  auto cells = EmptyCells();
  // 895 full runs reach group 114560; 0xFF then covers the last 128 groups.
  std::vector<uint8_t> exact = Repeat(0xFF, 896);
  EXPECT_EQ(DecodeCells(exact.data(), exact.size(), cells.get()), kLoaded);
  // A literal, 895 full runs, then a final run of 128 groups: one past the end.
  std::vector<uint8_t> onePast = Hex("40") + Repeat(0xFF, 896);
  EXPECT_EQ(DecodeCells(onePast.data(), onePast.size(), cells.get()), kLoaded);
  EXPECT_EQ(cells[0], 1);
  // Two literals first: the last run would reach two groups past the end.
  std::vector<uint8_t> twoPast = Hex("40 40") + Repeat(0xFF, 896);
  EXPECT_EQ(DecodeCells(twoPast.data(), twoPast.size(), cells.get()), kDamaged);
  // Bytes after the last group are not looked at.
  std::vector<uint8_t> trailing = Repeat(0xFF, 896) + Hex("12 34 56");
  EXPECT_EQ(DecodeCells(trailing.data(), trailing.size(), cells.get()), kLoaded);
  // A literal 0x00 is accepted and sets seven unvisited cells.
  std::vector<uint8_t> zeroLiteral = Hex("00") + Repeat(0xFF, 895) + Hex("FD 7F");
  EXPECT_EQ(DecodeCells(zeroLiteral.data(), zeroLiteral.size(), cells.get()), kLoaded);
  EXPECT_EQ(cells[0], 0);
  EXPECT_EQ(cells[kCellCount - 1], 1);
}

class TileFileTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }
  static constexpr const char* kPath = "RGD/E139N035/E13975-N03500.map";
  LoadResult Load(TrackTile& tile) {
    std::strcpy(tile.path, kPath);
    return LoadTile(tile);
  }
};

TEST_F(TileFileTest, LoadOutcomesLeaveTheStatedTileStates) {
  TrackTile tile;
  EXPECT_EQ(Load(tile), kNoFile);
  EXPECT_EQ(tile.cells, nullptr);

  for (const auto& header :
       {Hex(""), Hex("00"), Hex("00 11"), Hex("01 11 22") + Repeat(0xFF, 896)}) {
    WriteBytes(kPath, header);
    TrackTile damaged;
    damaged.northMask = 9;
    EXPECT_EQ(Load(damaged), kDamaged);
    EXPECT_EQ(damaged.cells, nullptr);
    EXPECT_EQ(damaged.northMask | damaged.southMask, 0);
  }

  // Exactly the header: damaged in the code stream, masks as stored, no
  // cell set from the file (all read as unvisited).
  WriteBytes(kPath, Hex("00 11 22"));
  TrackTile headerOnly;
  EXPECT_EQ(Load(headerOnly), kDamaged);
  ASSERT_NE(headerOnly.cells, nullptr);
  EXPECT_EQ(headerOnly.northMask, 0x11);
  EXPECT_EQ(headerOnly.southMask, 0x22);
  EXPECT_EQ(std::count(headerOnly.cells.get(), headerOnly.cells.get() + kCellCount, 0), kCellCount);

  // A stream that stops after a literal in row 1: that mark is kept, the
  // cells after the break hold 0.
  WriteBytes(kPath, Hex("00 00 01 FF 40 7F"));
  TrackTile cut;
  EXPECT_EQ(Load(cut), kDamaged);
  EXPECT_EQ(cut.cells[896], 1);
  EXPECT_EQ(cut.cells[896 + 7 + 6], 1);
  EXPECT_EQ(std::count(cut.cells.get(), cut.cells.get() + kCellCount, 0), kCellCount - 8);

  WriteBytes(kPath, Hex("00 80 00") + Repeat(0xFF, 895) + Hex("FE 01"));
  TrackTile whole;
  EXPECT_EQ(Load(whole), kLoaded);
  EXPECT_EQ(whole.northMask, 0x80);
  EXPECT_EQ(whole.cells[kCellCount - 1], 1);
}

TEST_F(TileFileTest, SaveCreatesDirectoriesReplacesAndLoadsBack) {
  TrackTile tile;
  std::strcpy(tile.path, kPath);
  tile.cells = EmptyCells();
  tile.cells[0] = 1;
  tile.southMask = 0x01;
  ASSERT_TRUE(SaveTile(tile));
  EXPECT_EQ(ReadBytes(kPath), Hex("00 00 01 40") + Repeat(0xFF, 895) + Hex("FE"));

  // Saving over a longer file replaces it completely.
  WriteBytes(kPath, Repeat(0x00, 5000));
  tile.cells[kCellCount - 1] = 7;
  tile.northMask = 0x80;
  ASSERT_TRUE(SaveTile(tile));
  EXPECT_EQ(ReadBytes(kPath), Hex("00 80 01 40") + Repeat(0xFF, 895) + Hex("FD 01"));

  TrackTile back;
  EXPECT_EQ(Load(back), kLoaded);
  EXPECT_EQ(back.northMask, 0x80);
  EXPECT_EQ(back.southMask, 0x01);
  EXPECT_EQ(back.cells[kCellCount - 1], 1);
  EXPECT_EQ(std::count(back.cells.get(), back.cells.get() + kCellCount, 1), 2);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("RGD/E139N035"), {}), 1);
}

TEST_F(TileFileTest, FailedSaveKeepsTheStoredTile) {
  TrackTile tile;
  std::strcpy(tile.path, kPath);
  tile.cells = EmptyCells();
  tile.cells[0] = 1;
  ASSERT_TRUE(SaveTile(tile));
  const auto before = ReadBytes(kPath);
  tile.cells[5000] = 1;
  for (const WriteFault fault :
       {WriteFault{0, false}, WriteFault{100, false}, WriteFault{-1, true}}) {
    SetWriteFault(fault);
    EXPECT_FALSE(SaveTile(tile));
    ClearWriteFault();
    EXPECT_EQ(ReadBytes(kPath), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("RGD/E139N035"), {}), 1);
    // The store lock was let go of: another holder gets it at once.
    const int lock = open(kStoreLockFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    close(lock);
  }
  EXPECT_TRUE(SaveTile(tile));
}

// Two programs hold the same tile, opened while it had no file or one
// mark; the other program saves first. The later save keeps every mark of
// both, and the masks of both.
TEST_F(TileFileTest, SaveMergesWhatAnotherProgramSavedSinceTheLoad) {
  for (const bool fileAtStart : {false, true}) {
    SCOPED_TRACE(fileAtStart ? "file at start" : "no file at start");
    std::filesystem::remove_all("RGD");
    if (fileAtStart) WriteBytes(kPath, EncodeOne(0, 0));
    TrackTile ours, theirs;
    EXPECT_EQ(Load(ours), fileAtStart ? kLoaded : kNoFile);
    EXPECT_EQ(Load(theirs), fileAtStart ? kLoaded : kNoFile);
    for (TrackTile* tile : {&ours, &theirs})
      if (!tile->cells) tile->cells = EmptyCells();
    theirs.cells[100] = 1;
    theirs.northMask = 0x40;
    ASSERT_TRUE(SaveTile(theirs));
    ours.cells[kCellCount - 1] = 1;
    ours.northMask |= 0x80;
    ASSERT_TRUE(SaveTile(ours));
    EXPECT_EQ(ours.cells[100], 0);  // the tile in memory stays as it was

    auto all = EmptyCells();
    all[0] = fileAtStart;
    all[100] = all[kCellCount - 1] = 1;
    EXPECT_EQ(ReadBytes(kPath), EncodeTile(0xC0, fileAtStart ? 0x01 : 0x00, all.get()));
  }
}

TEST_F(TileFileTest, SaveIntoAFileWhereTheFolderShouldBeFails) {
  WriteBytes("RGD", Hex("00"));
  TrackTile tile;
  std::strcpy(tile.path, kPath);
  tile.cells = EmptyCells();
  EXPECT_FALSE(SaveTile(tile));
  EXPECT_EQ(ReadBytes("RGD"), Hex("00"));
}

}  // namespace
}  // namespace roamgrid
