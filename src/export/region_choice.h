// What the desktop program's "Export region..." asks before the save
// dialog: which area (the current view, all marks, or a typed south, west,
// north and east), in which format of the export table, and for images how
// many cells a pixel takes. Turning a choice into cells, and the name the
// save dialog proposes for it.
#pragma once

#include <optional>
#include <string>

#include "export/export_formats.h"
#include "export/region_cells.h"
#include "view/view_state.h"

namespace roamgrid {

enum class RegionArea {
  kView,      // the cells of the current 448 x 448 view
  kAllMarks,  // every tile of the store that has a file
  kBox,       // the typed edges
};

struct RegionExportChoice {
  RegionArea area = RegionArea::kView;
  // The typed edges, decimal degrees as typed (north and east positive; a
  // lone comma is a decimal comma).
  std::string south, west, north, east;
  ExportFormat format = ExportFormat::kGeoTiff;
  // Images: 2^detail cells per pixel side (a zoom index, 0..7), or
  // kFinestDetail for the closest that fits the size limit.
  int detail = kFinestDetail;
  static constexpr int kFinestDetail = -1;
  bool operator==(const RegionExportChoice&) const = default;
};

// A choice for the view: its edges as the typed box (four decimals), the
// view as the area, GeoTIFF at the view's own zoom.
RegionExportChoice ViewRegionChoice(const ViewState& view);

// The tiles of the store below "RGD" in the working directory, by their
// file names alone (no tile is read): the smallest region holding every
// tile file. Nothing when the store holds none.
std::optional<CellRegion> StoredTilesRegion();

// The cells of `choice`: the view's, StoredTilesRegion, or the typed box
// (DegreeBoxCells). Nothing, and a sentence for the user in `error`, when
// a typed edge is no number or the box is none, or the store holds no
// tile.
std::optional<CellRegion> ChosenRegion(const RegionExportChoice& choice, const ViewState& view,
                                       std::string* error);

// The zoom an image of `region` is written at for `choice`: its detail, or
// the closest that fits. Nothing, and a sentence for the user in `error`,
// when the image would exceed the size limit.
std::optional<int> ChosenZoom(const RegionExportChoice& choice, const CellRegion& region,
                              std::string* error);

// The name the save dialog proposes, with the format's first suffix: the
// view's name ("N035.650-E139.7500-R0.050.tif"), "all-marks.tif", or the
// box's edges ("N35.6000-E139.7000-N35.7000-E139.8000.tif").
std::string ProposedRegionName(const RegionExportChoice& choice, const ViewState& view);

}  // namespace roamgrid
