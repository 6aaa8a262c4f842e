#include "oracles.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <string>

#include "export/bmp_file.h"
#include "fuzz_support.h"
#include "tiles/store_lock.h"
#include "tiles/reference_tile_codec.h"

namespace roamgrid::fuzz {

LoadResult ReferenceDecodeCells(const uint8_t* code, size_t size, uint8_t* cells) {
  return testing::ReferenceDecode(std::vector<uint8_t>(code, code + size), cells);
}

long long CountMarkedCells(const uint8_t* cells) {
  // Eight cells at a time: nearly all are unvisited.
  static_assert(kCellCount % 8 == 0);
  long long count = 0;
  for (int i = 0; i < kCellCount; i += 8) {
    uint64_t word;
    std::memcpy(&word, cells + i, sizeof word);
    if (word == 0) continue;
    for (int k = 0; k < 8; ++k) count += cells[i + k] != 0;
  }
  return count;
}

long long CountGgaPieces(const uint8_t* data, size_t size, bool anyTalker) {
  const auto upper = [](uint8_t c) { return c >= 'A' && c <= 'Z'; };
  long long count = 0;
  size_t p = 0;
  while (p < size) {
    size_t end = p;
    while (end < size && end - p < 1023) {
      if (data[end++] == '\n') break;
    }
    const uint8_t* s = data + p;
    if (end - p >= 7 && s[0] == '$' && s[3] == 'G' && s[4] == 'G' && s[5] == 'A' && s[6] == ',') {
      if (anyTalker ? upper(s[1]) && upper(s[2]) : s[1] == 'G' && s[2] == 'P') ++count;
    }
    p = end;
  }
  return count;
}

long long CheckedStoreMarks() {
  long long marks = 0;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator("RGD", ignored)) {
    if (entry.is_directory()) continue;
    const std::string path = entry.path().string();
    FUZZ_CHECK(path.size() < kTilePathSize && path.ends_with(".map"));
    TrackTile tile;
    std::copy(path.begin(), path.end(), tile.path);
    FUZZ_CHECK(LoadTile(tile) == kLoaded);
    const long long tileMarks = CountMarkedCells(tile.cells.get());
    FUZZ_CHECK(tileMarks >= 1);
    marks += tileMarks;
  }
  return marks;
}

std::vector<uint8_t> ReferenceMerge(const uint8_t* data, size_t size, const uint8_t* raster) {
  const std::array<uint8_t, kBmpHeaderSize> header = BmpHeader();
  std::vector<uint8_t> out(kBmpFileSize);
  std::copy(header.begin(), header.end(), out.begin());
  uint8_t pixel[3] = {0xFF, 0xFF, 0xFF};
  size_t at = kBmpHeaderSize;
  uint8_t* put = out.data() + kBmpHeaderSize;
  for (int j = 0; j < kRasterSize; ++j, put += 3) {
    for (int k = 0; k < 3 && at < size; ++k) pixel[k] = data[at++];
    const bool white = pixel[0] == 0xFF && pixel[1] == 0xFF && pixel[2] == 0xFF;
    const bool red = raster[j] != 0 && white;
    put[0] = red ? 0x00 : pixel[0];
    put[1] = red ? 0x00 : pixel[1];
    put[2] = red ? 0xFF : pixel[2];
  }
  return out;
}

}  // namespace roamgrid::fuzz
