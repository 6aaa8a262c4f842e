// The work the crash driver does and the crash-safety tests check against:
// which home the i-th rewrite of Roamgrid.cfg writes, and which raster the
// i-th merge adds to the image.
#pragma once

#include <cstdint>
#include <vector>

#include "home/home_config.h"
#include "view/view_state.h"

namespace roamgrid::testing {

// The i-th rewrite of the home file (i = 0 is the file the test starts
// from): aligned for every zoom, so it reads back unchanged.
inline HomePosition HomeOfRewrite(int i) { return HomePosition{i * 20, -i * 20, i % 8}; }

// The i-th merge marks raster row i across its whole width.
inline std::vector<uint8_t> RasterOfMerge(int i) {
  std::vector<uint8_t> raster(kRasterSize, 0);
  for (int column = 0; column < kRasterSide; ++column) raster[i * kRasterSide + column] = 1;
  return raster;
}

}  // namespace roamgrid::testing
