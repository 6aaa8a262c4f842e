#include "export/region_choice.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "common/number_text.h"
#include "export/bmp_file.h"
#include "export/region_raster.h"
#include "store/store_walk.h"
#include "tiles/grid_units.h"

namespace roamgrid {

namespace {

// "N35.6500" or "S35.6500" for a latitude, "E..." or "W..." for a longitude.
std::string EdgeName(double degrees, char positive, char negative) {
  return (degrees < 0 ? negative : positive) + FormatFixed(std::fabs(degrees), 0, 4);
}

std::string EdgeText(int32_t grid) { return FormatFixed(grid / double(kGridPerDegree), 0, 4); }

// The first suffix of `format` (".tif" of ".tif .tiff").
std::string FirstSuffix(ExportFormat format) {
  const std::string suffixes = ExportFormatOf(format).suffixes;
  return suffixes.substr(0, suffixes.find(' '));
}

}  // namespace

RegionExportChoice ViewRegionChoice(const ViewState& view) {
  RegionExportChoice choice;
  const int32_t span = kZoomSpans[size_t(std::clamp(view.zoomIndex, kMinZoomIndex, kMaxZoomIndex))];
  choice.south = EdgeText(view.originLat);
  choice.west = EdgeText(view.originLon);
  choice.north = EdgeText(view.originLat + span);
  choice.east = EdgeText(view.originLon + span);
  choice.detail = std::clamp(view.zoomIndex, kMinZoomIndex, kMaxZoomIndex);
  return choice;
}

std::optional<CellRegion> StoredTilesRegion() {
  std::optional<CellRegion> region;
  WalkStore([&](const StoreEntry& entry) {
    if (entry.kind != StoreEntry::Kind::kTileFile) return;
    const int64_t south = int64_t{entry.key.latKey} / kCentiPerTile * kCellsPerSide;
    const int64_t west = int64_t{entry.key.lonKey} / kCentiPerTile * kCellsPerSide;
    const CellRegion tile{south, west, south + kCellsPerSide, west + kCellsPerSide};
    if (!region) {
      region = tile;
      return;
    }
    region->south = std::min(region->south, tile.south);
    region->west = std::min(region->west, tile.west);
    region->north = std::max(region->north, tile.north);
    region->east = std::max(region->east, tile.east);
  });
  return region;
}

std::optional<CellRegion> ChosenRegion(const RegionExportChoice& choice, const ViewState& view,
                                       std::string* error) {
  switch (choice.area) {
    case RegionArea::kView:
      return ViewCellRegion(view);
    case RegionArea::kAllMarks: {
      std::optional<CellRegion> region = StoredTilesRegion();
      if (!region) *error = "The store holds no marks yet.";
      return region;
    }
    case RegionArea::kBox:
      break;
  }
  const struct {
    const char* name;
    const std::string& text;
  } edges[] = {{"South", choice.south},
               {"West", choice.west},
               {"North", choice.north},
               {"East", choice.east}};
  double degrees[4];
  for (int i = 0; i < 4; ++i) {
    const std::optional<double> value = ParseTypedNumber(edges[i].text);
    if (!value) {
      *error = std::string(edges[i].name) + " is no number of degrees: \"" + edges[i].text + "\"";
      return std::nullopt;
    }
    degrees[i] = *value;
  }
  std::string why;
  const CellRegion region = DegreeBoxCells(degrees[0], degrees[1], degrees[2], degrees[3], &why);
  if (!why.empty()) {
    why[0] = char(std::toupper(static_cast<unsigned char>(why[0])));
    *error = why + ".";
    return std::nullopt;
  }
  return region;
}

std::optional<int> ChosenZoom(const RegionExportChoice& choice, const CellRegion& region,
                              std::string* error) {
  const int asked = choice.detail == RegionExportChoice::kFinestDetail
                        ? kMinZoomIndex
                        : std::clamp(choice.detail, kMinZoomIndex, kMaxZoomIndex);
  const std::optional<int> zoom = FinestFittingZoom(region, asked);
  if (zoom && (*zoom == asked || choice.detail == RegionExportChoice::kFinestDetail)) return zoom;
  const RasterSize size = RegionRasterSize(region, asked);
  *error = "The image would be " + std::to_string(size.width) + " x " +
           std::to_string(size.height) + " pixels, more than " + std::to_string(kMaxImageSide) +
           " x " + std::to_string(kMaxImageSide) + ". ";
  if (!zoom) {
    *error += "Choose a smaller area.";
    return std::nullopt;
  }
  const int64_t cells = CellsPerPixel(*zoom);
  *error += "Less detail fits: " + std::to_string(cells) + " x " + std::to_string(cells) +
            " cells per pixel.";
  return std::nullopt;
}

std::string ProposedRegionName(const RegionExportChoice& choice, const ViewState& view) {
  const std::string suffix = FirstSuffix(choice.format);
  switch (choice.area) {
    case RegionArea::kView: {
      std::string name = ProposedExportName(view);
      return name.replace(name.size() - 4, 4, suffix);  // in place of ".bmp"
    }
    case RegionArea::kAllMarks:
      return "all-marks" + suffix;
    case RegionArea::kBox:
      break;
  }
  const auto value = [](const std::string& text) { return ParseTypedNumber(text).value_or(0.0); };
  return EdgeName(value(choice.south), 'N', 'S') + "-" + EdgeName(value(choice.west), 'E', 'W') +
         "-" + EdgeName(value(choice.north), 'N', 'S') + "-" +
         EdgeName(value(choice.east), 'E', 'W') + suffix;
}

}  // namespace roamgrid
