#include "export/geotiff_file.h"

#include "common/plugin_library.h"
#include "common/safe_file.h"
#include "geotiff/geotiff_plugin_api.h"

namespace roamgrid {

namespace {

constexpr char kPluginFileName[] = "libroamgrid-geotiff.so";

// The writer, loaded at most once per process and never unloaded.
const LoadedPlugin<RoamgridGeoTiffPlugin>& Plugin() {
  static const LoadedPlugin<RoamgridGeoTiffPlugin> loaded =
      LoadPlugin<RoamgridGeoTiffPlugin>(kPluginFileName, ROAMGRID_GEOTIFF_PLUGIN_SYMBOL,
                                        ROAMGRID_GEOTIFF_PLUGIN_ABI, "the GeoTIFF writer");
  return loaded;
}

// The plugin's view of the file being replaced and of the raster.
int WriteTo(void* context, const void* data, size_t size) {
  return static_cast<ReplacingFile*>(context)->Write(data, size) ? 1 : 0;
}

int SeekIn(void* context, int64_t offset, int whence) {
  return static_cast<ReplacingFile*>(context)->Seek((long long)offset, whence) ? 1 : 0;
}

int64_t TellOf(void* context) { return int64_t(static_cast<ReplacingFile*>(context)->Tell()); }

const uint8_t* NextRowOf(void* context) {
  return static_cast<RegionRasterizer*>(context)->NextRow();
}

}  // namespace

bool WriteRegionGeoTiff(const CellRegion& region, int zoom, ReplacingFile& file,
                        std::string* error) {
  const LoadedPlugin<RoamgridGeoTiffPlugin>& plugin = Plugin();
  if (!plugin.table) {
    if (error) *error = plugin.error;
    return false;
  }
  RegionRasterizer raster(region, zoom);
  const CellRegion cells = AlignToPixels(region, zoom);
  const int64_t width = raster.width(), height = raster.height();
  // The size check before any export keeps both far below 2^32.
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return false;
  const double perDegree = double(kCellsPerDegree);
  RoamgridGeoTiffImage image{};
  image.width = uint32_t(width);
  image.height = uint32_t(height);
  image.tile_side = kGeoTiffTileSide;
  image.pixel_degrees = double(CellsPerPixel(zoom)) / perDegree;
  image.west_degrees = double(cells.west) / perDegree;
  image.north_degrees = double(cells.north) / perDegree;
  image.context = &raster;
  image.next_row = NextRowOf;
  const RoamgridGeoTiffOutput output{&file, WriteTo, SeekIn, TellOf};
  return plugin.table->write_image(&image, &output) != 0;
}

std::string GeoTiffPluginProblem() { return Plugin().table ? std::string() : Plugin().error; }

bool GeoTiffPluginLoaded() { return PluginLoaded(kPluginFileName); }

std::vector<std::string> GeoTiffPluginCandidates() { return PluginCandidates(kPluginFileName); }

}  // namespace roamgrid
