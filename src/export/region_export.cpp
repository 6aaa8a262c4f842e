#include "export/region_export.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/safe_file.h"
#include "common/text.h"
#include "export/geotiff_file.h"
#include "export/png_file.h"
#include "export/region_raster.h"
#include "export/region_writers.h"
#include "export/text_output.h"
#include "export/vector_files.h"

namespace roamgrid {

namespace {

// EINVAL: the path names a pipe, a device or a folder, which a file of
// user data never replaces.
std::string Why(int error) { return error ? ": " + FileErrorText(error) : ""; }

// A libzip archive written through a ReplacingFile: libzip writes it in
// one go, going back only to fill in the entries' headers.
zip_int64_t ArchiveCallback(void* state, void* data, zip_uint64_t length,
                            zip_source_cmd_t command) {
  auto* file = static_cast<ReplacingFile*>(state);
  switch (command) {
    case ZIP_SOURCE_SUPPORTS:
      return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_STAT:
      return -1;  // no archive yet: the ERROR answer below says so
    case ZIP_SOURCE_ERROR: {
      zip_error_t error;
      zip_error_init_with_code(&error, ZIP_ER_READ);
      error.sys_err = ENOENT;
      const zip_int64_t size = zip_error_to_data(&error, data, length);
      zip_error_fini(&error);
      return size;
    }
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_COMMIT_WRITE:
    case ZIP_SOURCE_REMOVE:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
      return 0;
    case ZIP_SOURCE_WRITE:
      return file->Write(data, size_t(length)) ? zip_int64_t(length) : -1;
    case ZIP_SOURCE_SEEK_WRITE: {
      const auto* seek = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, nullptr);
      if (!seek) return -1;
      return file->Seek(seek->offset, seek->whence) ? 0 : -1;
    }
    case ZIP_SOURCE_TELL_WRITE:
      return file->Tell();
    default:
      return -1;  // nothing of an archive is ever read back
  }
}

// Adds the bytes of a stdio stream (its whole content) as an entry. The
// archive takes the stream.
bool AddEntry(zip_t* archive, const char* name, std::FILE* stream, bool compress) {
  zip_error_t error;
  zip_error_init(&error);
  std::rewind(stream);
  zip_source_t* source = zip_source_filep_create(stream, 0, -1, &error);
  zip_error_fini(&error);
  if (!source) {
    std::fclose(stream);
    return false;
  }
  const zip_int64_t index = zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    return false;
  }
  return zip_set_file_compression(archive, zip_uint64_t(index),
                                  compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) == 0;
}

// The smallest zoom at which the overlay image fits kMaxOverlaySide.
int OverlayZoom(const CellRegion& region) {
  for (int zoom = 0; zoom < kMaxZoomIndex; ++zoom) {
    const RasterSize size = RegionRasterSize(region, zoom);
    if (size.width <= kMaxOverlaySide && size.height <= kMaxOverlaySide) return zoom;
  }
  return kMaxZoomIndex;
}

