// GeoTIFF images of the marks (libtiff + libgeotiff): one 8-bit band,
// 1 visited and 0 not, with a palette (white, red) for viewers and 0 told
// as the band's "no data" value (the GDAL_NODATA tag, so that GIS programs
// draw only the visited pixels over their base map), in tiles of
// 256 x 256 pixels, DEFLATE-compressed. Georeferenced in EPSG:4326 with the
// pixel size (0.05 / 896) * 2^zoom degrees and the north-west corner of the
// region as its tie point, both on the cell grid.
#pragma once

#include "export/region_raster.h"

namespace roamgrid {

class ReplacingFile;

constexpr int kGeoTiffTileSide = 256;

// Writes the raster of `region` at `zoom` into `file` (open, at its
// start). Returns false when a write failed or libtiff gave up.
bool WriteRegionGeoTiff(const CellRegion& region, int zoom, ReplacingFile& file);

}  // namespace roamgrid
