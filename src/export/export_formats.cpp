#include "export/export_formats.h"

#include <string_view>

#include "common/text.h"
#include "export/region_writers.h"

namespace roamgrid {

namespace {

constexpr ExportFormatEntry kFormats[] = {
    {ExportFormat::kBmp, "BMP", true, ".bmp", false, nullptr, false,
     R"(  .bmp              the view as the Export command writes it: a 448 x 448
                    24-bit BMP image, visited pixels red, all others white
)"},
    {ExportFormat::kPng, "PNG", true, ".png", false, WriteRegionAsPng, true,
     R"(  .png              a PNG image, visited pixels red on white
)"},
    {ExportFormat::kGeoTiff, "GeoTIFF", true, ".tif .tiff", false, WriteRegionAsGeoTiff, true,
     R"(  .tif, .tiff       a GeoTIFF (EPSG:4326): one band, 1 visited, 0 not
)"},
    {ExportFormat::kGeoJson, "GeoJSON", false, ".geojson .json", true, WriteRegionAsVector, true,
     R"(  .geojson, .json   GeoJSON: one MultiPolygon feature per tile, rectangles of
                    visited cells, properties naming the tile
)"},
    {ExportFormat::kKml, "KML", false, ".kml", true, WriteRegionAsVector, true,
     R"(  .kml, .kmz        KML: the same rectangles as red polygons; a KMZ of a very
                    large region holds a transparent PNG overlay instead
)"},
    {ExportFormat::kKmz, "KMZ", false, ".kmz", false, WriteRegionAsKmz, true, nullptr},
};

// Calls `take(suffix, gzip)` for every suffix of `format`, the plain ones
// first, then (`withGzip`) the compressed ones.
template <typename Take>
void ForEachSuffix(const ExportFormatEntry& format, bool withGzip, Take take) {
  for (bool gzip : {false, true}) {
    if (gzip && !(withGzip && format.gzip)) break;
    std::string_view rest = format.suffixes;
    while (!rest.empty()) {
      const size_t blank = rest.find(' ');
      const std::string_view suffix = rest.substr(0, blank);
      take(std::string(suffix) + (gzip ? ".gz" : ""), gzip);
      rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
    }
  }
}

// Every suffix of the formats `chosen` picks, the compressed ones after all
// plain ones.
template <typename Chosen>
std::vector<std::string> Suffixes(Chosen chosen) {
  std::vector<std::string> plain, compressed;
  for (const ExportFormatEntry& format : kFormats) {
    if (!chosen(format)) continue;
    ForEachSuffix(format, true, [&](std::string suffix, bool gzip) {
      (gzip ? compressed : plain).push_back(std::move(suffix));
    });
  }
  plain.insert(plain.end(), compressed.begin(), compressed.end());
  return plain;
}

// "a, b, c" with `last` before the last item (", " or " or ").
std::string Listed(const std::vector<std::string>& items, const char* last) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? last : ", ";
    text += items[i];
  }
  return text;
}

}  // namespace

bool ExportTarget::IsRaster() const { return ExportFormatOf(format).raster; }

std::span<const ExportFormatEntry> ExportFormats() { return kFormats; }

const ExportFormatEntry& ExportFormatOf(ExportFormat format) {
  for (const ExportFormatEntry& entry : kFormats)
    if (entry.format == format) return entry;
  return kFormats[0];  // not reached: every format has its entry
}

std::string KnownExportSuffixes() {
  return Listed(Suffixes([](const ExportFormatEntry&) { return true; }), ", ");
}

std::optional<ExportTarget> ExportTargetOf(const std::string& path) {
  // The compressed suffixes first: ".json.gz" is no ".gz" of anything else.
  std::optional<ExportTarget> found;
  for (bool compressed : {true, false}) {
    for (const ExportFormatEntry& format : kFormats) {
      ForEachSuffix(format, compressed, [&](const std::string& suffix, bool gzip) {
        if (!found && gzip == compressed && HasSuffix(path, suffix, true))
          found = ExportTarget{format.format, gzip};
      });
    }
    if (found) return found;
  }
  return std::nullopt;
}

std::vector<std::string> RegionExportFilters() {
  std::vector<std::string> filters;
  for (const ExportFormatEntry& format : kFormats) {
    if (!format.region) continue;
    std::string patterns;
    ForEachSuffix(format, true, [&](const std::string& suffix, bool) {
      patterns += (patterns.empty() ? "*" : " *") + suffix;
    });
    filters.push_back(std::string(format.name) + " (" + patterns + ")");
  }
  return filters;
}

std::string RegionExportSuffixesText() {
  return "Give the file one of the suffixes " +
         Listed(Suffixes([](const ExportFormatEntry& format) { return format.region; }), " or ");
}

std::string RegionExportFormatNames() {
  std::vector<std::string> names;
  for (const ExportFormatEntry& format : kFormats)
    if (format.region) names.push_back(format.name);
  return Listed(names, " or ");
}

std::string ExportFormatsHelp() {
  std::string help;
  for (const ExportFormatEntry& format : kFormats)
    if (format.help) help += format.help;
  const std::vector<std::string> compressed =
      Suffixes([](const ExportFormatEntry& format) { return format.gzip; });
  std::vector<std::string> onlyCompressed;
  for (const std::string& suffix : compressed)
    if (suffix.ends_with(".gz")) onlyCompressed.push_back(suffix);
  return help + "  " + Listed(onlyCompressed, ", ") + "   the same, gzip-compressed\n";
}

}  // namespace roamgrid
