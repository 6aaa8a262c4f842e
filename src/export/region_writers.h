// The writers of the export table (export_formats.h), each writing a
// region into a file that replaces the old one only once whole.
#pragma once

#include "export/export_formats.h"

namespace roamgrid {

bool WriteRegionAsPng(const RegionExportRequest& request, const ExportTarget& target,
                      ReplacingFile& file, RegionExportResult& result);
bool WriteRegionAsGeoTiff(const RegionExportRequest& request, const ExportTarget& target,
                          ReplacingFile& file, RegionExportResult& result);
// GeoJSON or KML polygons, gzip-compressed when the target asks.
bool WriteRegionAsVector(const RegionExportRequest& request, const ExportTarget& target,
                         ReplacingFile& file, RegionExportResult& result);
// KML polygons in a KMZ archive, or for a very large region a
// GroundOverlay image.
bool WriteRegionAsKmz(const RegionExportRequest& request, const ExportTarget& target,
                      ReplacingFile& file, RegionExportResult& result);

}  // namespace roamgrid
