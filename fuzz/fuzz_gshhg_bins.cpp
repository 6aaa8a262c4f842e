// Any bytes as the first bytes of a GSHHG file and as the variables the
// netCDF library hands over from it: the head check, the bin layout and
// bin table checks, the decoding of every bin and the land and water fill
// of a few views. Whatever the numbers, nothing is read or written out of
// bounds, at most one message is given for the file, and a drawing that
// says it filled the view left no pixel of it unfilled.
//
// Input: the head's length (2 bytes) and the file's size (4 bytes), both
// little-endian, the head, then the variables as a MemoryNetcdfFile
// (tests/support/memory_netcdf.h). The seed is a copy of the installed
// binned_GSHHS_c.nc written by make_fuzz_seeds.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "geo/coast_background.h"
#include "geo/gshhg_store.h"
#include "support/memory_netcdf.h"
#include "support/synthetic_gshhg.h"
#include "tiles/grid_units.h"
#include "view/view_state.h"

using namespace roamgrid;

namespace {

constexpr Rgb kUnfilled{1, 2, 3};  // never a colour the background draws

// Whether every pixel of rows [firstRow, endRow) has been drawn over.
bool Covered(const RgbImage& image, int firstRow, int endRow) {
  for (int y = firstRow; y < endRow; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.At(x, y) == kUnfilled) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratchDirectory();
  // The store finds a crude shoreline file (whose first bytes pass) and
  // is served the fuzzed variables in its place.
  testing::PlaceStandIn(".", "binned_GSHHS_c.nc");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const size_t headBytes = size_t(data[0]) | size_t(data[1]) << 8;
  const uint64_t fileBytes = uint64_t(data[2]) | uint64_t(data[3]) << 8 | uint64_t(data[4]) << 16 |
                             uint64_t(data[5]) << 24;
  if (size - 6 < headBytes) return 0;
  const std::string problem = CheckNetcdfHead(data + 6, headBytes, fileBytes, kGshhgMaxFileBytes);
  if (problem.empty()) FUZZ_CHECK(fileBytes >= 32 && fileBytes <= kGshhgMaxFileBytes);

  std::optional<testing::MemoryNetcdfFile> file =
      testing::MemoryNetcdfFile::FromBytes(data + 6 + headBytes, size - 6 - headBytes);
  if (!file) return 0;
  int said = 0;
  GshhgStore store(
      ".", size_t(4) << 20, [&](const std::string&) { ++said; },
      testing::ServeFile(std::move(*file)));

  // The world twice over, a Web Mercator view across 180 degrees, and the
  // main view at its widest and closest over Tokyo.
  const MercatorView views[] = {{0.5, 0.5, 0.0, 96, 64}, {0.999, 0.6, 3.5, 64, 48}};
  for (const MercatorView& view : views) {
    RgbImage image(view.width, view.height);
    image.Fill(kUnfilled);
    if (DrawCoastMercator(store, view, image).filled) {
      // The rows of the Mercator square: 256 x 2^zoom pixels tall.
      const double top = view.ScreenY(0.0);
      const double bottom = view.ScreenY(1.0);
      const int first = std::max(0, int(std::ceil(top - 0.5)));
      const int end = std::min(view.height, int(std::floor(bottom - 0.5)) + 1);
      FUZZ_CHECK(Covered(image, first, end));
    }
  }
  // (A quarter of the view's 448 pixels a side: the same bins, less to check.)
  for (int zoomIndex : {7, 0}) {
    RgbImage image(kRasterSide / 4, kRasterSide / 4);
    image.Fill(kUnfilled);
    if (DrawCoastBackground(store, 14260 - 640, 55900 - 640, zoomIndex, image).filled) {
      FUZZ_CHECK(Covered(image, 0, image.height));
    }
  }
  FUZZ_CHECK(said <= 1);
  FUZZ_CHECK(int(store.problems().size()) == said);
  return 0;
}
