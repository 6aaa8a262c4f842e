// Exports of any region in the formats other than the view's BMP: PNG,
// GeoTIFF, GeoJSON, KML and KMZ, and gzip-compressed GeoJSON and KML. The
// format follows the file name's suffix (export/export_formats.h). The file is replaced only by a
// complete new one (a temporary file renamed over it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/task_progress.h"
#include "export/export_formats.h"
#include "export/region_cells.h"
#include "geo/rgb_image.h"

namespace roamgrid {

// KMZ files show more rectangles than this as a GroundOverlay image
// instead of polygons, which large regions would make too heavy to draw.
constexpr long long kMaxKmzPolygons = 100000;
// The overlay image's sides stay within this many pixels.
constexpr int64_t kMaxOverlaySide = 8192;

struct RegionExportRequest {
  CellRegion region;
  int zoom = 0;              // raster formats: 2^zoom cells per pixel side (0..7)
  bool transparent = false;  // PNG: unmarked pixels transparent
  // PNG: drawn beneath the marks; its size must be the image's (a view's
  // background, DrawCoastBackground).
  const RgbImage* background = nullptr;
  // Told of the tile rows written and asked whether to stop (nullptr:
  // nothing told, never stopped).
  TaskProgress* progress = nullptr;
};

struct RegionExportResult {
  bool ok = false;
  std::string error;  // when not ok: what went wrong, naming the file
  long long visitedCells = 0;
  bool overlay = false;  // KMZ: written as a GroundOverlay image
  bool stopped = false;  // the progress was cancelled: nothing written, no error
};

// Checks the request for `target` (the size limit of raster images) and
// writes `path`. BMP is not handled here (ExportBitmap writes it). When the
// request's progress is cancelled, the export stops at the next tile row
// and leaves `path` as it was.
RegionExportResult ExportRegion(const std::string& path, const ExportTarget& target,
                                const RegionExportRequest& request);

}  // namespace roamgrid
