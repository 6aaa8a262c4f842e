// The answers of the read-only map tile server (`roamgrid-cli serve`),
// without any network: a request's method, path and If-None-Match in, a
// status, headers and body out. The HTTP itself is the server library's.
//
// Routes:
//   /{z}/{x}/{y}.png  the marks of map tile z/x/y (XYZ scheme), drawn by the
//                     marks renderer; a tile without marks is the one
//                     transparent tile. ETag from the tile's change stamp.
//   /tiles.json       TileJSON 2.2.0 of the layer.
//   /                 the web page (see web_page.h), and the Leaflet files
//                     it names, read once at start.
// Only GET and HEAD are answered (405 otherwise); any other path is 404.
// Numbers in a path are plain decimal digits (no sign, no leading zero),
// so a path never names anything but a tile; nothing a request names is
// ever read from the disk.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "geo/rgb_image.h"

namespace roamgrid {

class MarksMap;

struct HttpAnswer {
  int status = 200;
  std::string contentType;
  std::string body;
  std::string etag;   // with its quotes; empty: none
  std::string allow;  // for 405: the methods allowed
  std::string cacheControl;
};

class TileService {
 public:
  struct Options {
    Rgb colour{255, 0, 0};
    // How old the store's state may be when a tile is asked for: the store
    // is looked at again (MarksMap::Refresh) when it was last looked at
    // longer ago than this.
    std::chrono::milliseconds refreshInterval{1000};
    // The page at "/" and the files it uses, by path ("/leaflet/leaflet.js").
    std::map<std::string, std::pair<std::string, std::string>> files;  // path -> type, bytes
    // The layer's address for tiles.json, such as "http://127.0.0.1:8745".
    std::string origin;
  };

  // `map` is used by the service alone, from one thread.
  TileService(MarksMap& map, Options options);

  // The answer to `method` on `path` (the path as sent, query included).
  // HEAD gets GET's status and headers and an empty body.
  HttpAnswer Answer(const std::string& method, const std::string& path,
                    const std::string& ifNoneMatch);

  // The transparent tile of no marks.
  const std::string& emptyTile() const { return emptyTile_; }

 private:
  HttpAnswer Tile(int z, int x, int y, const std::string& ifNoneMatch);
  HttpAnswer TileJson();
  void RefreshWhenDue();

  MarksMap& map_;
  Options options_;
  std::string emptyTile_;
  std::chrono::steady_clock::time_point lastRefresh_{};
  bool refreshed_ = false;
};

// Reads "{z}/{x}/{y}.png" (the path after its leading "/"): decimal digits
// without a leading zero, z within 0..22, x and y within 0 .. 2^z - 1.
// False for anything else.
bool ParseTilePath(const std::string& path, int& z, int& x, int& y);

}  // namespace roamgrid