// KMZ: doc.kml (and overlay.png) go to anonymous temporary files first,
// whose bytes the archive then takes in.
bool WriteKmz(const CellRegion& region, ReplacingFile& file, RegionExportResult& result) {
  std::FILE* doc = std::tmpfile();
  if (!doc) return false;
  std::FILE* image = nullptr;
  CellRegion overlayRegion{};
  if (CountRectangles(region).rectangles > kMaxKmzPolygons) {
    result.overlay = true;
    const int zoom = OverlayZoom(region);
    overlayRegion = AlignToPixels(region, zoom);
    image = std::tmpfile();
    bool ok = image != nullptr;
    if (ok) {
      RegionRasterizer raster(overlayRegion, zoom);
      ok = WriteRegionPng(raster, true, nullptr, [&](const void* data, size_t size) {
        return std::fwrite(data, 1, size, image) == size;
      });
      result.visitedCells = raster.visitedCells();
    }
    if (!ok) {
      if (image) std::fclose(image);
      std::fclose(doc);
      return false;
    }
  }
  TextOutput text(doc);
  if (result.overlay) {
    WriteKmlOverlay(overlayRegion, "overlay.png", text);
  } else {
    result.visitedCells = WriteKmlPolygons(region, text).cells;
  }
  if (!text.Finish() || std::fflush(doc) != 0) {
    if (image) std::fclose(image);
    std::fclose(doc);
    return false;
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* target = zip_source_function_create(ArchiveCallback, &file, &error);
  zip_t* archive =
      target ? zip_open_from_source(target, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
  zip_error_fini(&error);
  if (!archive) {
    if (target) zip_source_free(target);
    if (image) std::fclose(image);
    std::fclose(doc);
    return false;
  }
  // doc.kml first: viewers open the first KML entry of the archive.
  bool ok = AddEntry(archive, "doc.kml", doc, true);
  if (image) ok = AddEntry(archive, "overlay.png", image, false) && ok;
  if (!ok || zip_close(archive) != 0) {
    zip_discard(archive);
    return false;
  }
  return true;
}

}  // namespace

bool WriteRegionAsPng(const RegionExportRequest& request, const ExportTarget&, ReplacingFile& file,
                      RegionExportResult& result) {
  RegionRasterizer raster(request.region, request.zoom);
  const bool ok =
      WriteRegionPng(raster, request.transparent, request.background,
                     [&](const void* data, size_t size) { return file.Write(data, size); });
  result.visitedCells = raster.visitedCells();
  return ok;
}

bool WriteRegionAsGeoTiff(const RegionExportRequest& request, const ExportTarget&,
                          ReplacingFile& file, RegionExportResult&) {
  return WriteRegionGeoTiff(request.region, request.zoom, file);
}

bool WriteRegionAsVector(const RegionExportRequest& request, const ExportTarget& target,
                         ReplacingFile& file, RegionExportResult& result) {
  TextOutput text(file, target.gzip);
  const VectorCounts counts = target.format == ExportFormat::kGeoJson
                                  ? WriteGeoJson(request.region, text)
                                  : WriteKmlPolygons(request.region, text);
  result.visitedCells = counts.cells;
  return text.Finish();
}

bool WriteRegionAsKmz(const RegionExportRequest& request, const ExportTarget&, ReplacingFile& file,
                      RegionExportResult& result) {
  return WriteKmz(request.region, file, result);
}

RegionExportResult ExportRegion(const std::string& path, const ExportTarget& target,
                                const RegionExportRequest& request) {
  RegionExportResult result;
  const int zoom = std::clamp(request.zoom, int(kMinZoomIndex), int(kMaxZoomIndex));
  if (!ExportFormatOf(target.format).write) {
    result.error = "the BMP export writes one view only";
    return result;
  }
  if (target.IsRaster()) {
    result.error = CheckRasterSize(request.region, zoom);
    if (!result.error.empty()) return result;
  }
  if (request.region.Rows() <= 0 || request.region.Columns() <= 0) {
    result.error = "the region is empty";
    return result;
  }
  // Region exports are derived files of up to hundreds of megabytes that
  // the store can always give again: they are renamed into place once
  // closed, as tiles are, without forcing every byte to the disk first.
  ReplacingFile file(path, {}, Durability::kClosed);
  errno = 0;
  if (!file.Open()) {
    result.error = "cannot create " + Quoted(path) + Why(errno);
    return result;
  }
  RegionExportRequest clamped = request;
  clamped.zoom = zoom;
  errno = 0;
  const ScopedRegionWalkProgress walkProgress(request.progress);
  const bool ok = ExportFormatOf(target.format).write(clamped, target, file, result);
  const int writeError = errno;
  if (walkProgress.stopped()) {
    file.Abandon();
    result.stopped = true;
    return result;
  }
  if (!ok) {
    file.Abandon();
    result.error = "cannot write " + Quoted(path) + Why(writeError) + "; nothing was changed";
    return result;
  }
  errno = 0;
  if (!file.Commit()) {
    result.error = "cannot write " + Quoted(path) + Why(errno) + "; nothing was changed";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace roamgrid
