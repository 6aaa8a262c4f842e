// libroamgrid-geotiff.so: the only code that calls libtiff and libgeotiff.
// It writes the image the core describes, row by row, through the core's
// output functions; what the pixels are and where the file goes are the
// core's.
#include <geotiff.h>
#include <geovalues.h>
#include <tiffio.h>
#include <xtiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "geotiff/geotiff_plugin_api.h"

namespace {

// libtiff's file access, on the core's output. Nothing is read back while a
// new file is written.
tmsize_t ReadNothing(thandle_t, void*, tmsize_t) { return -1; }

tmsize_t WriteTo(thandle_t handle, void* data, tmsize_t size) {
  const auto* output = static_cast<const RoamgridGeoTiffOutput*>(handle);
  return output->write(output->context, data, size_t(size)) ? size : -1;
}

toff_t SeekIn(thandle_t handle, toff_t offset, int whence) {
  const auto* output = static_cast<const RoamgridGeoTiffOutput*>(handle);
  if (!output->seek(output->context, int64_t(offset), whence)) return toff_t(-1);
  return toff_t(output->tell(output->context));
}

int CloseNothing(thandle_t) { return 0; }

toff_t SizeOf(thandle_t handle) {
  const auto* output = static_cast<const RoamgridGeoTiffOutput*>(handle);
  const int64_t at = output->tell(output->context);
  if (at < 0 || !output->seek(output->context, 0, SEEK_END)) return 0;
  const int64_t size = output->tell(output->context);
  output->seek(output->context, at, SEEK_SET);
  return size < 0 ? 0 : toff_t(size);
}

int MapNothing(thandle_t, void**, toff_t*) { return 0; }
void UnmapNothing(thandle_t, void*, toff_t) {}

// The tag GIS programs read a band's "no data" value from, as ASCII text:
// pixels of that value are left out when the layer is drawn. libtiff does
// not know it, so it is made known to every TIFF opened from now on, in
// front of whatever extender (libgeotiff's) was there before.
constexpr ttag_t kGdalNoDataTag = 42113;
TIFFExtendProc gParentExtender = nullptr;

void AddNoDataTag(TIFF* tif) {
  static const TIFFFieldInfo kNoData[] = {{kGdalNoDataTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII,
                                           FIELD_CUSTOM, 1, 0,
                                           const_cast<char*>("GDALNoDataValue")}};
  TIFFMergeFieldInfo(tif, kNoData, 1);
  if (gParentExtender) gParentExtender(tif);
}

void KnowNoDataTag() {
  static std::once_flag once;
  std::call_once(once, [] { gParentExtender = TIFFSetTagExtender(AddNoDataTag); });
}

// Tags, palette and georeferencing of the image.
bool WriteHeader(TIFF* tif, const RoamgridGeoTiffImage& image) {
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
            // The fastest level: two values compress well at any level.
            TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1) &&
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, image.tile_side) &&
            TIFFSetField(tif, TIFFTAG_TILELENGTH, image.tile_side);
  // The palette: 0 white, 1 red, the rest black (unused).
  std::vector<uint16_t> red(256, 0), green(256, 0), blue(256, 0);
  red[0] = green[0] = blue[0] = 0xFFFF;
  red[1] = 0xFFFF;
  ok = ok && TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  // Unvisited pixels are "no data": over a base map only the marks show.
  ok = ok && TIFFSetField(tif, kGdalNoDataTag, "0");
  // Pixel (0, 0)'s north-west corner and the pixel size.
  double scale[3] = {image.pixel_degrees, image.pixel_degrees, 0.0};
  double tiePoint[6] = {0.0, 0.0, 0.0, image.west_degrees, image.north_degrees, 0.0};
  ok = ok && TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale) &&
       TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint);
  GTIF* gtif = ok ? GTIFNew(tif) : nullptr;
  if (!gtif) return false;
  GTIFKeySet(gtif, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeGeographic);
  GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
  GTIFKeySet(gtif, GeographicTypeGeoKey, TYPE_SHORT, 1, GCS_WGS_84);
  GTIFKeySet(gtif, GeogAngularUnitsGeoKey, TYPE_SHORT, 1, Angular_Degree);
  ok = GTIFWriteKeys(gtif) != 0;
  GTIFFree(gtif);
  return ok;
}

