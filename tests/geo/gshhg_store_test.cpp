// The GSHHG reader's choices and its failures: which resolution a zoom
// takes, a missing folder, a damaged file that gives no lines and one
// message on standard error, the checks a file passes before the netCDF
// library sees it and those every number from the file passes before it
// sizes anything.
#include "geo/gshhg_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>

#include "geo/coast_background.h"
#include "support/synthetic_gshhg.h"
#include "support/temp_dir.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

using R = GshhgResolution;
using testing::MemoryNetcdfFile;
using testing::SyntheticBin;
using testing::SyntheticSegment;
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

TEST(GshhgStoreTest, MercatorScalesTakeTheResolutionTheyNeed) {
  // Metres a pixel: the world view, a continent, a country, a region, a city.
  const std::pair<double, std::vector<R>> cases[] = {
      {31000, {R::kCrude, R::kLow, R::kIntermediate, R::kHigh, R::kFull}},
      {3000, {R::kLow, R::kCrude, R::kIntermediate, R::kHigh, R::kFull}},
      {500, {R::kIntermediate, R::kLow, R::kCrude, R::kHigh, R::kFull}},
      {100, {R::kHigh, R::kIntermediate, R::kLow, R::kCrude, R::kFull}},
      {30, {R::kFull, R::kHigh, R::kIntermediate, R::kLow, R::kCrude}},
      {0, {R::kFull, R::kHigh, R::kIntermediate, R::kLow, R::kCrude}},
  };
  for (const auto& [metres, order] : cases)
    EXPECT_EQ(ResolutionsForMercator(metres), order) << metres;
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

TEST_F(GshhgFolderTest, AFileThatFailsTheHeadCheckNeverReachesTheLibrary) {
  const std::filesystem::path source = std::string(kGshhgFolder) + "/binned_GSHHS_l.nc";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  const std::filesystem::path copy = dir() / "binned_GSHHS_l.nc";
  std::filesystem::copy_file(source, copy);
  std::filesystem::resize_file(copy, std::filesystem::file_size(source) - 1);
  int opened = 0;
  std::vector<std::string> said;
  GshhgStore store(
      dir().string(), size_t(1) << 20, [&](const std::string& line) { said.push_back(line); },
      [&](const std::string& path, std::string* error) {
        ++opened;
        return OpenNetcdfFile(path, error);
      });
  EXPECT_TRUE(store.Bins(GshhgLayer::kShore, R::kLow, 30, 40, 130, 140).empty());
  EXPECT_EQ(opened, 0);
  ASSERT_EQ(said.size(), size_t(1));
  EXPECT_NE(said[0].find("cut short"), std::string::npos) << said[0];
  EXPECT_TRUE(store.Failed(GshhgLayer::kShore, R::kLow));
  EXPECT_FALSE(store.ChooseResolution(GshhgLayer::kShore, 7));
}

// A sound synthetic crude shoreline file: an island of four nested levels
// in the bin from 0 to 20 E, 10 S to 10 N (row 4, column 0).
MemoryNetcdfFile SoundFile() {
  SyntheticBin bin;
  bin.bin = 4 * 18;
  for (int level = 1; level <= 4; ++level) {
    bin.segments.push_back(
        testing::Square(level, uint16_t(8000 * level), uint16_t(65535 - 8000 * level)));
  }
  return testing::SyntheticShoreFile(1200, {bin});
}

TEST_F(GshhgFolderTest, BinsCarryTheirLevelsSidesAndCorners) {
  SyntheticBin bay;
  bay.bin = 4 * 18 + 1;
  bay.corners = {1, 1, 0, 0};
  bay.segments.push_back({1, kGshhgWest, kGshhgEast, {{0, 30000}, {30000, 31000}, {65535, 30000}}});
  testing::PlaceStandIn(dir(), "binned_GSHHS_c.nc");
  GshhgStore store(dir().string(), size_t(1) << 20, {},
                   testing::ServeFile(testing::SyntheticShoreFile(1200, {bay})));
  const std::vector<PlacedBin> bins = store.Bins(GshhgLayer::kShore, R::kCrude, -5, 5, 25, 35);
  ASSERT_EQ(bins.size(), size_t(1));
  const GshhgBin& bin = *bins[0].bin;
  EXPECT_EQ(bin.westDeg, 20.0);
  EXPECT_EQ(bin.southDeg, -10.0);
  EXPECT_EQ(bin.sizeDeg, 20.0);
  EXPECT_EQ(bin.cornerLevels, (std::array<uint8_t, 4>{1, 1, 0, 0}));
  ASSERT_EQ(bin.segments.size(), size_t(1));
  EXPECT_EQ(bin.segments[0].entrySide, kGshhgWest);
  EXPECT_EQ(bin.segments[0].exitSide, kGshhgEast);
  EXPECT_EQ(bin.segments[0].pointCount, uint32_t(3));
  EXPECT_EQ(bin.points, (std::vector<uint16_t>{0, 30000, 30000, 31000, 65535, 30000}));
  EXPECT_TRUE(store.problems().empty());
}

TEST_F(GshhgFolderTest, ANumberNoSoundFileHoldsMakesTheFileAbsent) {
  using Damage = std::function<void(MemoryNetcdfFile&)>;
  const auto set = [](const char* name, size_t at, int64_t value) {
    return Damage([=](MemoryNetcdfFile& file) { file.Find(name)->values.at(at) = value; });
  };
  const size_t island = 4 * 18;
  struct Case {
    const char* problem;
    Damage damage;
  };
  const Case cases[] = {
      // The 14 KB file that declared 1-minute bins: 233 million of them.
      {"a bin layout of 1 minutes",
       [](MemoryNetcdfFile& file) {
         file.Find("Bin_size_in_minutes")->values[0] = 1;
         file.Find("N_bins_in_360_longitude_range")->values[0] = 21600;
         file.Find("N_bins_in_180_degree_latitude_range")->values[0] = 10800;
         for (const char* name : {"Id_of_first_segment_in_a_bin", "N_segments_in_a_bin",
                                  "Embedded_node_levels_in_a_bin"}) {
           file.Find(name)->declared = size_t(21600) * 10800;
         }
       }},
      {"a bin layout of 1200 minutes, 19 x 9", set("N_bins_in_360_longitude_range", 0, 19)},
      {"a bin layout of 7 minutes", set("Bin_size_in_minutes", 0, 7)},
      {"holds 100 values where 162 belong",
       [](MemoryNetcdfFile& file) { file.Find("N_segments_in_a_bin")->declared = 100; }},
      {"Relative_latitude_from_SW_corner_of_bin: NetCDF: Variable not found",
       [](MemoryNetcdfFile& file) {
         file.Find("Relative_latitude_from_SW_corner_of_bin")->name = "x";
       }},
      {"is not a list of whole numbers",
       [](MemoryNetcdfFile& file) {
         file.Find("Id_of_first_point_in_a_segment")->type = NetcdfType::kDouble;
       }},
      {"bin 72 names segments", set("N_segments_in_a_bin", island, -3)},
      {"bin 72 names segments", set("Id_of_first_segment_in_a_bin", island, 2)},
      {"bin 73 names segments",  // overlaps the bin before it
       [&](MemoryNetcdfFile& file) {
         file.Find("Id_of_first_segment_in_a_bin")->values[island + 1] = 3;
         file.Find("N_segments_in_a_bin")->values[island + 1] = 1;
       }},
      {"the bin table",
       [](MemoryNetcdfFile& file) { file.Find("N_segments_in_a_bin")->values.resize(50); }},
      {"enters or leaves its bin by no side",
       set("Embedded_npts_levels_exit_entry_for_a_segment", 2, 4 << 9 | 3 << 6 | 6 << 3 | 4)},
      {"enters or leaves its bin by no side",
       set("Embedded_npts_levels_exit_entry_for_a_segment", 2, 4 << 9 | 3 << 6 | 1 << 3 | 4)},
      {"a segment names points the file does not hold",
       set("Embedded_npts_levels_exit_entry_for_a_segment", 3,
           int64_t(1) << 30 | 4 << 6 | 4 << 3 | 4)},
      {"a segment names points the file does not hold",
       set("Id_of_first_point_in_a_segment", 1, 17)},
      {"a segment names points the file does not hold",
       set("Id_of_first_point_in_a_segment", 0, -1)},
      {"points: ",  // declared, but not there to be read
       [](MemoryNetcdfFile& file) {
         for (const char* name : {"Relative_longitude_from_SW_corner_of_bin",
                                  "Relative_latitude_from_SW_corner_of_bin"}) {
           file.Find(name)->declared = 100;
           file.Find(name)->values.resize(10);
         }
       }},
  };
  for (const Case& c : cases) {
    MemoryNetcdfFile file = SoundFile();
    c.damage(file);
    testing::PlaceStandIn(dir(), "binned_GSHHS_c.nc");
    std::vector<std::string> said;
    GshhgStore store(
        dir().string(), size_t(1) << 20, [&](const std::string& line) { said.push_back(line); },
        testing::ServeFile(std::move(file)));
    // The island's bin and the world around it, twice: one message only.
    for (int pass = 0; pass < 2; ++pass) {
      EXPECT_TRUE(store.Bins(GshhgLayer::kShore, R::kCrude, -5, 5, 5, 15).empty()) << c.problem;
      EXPECT_TRUE(store.Bins(GshhgLayer::kShore, R::kCrude, -90, 90, -180, 180).empty())
          << c.problem;
    }
    ASSERT_EQ(said.size(), size_t(1)) << c.problem;
    EXPECT_NE(said[0].find(c.problem), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("binned_GSHHS_c.nc: "), std::string::npos) << said[0];
    EXPECT_TRUE(store.Failed(GshhgLayer::kShore, R::kCrude)) << c.problem;
    RgbImage image(64, 64);
    EXPECT_FALSE(DrawCoastMercator(store, {0.5, 0.5, 0, 64, 64}, image).filled) << c.problem;
  }
  // And the sound file reads whole.
  testing::PlaceStandIn(dir(), "binned_GSHHS_c.nc");
  GshhgStore store(dir().string(), size_t(1) << 20, {}, testing::ServeFile(SoundFile()));
  EXPECT_EQ(store.Bins(GshhgLayer::kShore, R::kCrude, -90, 90, -180, 180).size(), size_t(162));
  EXPECT_TRUE(store.problems().empty());
}

}  // namespace
}  // namespace roamgrid
