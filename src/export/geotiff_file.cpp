#include "export/geotiff_file.h"

#include <geotiff.h>
#include <geovalues.h>
#include <tiffio.h>
#include <xtiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/safe_file.h"

namespace roamgrid {

namespace {

// libtiff's file access, on the file being replaced. Nothing is read back
// while a new file is written.
tmsize_t ReadNothing(thandle_t, void*, tmsize_t) { return -1; }

tmsize_t WriteTo(thandle_t handle, void* data, tmsize_t size) {
  auto* file = static_cast<ReplacingFile*>(handle);
  return file->Write(data, size_t(size)) ? size : -1;
}

toff_t SeekIn(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<ReplacingFile*>(handle);
  if (!file->Seek((long long)offset, whence)) return toff_t(-1);
  return toff_t(file->Tell());
}

int CloseNothing(thandle_t) { return 0; }

toff_t SizeOf(thandle_t handle) {
  auto* file = static_cast<ReplacingFile*>(handle);
  const long long at = file->Tell();
  if (!file->Seek(0, SEEK_END)) return 0;
  const long long size = file->Tell();
  file->Seek(at, SEEK_SET);
  return toff_t(size);
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

}  // namespace

bool WriteRegionGeoTiff(const CellRegion& region, int zoom, ReplacingFile& file) {
  RegionRasterizer raster(region, zoom);
  const CellRegion cells = AlignToPixels(region, zoom);
  const int64_t width = raster.width(), height = raster.height();
  if (width <= 0 || height <= 0) return false;
  // libtiff and libgeotiff print their complaints by default; the result
  // says enough.
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  KnowNoDataTag();
  TIFF* tif = XTIFFClientOpen("export.tif", "w", &file, ReadNothing, WriteTo, SeekIn, CloseNothing,
                              SizeOf, MapNothing, UnmapNothing);
  if (!tif) return false;
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width)) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height)) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
            // The fastest level: two values compress well at any level.
            TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1) &&
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, kGeoTiffTileSide) &&
            TIFFSetField(tif, TIFFTAG_TILELENGTH, kGeoTiffTileSide);
  // The palette: 0 white, 1 red, the rest black (unused).
  std::vector<uint16_t> red(256, 0), green(256, 0), blue(256, 0);
  red[0] = green[0] = blue[0] = 0xFFFF;
  red[1] = 0xFFFF;
  ok = ok && TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  // Unvisited pixels are "no data": over a base map only the marks show.
  ok = ok && TIFFSetField(tif, kGdalNoDataTag, "0");
  // Georeferencing: pixel (0, 0)'s north-west corner and the pixel size.
  const double perDegree = double(kCellsPerDegree);
  const double pixelDegrees = double(CellsPerPixel(zoom)) / perDegree;
  double scale[3] = {pixelDegrees, pixelDegrees, 0.0};
  double tiePoint[6] = {
      0.0, 0.0, 0.0, double(cells.west) / perDegree, double(cells.north) / perDegree, 0.0};
  ok = ok && TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale) &&
       TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint);
  GTIF* gtif = ok ? GTIFNew(tif) : nullptr;
  if (gtif) {
    GTIFKeySet(gtif, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeGeographic);
    GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
    GTIFKeySet(gtif, GeographicTypeGeoKey, TYPE_SHORT, 1, GCS_WGS_84);
    GTIFKeySet(gtif, GeogAngularUnitsGeoKey, TYPE_SHORT, 1, Angular_Degree);
    ok = GTIFWriteKeys(gtif) != 0;
    GTIFFree(gtif);
  } else {
    ok = false;
  }

  // A band of tile rows: kGeoTiffTileSide rows of the image.
  const int64_t side = kGeoTiffTileSide;
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
  for (int64_t top = 0; ok && top < height; top += side) {
    std::fill(band.begin(), band.end(), 0);
    const int64_t rows = std::min(side, height - top);
    for (int64_t y = 0; y < rows; ++y) {
      const uint8_t* row = raster.NextRow();
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
  ok = ok && TIFFWriteDirectory(tif);
  XTIFFClose(tif);
  return ok;
}

}  // namespace roamgrid