// The tiles, a band of tile rows at a time.
bool WriteTiles(TIFF* tif, const RoamgridGeoTiffImage& image) {
  const int64_t width = image.width, height = image.height, side = image.tile_side;
  const int64_t tilesAcross = (width + side - 1) / side;
  std::vector<uint8_t> band(size_t(tilesAcross * side * side), 0);
  std::vector<uint8_t> tile(size_t(side * side));
  // An empty tile as DEFLATE stores it (a zlib stream); none when zlib fails.
  std::vector<uint8_t> emptyTile(compressBound(uLong(tile.size())));
  uLongf emptySize = uLongf(emptyTile.size());
  if (compress2(emptyTile.data(), &emptySize, tile.data(), uLong(tile.size()), 1) == Z_OK) {
    emptyTile.resize(emptySize);
  } else {
    emptyTile.clear();
  }
  bool ok = true;
  for (int64_t top = 0; ok && top < height; top += side) {
    std::fill(band.begin(), band.end(), 0);
    const int64_t rows = std::min(side, height - top);
    for (int64_t y = 0; y < rows; ++y) {
      const uint8_t* row = image.next_row(image.context);
      if (!row) break;
      std::memcpy(band.data() + size_t(y * tilesAcross * side), row, size_t(width));
    }
    for (int64_t t = 0; ok && t < tilesAcross; ++t) {
      for (int64_t y = 0; y < side; ++y)
        std::memcpy(tile.data() + size_t(y * side),
                    band.data() + size_t(y * tilesAcross * side + t * side), size_t(side));
      const uint32_t index = TIFFComputeTile(tif, uint32_t(t * side), uint32_t(top), 0, 0);
      if (std::all_of(tile.begin(), tile.end(), [](uint8_t v) { return v == 0; }) &&
          !emptyTile.empty()) {
        // Most tiles of a track are empty: their compressed bytes are made once.
        ok = TIFFWriteRawTile(tif, index, emptyTile.data(), tmsize_t(emptyTile.size())) >= 0;
      } else {
        ok = TIFFWriteEncodedTile(tif, index, tile.data(), tmsize_t(tile.size())) >= 0;
      }
    }
  }
  return ok;
}

int WriteImage(const RoamgridGeoTiffImage* image, const RoamgridGeoTiffOutput* output) {
  if (!image || !output || image->width == 0 || image->height == 0 || image->tile_side == 0 ||
      image->tile_side % 16 != 0) {
    return 0;
  }
  // libtiff and libgeotiff print their complaints by default; the result
  // says enough.
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  KnowNoDataTag();
  TIFF* tif =
      XTIFFClientOpen("export.tif", "w", const_cast<RoamgridGeoTiffOutput*>(output), ReadNothing,
                      WriteTo, SeekIn, CloseNothing, SizeOf, MapNothing, UnmapNothing);
  if (!tif) return 0;
  bool ok = false;
  try {
    ok = WriteHeader(tif, *image) && WriteTiles(tif, *image) && TIFFWriteDirectory(tif);
  } catch (const std::bad_alloc&) {
    ok = false;  // no exception crosses into the core
  }
  XTIFFClose(tif);
  return ok ? 1 : 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const RoamgridGeoTiffPlugin*
roamgrid_geotiff_plugin(uint32_t abi) {
  static const RoamgridGeoTiffPlugin plugin = {
      ROAMGRID_GEOTIFF_PLUGIN_ABI,
      sizeof(RoamgridGeoTiffPlugin),
      TIFFGetVersion(),
      WriteImage,
  };
  return abi == ROAMGRID_GEOTIFF_PLUGIN_ABI ? &plugin : nullptr;
}
