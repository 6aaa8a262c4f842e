#include "export/places_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/number_text.h"
#include "geo/sphere_area.h"

namespace roamgrid {

namespace {

constexpr int kKm2Decimals = 6;
constexpr int kShareDigits = 6;
constexpr int kCoordinateDecimals = 6;

std::string ShareNumber(double share) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, share,
                                    std::chars_format::general, kShareDigits);
  return std::string(buffer, result.ptr);
}

std::string Km2(double km2) { return FormatFixed(km2, 0, kKm2Decimals); }

void JsonText(TextOutput& out, const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out << '"';
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out << '\\' << c;
    } else if (uint8_t(c) < 0x20) {
      out << "\\u00" << kHex[uint8_t(c) >> 4] << kHex[uint8_t(c) & 15];
    } else {
      out << c;
    }
  }
  out << '"';
}

void CsvText(TextOutput& out, const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out << text;
    return;
  }
  out << '"';
  for (char c : text) {
    if (c == '"') out << '"';
    out << c;
  }
  out << '"';
}

// Characters of a UTF-8 text, for aligning columns.
size_t Width(const std::string& text) {
  return size_t(
      std::count_if(text.begin(), text.end(), [](char c) { return (uint8_t(c) & 0xC0) != 0x80; }));
}

void Pad(TextOutput& out, const std::string& text, size_t width, bool right) {
  const size_t fill = width > Width(text) ? width - Width(text) : 0;
  if (right) out << std::string(fill, ' ');
  out << text;
  if (!right) out << std::string(fill, ' ');
}

void JsonPlace(TextOutput& out, const PlaceLine& line, PlaceLevel level) {
  out << "\"code\":";
  JsonText(out, line.code);
  out << ",\"name\":";
  JsonText(out, line.name);
  out << ",\"level\":\"" << PlaceLevelName(level) << "\",\"cells\":";
  out.Integer(line.cells);
  out << ",\"km2\":" << Km2(line.km2) << ",\"share\":";
  out << (std::isnan(line.share) ? std::string("null") : ShareNumber(line.share));
  out << ",\"areaKm2\":";
  out << (std::isnan(line.areaKm2) ? std::string("null") : Km2(line.areaKm2));
}

void WriteText(TextOutput& out, const std::vector<PlaceLine>& lines, const PlacesSummary& summary) {
  if (!lines.empty()) {
    size_t codeWidth = 4;
    size_t cellsWidth = 5;
    size_t km2Width = 3;
    size_t shareWidth = 5;
    for (const PlaceLine& line : lines) {
      codeWidth = std::max(codeWidth, Width(line.code));
      cellsWidth = std::max(cellsWidth, std::to_string(line.cells).size());
      km2Width = std::max(km2Width, Km2(line.km2).size());
      shareWidth = std::max(shareWidth, ShareText(line.share).size());
    }
    const auto row = [&](const std::string& code, const std::string& cells, const std::string& km2,
                         const std::string& share, const std::string& name) {
      Pad(out, code, codeWidth, false);
      out << "  ";
      Pad(out, cells, cellsWidth, true);
      out << "  ";
      Pad(out, km2, km2Width, true);
      out << "  ";
      Pad(out, share, shareWidth, true);
      out << "  " << name << '\n';
    };
    row("code", "cells", "km2", "share", "name");
    for (const PlaceLine& line : lines)
      row(line.code, std::to_string(line.cells), Km2(line.km2), ShareText(line.share), line.name);
    out << '\n';
  }
  out << "countries visited: ";
  out.Integer(summary.countries) << '\n' << "states visited: ";
  out.Integer(summary.states) << '\n' << "continents visited: ";
  out.Integer(summary.continents) << '\n' << "at sea or unassigned: ";
  out.Integer(summary.atSea.cells) << " cells, " << Km2(summary.atSea.km2) << " km2\n";
}

// Writes one ring's points as a GeoJSON linear ring (closed), anticlockwise
// when `outer`, with `shift` added to the longitudes.
void JsonRing(TextOutput& out, const RegionShape& shape, size_t ring, bool outer, double shift) {
  const uint32_t from = shape.ringStart[ring];
  const uint32_t count = shape.ringStart[ring + 1] - from;
  const bool anticlockwise =
      RingAreaKm2(shape.lon.data() + from, shape.lat.data() + from, count) > 0;
  const bool reverse = anticlockwise != outer;
  out << '[';
  for (uint32_t k = 0; k <= count; ++k) {
    const uint32_t step = k % count;  // the first point again closes the ring
    const uint32_t p = from + (reverse ? (count - step) % count : step);
    if (k > 0) out << ',';
    out << '[' << FormatFixed(shape.lon[p] + shift, 0, kCoordinateDecimals) << ','
        << FormatFixed(shape.lat[p], 0, kCoordinateDecimals) << ']';
  }
  out << ']';
}

