#include "geo/tile_source.h"

#include <algorithm>
#include <cctype>

namespace roamgrid {
namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char want, char have) {
           return std::tolower(static_cast<unsigned char>(have)) == want;
         });
}

std::string Trim(const std::string& text) {
  const char* kSpace = " \t\r\n\f\v";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1) {
    items.push_back(list.substr(start, comma - start));
  }
  items.push_back(list.substr(start));
  return items;
}

}  // namespace

bool ParseTileSource(const std::string& text, TileSource& source, std::string& error) {
  source = TileSource{};
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return true;
  if (!StartsWithNoCase(trimmed, "http://") && !StartsWithNoCase(trimmed, "https://")) {
    source.kind = TileSource::Kind::kMbtiles;
    source.text = trimmed;
    return true;
  }
  std::string url = trimmed;
  std::vector<std::string> subdomains;
  if (const size_t open = url.find("{s:"); open != std::string::npos) {
    const size_t close = url.find('}', open);
    if (close == std::string::npos) {
      error = "unclosed {s: in the tile URL";
      return false;
    }
    subdomains = SplitList(url.substr(open + 3, close - open - 3));
    url.replace(open, close - open + 1, "{s}");
  } else if (url.find("{s}") != std::string::npos) {
    subdomains = {"a", "b", "c"};
  }
  if (std::any_of(subdomains.begin(), subdomains.end(), [](auto& s) { return s.empty(); })) {
    error = "empty name in the {s:...} list of the tile URL";
    return false;
  }
  const bool hasRow = url.find("{y}") != std::string::npos || url.find("{-y}") != std::string::npos;
  if (url.find("{z}") == std::string::npos || url.find("{x}") == std::string::npos || !hasRow) {
    error = "the tile URL needs {z}, {x} and {y}";
    return false;
  }
  source.kind = TileSource::Kind::kUrlTemplate;
  source.text = url;
  source.subdomains = std::move(subdomains);
  return true;
}

std::string TileUrl(const TileSource& source, const MapTileKey& tile) {
  std::string url = source.text;
  ReplaceAll(url, "{z}", std::to_string(tile.zoom));
  ReplaceAll(url, "{x}", std::to_string(tile.x));
  ReplaceAll(url, "{y}", std::to_string(tile.y));
  ReplaceAll(url, "{-y}", std::to_string((1 << tile.zoom) - 1 - tile.y));
  if (!source.subdomains.empty()) {
    const size_t pick = static_cast<size_t>(tile.x + tile.y) % source.subdomains.size();
    ReplaceAll(url, "{s}", source.subdomains[pick]);
  }
  return url;
}

}  // namespace roamgrid
