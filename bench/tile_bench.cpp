// LoadTile and SaveTile of a typical tile (a GPS track, a file of about
// 1,400 bytes) against the same file work done with the straightforward
// cell-by-cell codec loops.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "common/safe_file.h"
#include "tiles/reference_tile_codec.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"
#include "view/generated_tiles.h"

namespace roamgrid::bench {
namespace {

struct TypicalTile {
  testing::GeneratedTile content;
  std::string path;
  size_t fileSize = 0;
};

// Tile (3565, 13975) with a track, written once to the scratch store.
const TypicalTile& Typical() {
  static const TypicalTile tile = [] {
    EnterScratchDirectory();
    std::mt19937 random(3);
    TypicalTile t{testing::TrackTileContent(random), testing::TilePath(3565, 13975), 0};
    const auto bytes = t.content.File();
    testing::WriteTileFile(3565, 13975, bytes);
    t.fileSize = bytes.size();
    return t;
  }();
  return tile;
}

void BM_LoadTile(benchmark::State& state) {
  const TypicalTile& typical = Typical();
  TrackTile tile;
  std::snprintf(tile.path, sizeof tile.path, "%s", typical.path.c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(LoadTile(tile));
    benchmark::ClobberMemory();
  }
  state.counters["file bytes"] = double(typical.fileSize);
}

// The same file read, then decoded cell by cell.
void BM_LoadTileCellByCell(benchmark::State& state) {
  const TypicalTile& typical = Typical();
  auto buffer = std::make_unique<uint8_t[]>(kMaxTileFileSize);
  auto cells = std::make_unique<uint8_t[]>(kCellCount);
  for (auto _ : state) {
    const long size = ReadTileFile(typical.path.c_str(), buffer.get());
    const std::vector<uint8_t> code(buffer.get() + kTileHeaderSize, buffer.get() + size);
    benchmark::DoNotOptimize(testing::ReferenceDecode(code, cells.get()));
    benchmark::ClobberMemory();
  }
}

void BM_SaveTile(benchmark::State& state) {
  const TypicalTile& typical = Typical();
  TrackTile tile;
  std::snprintf(tile.path, sizeof tile.path, "%s", typical.path.c_str());
  tile.cells = std::make_unique<uint8_t[]>(kCellCount);
  std::copy(typical.content.cells.get(), typical.content.cells.get() + kCellCount,
            tile.cells.get());
  tile.northMask = typical.content.northMask;
  tile.southMask = typical.content.southMask;
  for (auto _ : state) benchmark::DoNotOptimize(SaveTile(tile));
}

// The same file replacement, with the bytes encoded cell by cell.
void BM_SaveTileCellByCell(benchmark::State& state) {
  const TypicalTile& typical = Typical();
  for (auto _ : state) {
    const std::vector<uint8_t> bytes = testing::ReferenceEncode(
        typical.content.northMask, typical.content.southMask, typical.content.cells.get());
    ReplacingFile file(typical.path);
    if (!file.Open()) std::abort();
    file.Write(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(file.Commit());
  }
}

// The codecs alone, without the files.
void BM_DecodeCells(benchmark::State& state) {
  const auto bytes = Typical().content.File();
  auto cells = std::make_unique<uint8_t[]>(kCellCount);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        DecodeCells(bytes.data() + kTileHeaderSize, bytes.size() - kTileHeaderSize, cells.get()));
    benchmark::ClobberMemory();
  }
}

void BM_DecodeCellsCellByCell(benchmark::State& state) {
  const auto bytes = Typical().content.File();
  const std::vector<uint8_t> code(bytes.begin() + kTileHeaderSize, bytes.end());
  auto cells = std::make_unique<uint8_t[]>(kCellCount);
  for (auto _ : state) {
    benchmark::DoNotOptimize(testing::ReferenceDecode(code, cells.get()));
    benchmark::ClobberMemory();
  }
}

void BM_EncodeTile(benchmark::State& state) {
  const TypicalTile& typical = Typical();
  for (auto _ : state) {
    benchmark::DoNotOptimize(EncodeTile(typical.content.northMask, typical.content.southMask,
                                        typical.content.cells.get()));
  }
}

void BM_EncodeTileCellByCell(benchmark::State& state) {
  const TypicalTile& typical = Typical();
  for (auto _ : state) {
    benchmark::DoNotOptimize(testing::ReferenceEncode(
        typical.content.northMask, typical.content.southMask, typical.content.cells.get()));
  }
}

// What any save of the tile costs without encoding: its bytes replacing the
// file through a temporary file.
void BM_ReplaceTileFile(benchmark::State& state) {
  const TypicalTile& typical = Typical();
  const auto bytes = typical.content.File();
  for (auto _ : state) {
    ReplacingFile file(typical.path);
    if (!file.Open()) std::abort();
    file.Write(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(file.Commit());
  }
}

BENCHMARK(BM_DecodeCells)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeCellsCellByCell)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeTile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeTileCellByCell)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReplaceTileFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadTile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadTileCellByCell)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveTile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveTileCellByCell)->Unit(benchmark::kMicrosecond);

const bool kRatios[] = {
    RegisterRatio({"BM_LoadTile", "BM_LoadTileCellByCell", 10.0, true}),
    RegisterRatio({"BM_SaveTile", "BM_SaveTileCellByCell", 10.0, true}),
    RegisterRatio({"BM_DecodeCells", "BM_DecodeCellsCellByCell", 10.0, true}),
    RegisterRatio({"BM_EncodeTile", "BM_EncodeTileCellByCell", 10.0, true}),
};

}  // namespace
}  // namespace roamgrid::bench
