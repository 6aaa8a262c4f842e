// The export format table: one entry per format a view or region is
// written in, with its suffixes, whether it is an image, whether a ".gz"
// after its suffix asks for gzip, its writer, its save dialog label and
// its rows in `export --help`. The format of a path, the list of known
// suffixes, the dialog filters and the usage text all come from it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace roamgrid {

enum class ExportFormat { kBmp, kPng, kGeoTiff, kGeoJson, kKml, kKmz };

struct ExportTarget {
  ExportFormat format = ExportFormat::kBmp;
  bool gzip = false;  // ".gz" after a GeoJSON or KML suffix
  bool operator==(const ExportTarget&) const = default;
  bool IsRaster() const;
};

class ReplacingFile;
struct RegionExportRequest;
struct RegionExportResult;

// Writes the region of `request` into `file` (open, not committed); false
// when writing failed (errno tells why).
using RegionWriter = bool (*)(const RegionExportRequest& request, const ExportTarget& target,
                              ReplacingFile& file, RegionExportResult& result);

struct ExportFormatEntry {
  ExportFormat format;
  const char* name;      // "GeoTIFF"
  bool raster;           // an image of pixels (else vector shapes)
  const char* suffixes;  // ".tif .tiff": the first is the one names are given
  bool gzip;             // ".gz" after a suffix writes it gzip-compressed
  RegionWriter write;    // the writer of any region; nullptr: the view's BMP only
  bool region;           // offered by the desktop program's "Export region..."
  const char* help;      // its rows in `export --help`; nullptr: none (told by another's)
};

// The table, in the order the formats are listed.
std::span<const ExportFormatEntry> ExportFormats();
const ExportFormatEntry& ExportFormatOf(ExportFormat format);

// The suffixes, for messages: ".bmp, .png, .tif, .tiff, ...", the
// compressed ones last.
std::string KnownExportSuffixes();

// The format of `path` from its suffix, letters of any case: .bmp, .png,
// .tif/.tiff, .geojson/.json, .kml, .kmz, and .geojson.gz, .json.gz,
// .kml.gz. Nothing for any other name.
std::optional<ExportTarget> ExportTargetOf(const std::string& path);

// The save dialog filters of "Export region...", "GeoTIFF (*.tif *.tiff)",
// and the suffixes it takes, for its message on another name.
std::vector<std::string> RegionExportFilters();
std::string RegionExportSuffixesText();
// The names of the formats "Export region..." offers: "PNG, GeoTIFF,
// GeoJSON, KML or KMZ".
std::string RegionExportFormatNames();

// The rows of `export --help` that list the formats by suffix.
std::string ExportFormatsHelp();

}  // namespace roamgrid
