// The GSHHG reader's choices and its failures: which resolution a zoom
// takes, a missing folder, and a damaged file that gives no lines and one
// message on standard error.
#include "geo/gshhg_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "geo/coast_background.h"
#include "support/temp_dir.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

using R = GshhgResolution;
using testing::TempDirTest;

TEST(GshhgStoreTest, ZoomsTakeTheResolutionThatSuitsThem) {
  EXPECT_EQ(ResolutionsForZoom(7).front(), R::kIntermediate);
  EXPECT_EQ(ResolutionsForZoom(4).front(), R::kHigh);
  EXPECT_EQ(ResolutionsForZoom(0).front(), R::kFull);
  EXPECT_EQ(ResolutionsForZoom(0)[1], R::kHigh);  // full is not always installed
  for (int zoomIndex = 0; zoomIndex <= 7; ++zoomIndex) {
    EXPECT_EQ(ResolutionsForZoom(zoomIndex).size(), size_t(kGshhgResolutionCount));
  }
  EXPECT_EQ(GshhgFileName(GshhgLayer::kShore, R::kHigh), "binned_GSHHS_h.nc");
  EXPECT_EQ(GshhgFileName(GshhgLayer::kRiver, R::kFull), "binned_river_f.nc");
}

class GshhgFolderTest : public TempDirTest {};

TEST_F(GshhgFolderTest, MissingFolderGivesNothingAndNoMessage) {
  GshhgStore store((dir() / "none").string());
  RgbImage image(kRasterSide, kRasterSide);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(DrawCoastBackground(store, 14260, 55900, 1, image).pixels, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(store.ChooseResolution(GshhgLayer::kShore, 1));
}

TEST_F(GshhgFolderTest, FullResolutionServesShoresOnly) {
  for (const char* name :
       {"binned_GSHHS_f.nc", "binned_border_f.nc", "binned_border_h.nc", "binned_river_f.nc"}) {
    std::ofstream(dir() / name) << "names are all the choice looks at";
  }
  GshhgStore store(dir().string());
  EXPECT_EQ(store.ChooseResolution(GshhgLayer::kShore, 0), R::kFull);
  EXPECT_EQ(store.ChooseResolution(GshhgLayer::kBorder, 0), R::kHigh);
  EXPECT_EQ(store.ChooseResolution(GshhgLayer::kRiver, 0), R::kFull);  // nothing else there
  EXPECT_EQ(store.ChooseResolution(GshhgLayer::kShore, 7), R::kFull);
}

TEST_F(GshhgFolderTest, DamagedFileGivesNoLinesAndOneMessage) {
  const std::filesystem::path source = std::string(kGshhgFolder) + "/binned_GSHHS_l.nc";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  const std::filesystem::path copy = dir() / "binned_GSHHS_l.nc";
  for (uintmax_t keep : {std::filesystem::file_size(source) / 2, uintmax_t(1000), uintmax_t(0)}) {
    std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(copy, keep);
    GshhgStore store(dir().string());
    ::testing::internal::CaptureStderr();
    int64_t drawn = 0;
    // Twice, over Tokyo Bay at the widest zoom: the second read says nothing more.
    for (int pass = 0; pass < 2; ++pass) {
      RgbImage image(kRasterSide, kRasterSide);
      drawn += DrawCoastBackground(store, 13600, 55520, 7, image).pixels;
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(drawn, 0) << keep;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << keep << ": " << said;
    EXPECT_TRUE(said.starts_with("roamgrid: " + copy.string() + ": ")) << said;
    EXPECT_EQ(store.problems().size(), size_t(1));
  }
}

}  // namespace
}  // namespace roamgrid
