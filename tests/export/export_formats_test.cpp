// The export format table: every suffix it lists is read back as its
// format, and the lists made from it are those the programs show.
#include "export/export_formats.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace roamgrid {
namespace {

TEST(ExportFormatsTest, EveryListedSuffixIsReadBackAsItsFormatAndDocumented) {
  std::ifstream file(std::filesystem::path(ROAMGRID_SOURCE_DIR) / "packaging/roamgrid-cli.1");
  std::stringstream manPage;
  manPage << file.rdbuf();
  ASSERT_FALSE(manPage.str().empty());
  EXPECT_EQ(KnownExportSuffixes(),
            ".bmp, .png, .tif, .tiff, .geojson, .json, .kml, .kmz, .geojson.gz, .json.gz, .kml.gz");
  for (const ExportFormatEntry& format : ExportFormats()) {
    std::istringstream suffixes(format.suffixes);
    for (std::string suffix; suffixes >> suffix;) {
      for (const bool gzip : {false, true}) {
        if (gzip && !format.gzip) continue;
        const std::string name = "a" + suffix + (gzip ? ".gz" : "");
        EXPECT_EQ(ExportTargetOf(name), (ExportTarget{format.format, gzip})) << name;
        EXPECT_NE(manPage.str().find(suffix.substr(1)), std::string::npos) << suffix;
      }
    }
    EXPECT_EQ(ExportTarget{format.format}.IsRaster(), format.raster) << format.name;
  }
}

TEST(ExportFormatsTest, TheRegionDialogOffersTheRegionFormats) {
  EXPECT_EQ(RegionExportFilters(),
            (std::vector<std::string>{"PNG (*.png)", "GeoTIFF (*.tif *.tiff)",
                                      "GeoJSON (*.geojson *.json *.geojson.gz *.json.gz)",
                                      "KML (*.kml *.kml.gz)", "KMZ (*.kmz)"}));
  EXPECT_EQ(RegionExportSuffixesText(),
            "Give the file one of the suffixes .png, .tif, .tiff, .geojson, .json, .kml, .kmz, "
            ".geojson.gz, .json.gz or .kml.gz");
  EXPECT_EQ(RegionExportFormatNames(), "PNG, GeoTIFF, GeoJSON, KML or KMZ");
}

}  // namespace
}  // namespace roamgrid