// Writes the polygons of one outline (each outer ring with its holes),
// comma-separated; `first` tells whether one was written before.
void JsonPolygons(TextOutput& out, const RegionShape& shape, bool& first) {
  const std::vector<int32_t> parents = RingParents(shape);
  std::vector<std::vector<size_t>> holes(shape.rings());
  for (size_t k = 0; k < shape.rings(); ++k) {
    if (parents[k] >= 0) holes[size_t(parents[k])].push_back(k);
  }
  for (size_t k = 0; k < shape.rings(); ++k) {
    if (parents[k] >= 0) continue;
    const uint32_t from = shape.ringStart[k];
    const double west =
        *std::min_element(shape.lon.begin() + from, shape.lon.begin() + shape.ringStart[k + 1]);
    const double shift = -360 * std::floor((west + 180) / 360);
    if (!first) out << ',';
    first = false;
    out << '[';
    JsonRing(out, shape, k, true, shift);
    for (size_t hole : holes[k]) {
      out << ',';
      JsonRing(out, shape, hole, false, shift);
    }
    out << ']';
  }
}

}  // namespace

const char* PlaceLevelName(PlaceLevel level) {
  switch (level) {
    case PlaceLevel::kCountry:
      return "country";
    case PlaceLevel::kState:
      return "state";
    case PlaceLevel::kContinent:
      return "continent";
  }
  return "country";
}

std::optional<PlaceLevel> PlaceLevelFromName(const std::string& name) {
  for (PlaceLevel level : {PlaceLevel::kCountry, PlaceLevel::kState, PlaceLevel::kContinent}) {
    if (name == PlaceLevelName(level)) return level;
  }
  return std::nullopt;
}

std::string ShareText(double share) {
  if (std::isnan(share)) return "-";
  const double percent = share * 100;
  if (percent <= 0) return "0%";
  if (percent >= 100) return "100%";
  const int magnitude = int(std::floor(std::log10(percent)));
  const int decimals = std::clamp(2 - magnitude, 1, 12);
  return FormatFixed(percent, 0, decimals) + "%";
}

void WritePlacesTable(TextOutput& out, PlacesFormat format, PlaceLevel level,
                      const std::vector<PlaceLine>& lines, const PlacesSummary& summary) {
  switch (format) {
    case PlacesFormat::kText:
      WriteText(out, lines, summary);
      return;
    case PlacesFormat::kCsv:
      out << "code,name,cells,km2,share\n";
      for (const PlaceLine& line : lines) {
        CsvText(out, line.code);
        out << ',';
        CsvText(out, line.name);
        out << ',';
        out.Integer(line.cells) << ',' << Km2(line.km2) << ',';
        if (!std::isnan(line.share)) out << ShareNumber(line.share);
        out << '\n';
      }
      return;
    case PlacesFormat::kJson:
      out << "{\"level\":\"" << PlaceLevelName(level) << "\",\"places\":[";
      for (size_t k = 0; k < lines.size(); ++k) {
        out << (k == 0 ? "\n{" : ",\n{");
        JsonPlace(out, lines[k], level);
        out << '}';
      }
      out << "\n],\"summary\":{\"countries\":";
      out.Integer(summary.countries) << ",\"states\":";
      out.Integer(summary.states) << ",\"continents\":";
      out.Integer(summary.continents) << ",\"atSea\":{\"cells\":";
      out.Integer(summary.atSea.cells)
          << ",\"km2\":" << Km2(summary.atSea.km2) << "},\"visited\":{\"cells\":";
      out.Integer(summary.total.cells) << ",\"km2\":" << Km2(summary.total.km2) << "}}}\n";
      return;
    case PlacesFormat::kGeoJson:
      return;
  }
}

bool WritePlacesGeoJson(TextOutput& out, PlaceLevel level, const std::vector<PlaceLine>& lines,
                        const std::vector<RegionInfo>& regions, const ShapeSource& shape) {
  out << "{\"type\":\"FeatureCollection\",\"features\":[";
  for (size_t k = 0; k < lines.size(); ++k) {
    const PlaceLine& line = lines[k];
    out << (k == 0 ? "\n" : ",\n") << "{\"type\":\"Feature\",\"properties\":{";
    JsonPlace(out, line, level);
    out << "},\"geometry\":{\"type\":\"MultiPolygon\",\"coordinates\":[";
    std::vector<size_t> parts;
    if (level == PlaceLevel::kContinent) {
      for (size_t r = 0; r < regions.size(); ++r) {
        if (regions[r].level == PlaceLevel::kCountry && regions[r].continent == line.index)
          parts.push_back(r);
      }
    } else if (line.index >= 0) {
      parts.push_back(size_t(line.index));
    }
    bool first = true;
    for (size_t r : parts) {
      const std::shared_ptr<const RegionShape> outline = shape(r);
      if (!outline) return false;
      JsonPolygons(out, *outline, first);
    }
    out << "]}}";
  }
  out << "\n]}\n";
  return true;
}

}  // namespace roamgrid
