// Any bytes as the existing image of a merge. The result is either a
// complete 602166-byte image with our header whose pixels follow the merge
// rule (computed here independently, short pixel data included), or the
// old file left byte for byte as it was; no ".bk" file stays behind.
#include <algorithm>
#include <array>
#include <vector>

#include "export/bmp_file.h"
#include "fuzz_support.h"
#include "oracles.h"

using namespace roamgrid;

namespace {

constexpr char kImagePath[] = "image.bmp";

// A fixed raster with marked and unmarked pixels in every row.
const std::vector<uint8_t>& Raster() {
  static const std::vector<uint8_t> raster = [] {
    std::vector<uint8_t> r(kRasterSize);
    for (int j = 0; j < kRasterSize; ++j)
      r[j] = (j % 3 == 0 || j % 7 == 1) ? uint8_t(1 + j % 5) : 0;
    return r;
  }();
  return raster;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratchDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteRaw(kImagePath, data, size);
  const MergeResult result = MergeIntoImage(kImagePath, Raster().data());
  const std::vector<uint8_t> after = fuzz::ReadRaw(kImagePath);
  const std::array<uint8_t, kBmpHeaderSize> header = BmpHeader();
  const bool ours = size >= kBmpHeaderSize && std::equal(header.begin(), header.end(), data);

  if (ours) {
    FUZZ_CHECK(result == MergeResult::kMerged);
    FUZZ_CHECK(after.size() == kBmpFileSize);
    FUZZ_CHECK(after == fuzz::ReferenceMerge(data, size, Raster().data()));
  } else {
    FUZZ_CHECK(result == MergeResult::kForeignHeader);
    FUZZ_CHECK(after == std::vector<uint8_t>(data, data + size));
  }
  FUZZ_CHECK(fuzz::Entries(".").size() == 1);  // no ".bk" or temporary file left
  return 0;
}
