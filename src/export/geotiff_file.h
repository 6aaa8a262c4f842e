// GeoTIFF images of the marks: one 8-bit band, 1 visited and 0 not, with a
// palette (white, red) for viewers and 0 told as the band's "no data" value
// (the GDAL_NODATA tag, so that GIS programs draw only the visited pixels
// over their base map), in tiles of 256 x 256 pixels, DEFLATE-compressed.
// Georeferenced in EPSG:4326 with the pixel size (0.05 / 896) * 2^zoom
// degrees and the north-west corner of the region as its tie point, both on
// the cell grid.
//
// The pixels are made here; libtiff and libgeotiff, which write them, live
// in a plugin (libroamgrid-geotiff.so, installed beside the programs'
// private files) loaded the first time an image is written, so that no
// other command loads them or what they pull in.
#pragma once

#include <string>
#include <vector>

#include "export/region_raster.h"

namespace roamgrid {

class ReplacingFile;

constexpr int kGeoTiffTileSide = 256;

// Writes the raster of `region` at `zoom` into `file` (open, at its
// start). Returns false when the writer plugin cannot be loaded (*error
// says why), a write failed or libtiff gave up (*error left empty: the
// file's own error says it).
bool WriteRegionGeoTiff(const CellRegion& region, int zoom, ReplacingFile& file,
                        std::string* error);

// Why the GeoTIFF writer cannot be loaded (loading it if that has not been
// tried), or empty when it is loaded.
std::string GeoTiffPluginProblem();
// Whether the writer is loaded in this process (for the start-up tests:
// commands that write no GeoTIFF leave it unloaded).
bool GeoTiffPluginLoaded();
// Where the writer is looked for (see common/plugin_library.h).
std::vector<std::string> GeoTiffPluginCandidates();

}  // namespace roamgrid
