// Straightforward cell-by-cell tile codec, written from the format rules
// alone; the fast codec is checked against it.
#pragma once

#include <cstdint>
#include <vector>

#include "tiles/grid_units.h"
#include "tiles/tile_file.h"

namespace roamgrid::testing {

inline bool ReferenceGroupEmpty(const uint8_t* cells, int g) {
  for (int k = 0; k < 7; ++k)
    if (cells[7 * g + k]) return false;
  return true;
}

inline std::vector<uint8_t> ReferenceEncode(uint8_t north, uint8_t south, const uint8_t* cells) {
  std::vector<uint8_t> out = {0x00, north, south};
  int g = 0;
  while (g < kGroupCount) {
    if (!ReferenceGroupEmpty(cells, g)) {
      uint8_t bits = 0;
      for (int k = 0; k < 7; ++k)
        if (cells[7 * g + k]) bits |= uint8_t(1 << (6 - k));
      out.push_back(bits);
      g += 1;
    } else {
      int j = 0;
      while (j < 127 && g + j + 1 < kGroupCount && ReferenceGroupEmpty(cells, g + j + 1)) ++j;
      out.push_back(uint8_t(0x80 | j));
      g += j + 1;
    }
  }
  return out;
}

// Decodes a code stream cell by cell; cells it does not reach become 0.
inline LoadResult ReferenceDecode(const std::vector<uint8_t>& code, uint8_t* cells) {
  for (int i = 0; i < kCellCount; ++i) cells[i] = 0;
  int g = 0;
  for (uint8_t byte : code) {
    if (byte >= 0x80) {
      const int n = byte & 0x7F;
      if (g + n > kGroupCount) return kDamaged;
      for (int cell = 7 * g; cell < 7 * (g + n + 1) && cell < kCellCount; ++cell) cells[cell] = 0;
      g += n + 1;
    } else {
      for (int k = 0; k < 7; ++k) cells[7 * g + k] = (byte >> (6 - k)) & 1;
      g += 1;
    }
    if (g >= kGroupCount) return kLoaded;
  }
  return kDamaged;
}

}  // namespace roamgrid::testing
