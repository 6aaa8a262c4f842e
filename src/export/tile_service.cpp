#include "export/tile_service.h"

#include <cinttypes>
#include <cstdio>

#include "common/number_text.h"
#include "export/map_tiles_export.h"
#include "geo/web_mercator.h"
#include "map/marks_map.h"

namespace roamgrid {

namespace {

// Reads a plain decimal number from text[at..] up to `stop`: digits only, no
// leading zero (but "0"), at most 7 digits (2^22 has 7). Moves `at` past it.
bool ReadNumber(const std::string& text, size_t& at, char stop, int& value) {
  const size_t end = text.find(stop, at);
  if (end == std::string::npos || end == at || end - at > 7) return false;
  if (text[at] == '0' && end - at > 1) return false;
  value = 0;
  for (size_t i = at; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  at = end + 1;
  return true;
}

HttpAnswer Plain(int status, const std::string& text) {
  HttpAnswer answer;
  answer.status = status;
  answer.contentType = "text/plain; charset=utf-8";
  answer.body = text + "\n";
  return answer;
}

}  // namespace

bool ParseTilePath(const std::string& path, int& z, int& x, int& y) {
  size_t at = 0;
  if (!ReadNumber(path, at, '/', z) || !ReadNumber(path, at, '/', x) ||
      !ReadNumber(path, at, '.', y))
    return false;
  if (path.compare(at, std::string::npos, "png") != 0) return false;
  if (z > kMaxMapTileZoom) return false;
  const int64_t tiles = int64_t{1} << z;
  return x < tiles && y < tiles;
}

TileService::TileService(MarksMap& map, Options options) : map_(map), options_(std::move(options)) {
  std::vector<uint8_t> png;
  EncodeMarksTile(MaskImage(kMapTilePixels, kMapTilePixels), options_.colour, png);
  emptyTile_.assign(png.begin(), png.end());
}

void TileService::RefreshWhenDue() {
  const auto now = std::chrono::steady_clock::now();
  if (refreshed_ && now - lastRefresh_ < options_.refreshInterval) return;
  map_.Refresh();
  lastRefresh_ = now;
  refreshed_ = true;
}

HttpAnswer TileService::Answer(const std::string& method, const std::string& rawPath,
                               const std::string& ifNoneMatch) {
  HttpAnswer answer;
  if (method != "GET" && method != "HEAD") {
    answer = Plain(405, "only GET and HEAD");
    answer.allow = "GET, HEAD";
    return answer;
  }
  const std::string path = rawPath.substr(0, rawPath.find('?'));
  int z = 0, x = 0, y = 0;
  if (path.size() > 1 && path[0] == '/' && ParseTilePath(path.substr(1), z, x, y)) {
    answer = Tile(z, x, y, ifNoneMatch);
  } else if (path == "/tiles.json") {
    answer = TileJson();
  } else if (const auto file = options_.files.find(path == "/index.html" ? "/" : path);
             file != options_.files.end()) {
    answer.contentType = file->second.first;
    answer.body = file->second.second;
    answer.cacheControl = "no-cache";
  } else {
    answer = Plain(404, "not found");
  }
  if (method == "HEAD") answer.body.clear();
  return answer;
}

HttpAnswer TileService::Tile(int z, int x, int y, const std::string& ifNoneMatch) {
  RefreshWhenDue();
  HttpAnswer answer;
  // The colour is part of what a tile looks like.
  const uint64_t colour = uint64_t(options_.colour.red) << 16 |
                          uint64_t(options_.colour.green) << 8 | options_.colour.blue;
  char tag[48];
  std::snprintf(tag, sizeof tag, "\"%016" PRIx64 "-%06" PRIx64 "\"", map_.TileStamp(z, x, y),
                colour);
  answer.etag = tag;
  // Clients look again every time and mostly hear "not modified".
  answer.cacheControl = "no-cache";
  if (!ifNoneMatch.empty() &&
      (ifNoneMatch == "*" || ifNoneMatch.find(answer.etag) != std::string::npos)) {
    answer.status = 304;
    return answer;
  }
  answer.contentType = "image/png";
  MaskImage mask;
  std::vector<uint8_t> png;
  if (map_.RenderMarksTile(z, x, y, mask) && EncodeMarksTile(mask, options_.colour, png)) {
    answer.body.assign(png.begin(), png.end());
  } else {
    answer.body = emptyTile_;
  }
  return answer;
}

HttpAnswer TileService::TileJson() {
  RefreshWhenDue();
  HttpAnswer answer;
  answer.contentType = "application/json";
  answer.cacheControl = "no-cache";
  std::string bounds = "[-180,-85.051129,180,85.051129]";
  std::string center;
  if (const std::optional<WorldBox> box = map_.MarksBounds(); box && box->east <= 1.0) {
    const auto d = [](double value) { return FormatFixed(value, 0, 6); };
    const double west = LongitudeOfWorldX(box->west);
    const double east = box->east >= 1.0 ? 180.0 : LongitudeOfWorldX(box->east);
    const double north = LatitudeOfWorldY(box->north), south = LatitudeOfWorldY(box->south);
    bounds = "[" + d(west) + "," + d(south) + "," + d(east) + "," + d(north) + "]";
    center = "[" + d((west + east) / 2) + "," + d((south + north) / 2) + ",2]";
  }
  answer.body =
      "{\"tilejson\":\"2.2.0\",\"name\":\"Roamgrid marks\",\"scheme\":\"xyz\","
      "\"attribution\":\"Roamgrid\",\"minzoom\":0,\"maxzoom\":" +
      std::to_string(kMaxMapTileZoom) + ",\"bounds\":" + bounds +
      (center.empty() ? "" : ",\"center\":" + center) + ",\"tiles\":[\"" + options_.origin +
      "/{z}/{x}/{y}.png\"]}\n";
  return answer;
}

}  // namespace roamgrid
