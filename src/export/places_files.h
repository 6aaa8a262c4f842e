// The places table in its forms: a text table for people, CSV (columns
// code,name,cells,km2,share), JSON, and GeoJSON that carries each place's
// outline with its figures as properties. Numbers are written independently
// of the locale; km2 has six decimals, a share (0..1) six significant
// digits, and the text table shows shares in per cent.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "export/text_output.h"
#include "geo/dcw_regions.h"
#include "geo/places_tally.h"

namespace roamgrid {

enum class PlacesFormat { kText, kCsv, kJson, kGeoJson };

// "country", "state", "continent".
const char* PlaceLevelName(PlaceLevel level);
// Reads "country", "state" or "continent".
std::optional<PlaceLevel> PlaceLevelFromName(const std::string& name);

// A share as the text table shows it: per cent with three significant
// digits ("38.5%", "0.0385%"), "100%" for the whole, "-" when unknown.
std::string ShareText(double share);

// Writes the table of `lines` (and, in text and JSON, the summary) in
// `format` (not kGeoJson).
void WritePlacesTable(TextOutput& out, PlacesFormat format, PlaceLevel level,
                      const std::vector<PlaceLine>& lines, const PlacesSummary& summary);

// The outline of a country or state (a region index), or null when it
// cannot be read.
using ShapeSource = std::function<std::shared_ptr<const RegionShape>(size_t region)>;

// Writes a FeatureCollection with one MultiPolygon feature per line: the
// region's rings as polygons with their holes (a continent: those of its
// countries, from `regions`), outer rings anticlockwise, longitudes placed
// so that each polygon starts west within -180..180, coordinates to six
// decimals; properties code, name, level, cells, km2, share and areaKm2.
// False when an outline could not be had (the output is then incomplete).
bool WritePlacesGeoJson(TextOutput& out, PlaceLevel level, const std::vector<PlaceLine>& lines,
                        const std::vector<RegionInfo>& regions, const ShapeSource& shape);

}  // namespace roamgrid
