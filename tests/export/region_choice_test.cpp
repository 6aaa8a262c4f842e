#include "export/region_choice.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "support/view_at.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

class RegionChoiceTest : public testing::TempDirTest {};

RegionExportChoice Box(const char* south, const char* west, const char* north, const char* east) {
  RegionExportChoice choice;
  choice.area = RegionArea::kBox;
  choice.south = south;
  choice.west = west;
  choice.north = north;
  choice.east = east;
  return choice;
}

TEST_F(RegionChoiceTest, ViewChoiceHoldsTheViewsEdgesAndZoom) {
  const RegionExportChoice choice = ViewRegionChoice(ViewState{});
  EXPECT_EQ(choice.area, RegionArea::kView);
  EXPECT_EQ(choice.south, "35.6500");
  EXPECT_EQ(choice.west, "139.7500");
  EXPECT_EQ(choice.north, "35.7000");
  EXPECT_EQ(choice.east, "139.8000");
  EXPECT_EQ(choice.detail, 1);
  const RegionExportChoice south = ViewRegionChoice(testing::ViewAt(-14200, -29600, 2));
  EXPECT_EQ(south.south, "-35.5000");
  EXPECT_EQ(south.east, "-73.9000");
}

// The typed box is the cells DegreeBoxCells gives, the view the view's;
// what names no cells is said in words for the user.
TEST_F(RegionChoiceTest, AreasBecomeCellsOrASentence) {
  const ViewState view;
  std::string error;
  EXPECT_EQ(ChosenRegion(RegionExportChoice{}, view, &error), ViewCellRegion(view));
  std::string why;
  EXPECT_EQ(ChosenRegion(Box("35.65", "139.75", "35,70", " 139.8 "), view, &error),
            DegreeBoxCells(35.65, 139.75, 35.70, 139.8, &why));
  EXPECT_EQ(error, "");

  const struct {
    RegionExportChoice choice;
    const char* error;
  } refused[] = {
      {Box("", "139.75", "35.7", "139.8"), "South is no number of degrees: \"\""},
      {Box("35.65", "139.75 E", "35.7", "139.8"), "West is no number of degrees: \"139.75 E\""},
      {Box("35.7", "139.75", "35.65", "139.8"), "The south edge must lie below the north edge."},
      {Box("35.65", "139.75", "95", "139.8"), "Latitudes must lie within -90 to 90."},
      {Box("35.65", "139.8", "35.7", "139.8"), "The west and east edges are equal."},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.error);
    error.clear();
    EXPECT_EQ(ChosenRegion(c.choice, view, &error), std::nullopt);
    EXPECT_EQ(error, c.error);
  }
  RegionExportChoice all;
  all.area = RegionArea::kAllMarks;
  EXPECT_EQ(ChosenRegion(all, view, &error), std::nullopt);
  EXPECT_EQ(error, "The store holds no marks yet.");
}

// All marks: the tiles that have files, by name, across hemispheres.
TEST_F(RegionChoiceTest, AllMarksSpanTheStoredTiles) {
  {
    TrackRecorder recorder;
    AddPoint(recorder, 35.651, 139.751);
    AddPoint(recorder, -33.93, -70.67);
  }
  std::string error;
  RegionExportChoice all;
  all.area = RegionArea::kAllMarks;
  const std::optional<CellRegion> region = ChosenRegion(all, ViewState{}, &error);
  ASSERT_TRUE(region);
  // Tiles S33.95 W70.70 and N35.65 E139.75, 896 cells a side.
  EXPECT_EQ(*region, (CellRegion{-3395 / 5 * 896, -7070 / 5 * 896, (3565 / 5 + 1) * 896,
                                 (13975 / 5 + 1) * 896}));
}

TEST_F(RegionChoiceTest, ImagesTakeTheAskedDetailOrTheFinestThatFits) {
  std::string why;
  const CellRegion twoDegrees = DegreeBoxCells(0, 0, 2, 2, &why);
  RegionExportChoice choice;
  std::string error;
  EXPECT_EQ(ChosenZoom(choice, twoDegrees, &error), 1);  // 35840 pixels at 0 is too wide
  choice.detail = 3;
  EXPECT_EQ(ChosenZoom(choice, twoDegrees, &error), 3);
  choice.detail = 0;
  EXPECT_EQ(ChosenZoom(choice, twoDegrees, &error), std::nullopt);
  EXPECT_EQ(error,
            "The image would be 35840 x 35840 pixels, more than 20000 x 20000. Less detail fits: "
            "2 x 2 cells per pixel.");
  choice.detail = RegionExportChoice::kFinestDetail;
  error.clear();
  EXPECT_EQ(ChosenZoom(choice, DegreeBoxCells(-80, -180, 80, 180, &why), &error), std::nullopt);
  EXPECT_NE(error.find("Choose a smaller area."), std::string::npos) << error;
}

TEST_F(RegionChoiceTest, ProposedNamesCarryTheFormatsSuffix) {
  const ViewState view;
  RegionExportChoice choice;
  EXPECT_EQ(ProposedRegionName(choice, view), "N035.650-E139.7500-R0.050.tif");
  choice.format = ExportFormat::kPng;
  EXPECT_EQ(ProposedRegionName(choice, view), "N035.650-E139.7500-R0.050.png");
  choice.area = RegionArea::kAllMarks;
  choice.format = ExportFormat::kGeoJson;
  EXPECT_EQ(ProposedRegionName(choice, view), "all-marks.geojson");
  RegionExportChoice box = Box("-33.95", "-70,7", "-33.9", "-70.65");
  box.format = ExportFormat::kKmz;
  EXPECT_EQ(ProposedRegionName(box, view), "S33.9500-W70.7000-S33.9000-W70.6500.kmz");
}

}  // namespace
}  // namespace roamgrid
