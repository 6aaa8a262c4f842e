// The map tile source a user chose, as text: an XYZ URL template
// ("https://host/{z}/{x}/{y}.png") or the path of a local MBTiles file.
// Parsing it and building the address of one tile.
#pragma once

#include <string>
#include <vector>

#include "geo/web_mercator.h"

namespace roamgrid {

struct TileSource {
  enum class Kind { kNone, kUrlTemplate, kMbtiles };
  Kind kind = Kind::kNone;
  std::string text;  // the template (with {s:...} reduced to {s}) or the file path
  // Replacements of {s}, spread over the tiles: the list of "{s:a,b,c}", or
  // a, b and c for a plain "{s}".
  std::vector<std::string> subdomains;
};

// Reads a source: empty (after trimming) is none; text beginning "http://"
// or "https://" (any case) is a URL template that must hold {z}, {x} and
// {y} (or {-y}, the row counted from the south); anything else is an
// MBTiles path. Returns false with a short reason in `error` for a bad
// template; `source` is then none.
bool ParseTileSource(const std::string& text, TileSource& source, std::string& error);

// The URL of `tile` from a kUrlTemplate source. Each tile always gets the
// same subdomain, so its cached copy is found again.
std::string TileUrl(const TileSource& source, const MapTileKey& tile);

}  // namespace roamgrid
