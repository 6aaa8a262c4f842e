// Any bytes as a tile file. LoadTile must stay inside its buffers and end
// in one of its three results with the promised tile state; the cells must
// agree with a cell-by-cell decoder written from the format rules; and a
// tile that has cells, saved again, must load back whole with the same
// cells and mask bytes. ORed with another tile file run by run, it must
// give what ORing the cells gives.
#include <cstring>
#include <memory>
#include <vector>

#include "common/safe_file.h"
#include "fuzz_support.h"
#include "oracles.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

using namespace roamgrid;

namespace {

constexpr int32_t kLatKey = 3565;
constexpr int32_t kLonKey = 13975;

void PrepareTilePath(TrackTile& tile) {
  tile.latKey = kLatKey;
  tile.lonKey = kLonKey;
  FUZZ_CHECK(FormatTilePath(kLatKey, kLonKey, tile.path));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratchDirectory();
  TrackTile tile;
  PrepareTilePath(tile);
  CreateParentDirectories(tile.path);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TrackTile tile;
  PrepareTilePath(tile);
  fuzz::WriteRaw(tile.path, data, size);

  const LoadResult result = LoadTile(tile);
  FUZZ_CHECK(result == kLoaded || result == kDamaged);  // the file exists

  if (size < kTileHeaderSize || data[0] != 0x00) {
    // A damaged header: no cells, both masks 0.
    FUZZ_CHECK(result == kDamaged);
    FUZZ_CHECK(!tile.cells);
    FUZZ_CHECK(tile.northMask == 0 && tile.southMask == 0);
    return 0;
  }

  // The header is sound: masks from the file, cells present and equal to
  // the reference decoding (cells a damaged stream does not reach are 0).
  FUZZ_CHECK(tile.northMask == data[1] && tile.southMask == data[2]);
  FUZZ_CHECK(tile.cells);
  // Only the first kMaxTileFileSize bytes are read; a stream never needs more.
  const size_t read = size < kMaxTileFileSize ? size : kMaxTileFileSize;
  static const auto expected = std::make_unique<uint8_t[]>(kCellCount);
  const LoadResult expectedResult =
      fuzz::ReferenceDecodeCells(data + kTileHeaderSize, read - kTileHeaderSize, expected.get());
  FUZZ_CHECK(result == expectedResult);
  FUZZ_CHECK(std::memcmp(tile.cells.get(), expected.get(), kCellCount) == 0);

  // ORed run by run into another tile, the file adds what its cells add.
  static const auto base = [] {
    auto cells = std::make_unique<uint8_t[]>(kCellCount);
    for (int i = 0; i < kCellCount; i += 997) cells[size_t(i)] = 1;
    return cells;
  }();
  static const std::vector<uint8_t> baseFile = EncodeTile(0x21, 0x12, base.get());
  long long added = -1;
  bool whole = false;
  const std::vector<uint8_t> ored =
      OrTileFiles(baseFile.data(), baseFile.size(), data, read, &added, &whole);
  static const auto both = std::make_unique<uint8_t[]>(kCellCount);
  long long expectedAdded = 0;
  for (int i = 0; i < kCellCount; ++i) {
    both[i] = uint8_t(base[i] | expected[i]);
    expectedAdded += expected[i] && !base[i];
  }
  FUZZ_CHECK(ored == EncodeTile(uint8_t(0x21 | data[1]), uint8_t(0x12 | data[2]), both.get()));
  FUZZ_CHECK(added == expectedAdded);
  FUZZ_CHECK(whole == (expectedResult == kLoaded));
  // The other way round: the same tile, and the damage told of the first.
  if (read >= kTileHeaderSize && data[0] == 0x00) {
    bool firstWhole = !whole;
    FUZZ_CHECK(OrTileFiles(data, read, baseFile.data(), baseFile.size(), nullptr, nullptr,
                           &firstWhole) == ored);
    FUZZ_CHECK(firstWhole == whole);
  }

  // Saved again, the tile loads back whole with the same cells and masks,
  // and the file holds exactly the canonical encoding.
  FUZZ_CHECK(SaveTile(tile));
  const std::vector<uint8_t> saved = fuzz::ReadRaw(tile.path);
  FUZZ_CHECK(saved == EncodeTile(tile.northMask, tile.southMask, tile.cells.get()));
  TrackTile again;
  PrepareTilePath(again);
  FUZZ_CHECK(LoadTile(again) == kLoaded);
  FUZZ_CHECK(again.cells);
  FUZZ_CHECK(again.northMask == tile.northMask && again.southMask == tile.southMask);
  FUZZ_CHECK(std::memcmp(again.cells.get(), tile.cells.get(), kCellCount) == 0);
  // No temporary file is left beside the tile.
  FUZZ_CHECK(fuzz::Entries("RGD/E139N035").size() == 1);
  return 0;
}
