// The web page of the marks: one index.html on the Leaflet library that the
// system provides (/usr/share/javascript/leaflet, copied next to the page
// with its licence), so that a folder of it works from any static web host
// or straight from the disk, and `serve` answers it at "/".
//
// The page shows the marks' XYZ tiles as an overlay, over the base map the
// user chose (a tile URL template, with its attribution) when there is one,
// else over pre-rendered coast tiles when there are some; a layer switch
// turns each on and off, and the view opens fitted to the marks. Nothing in
// the page names any server but the base map's: the library, the tiles and
// the coast are addressed relative to the page.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "export/map_tiles_export.h"
#include "geo/rgb_image.h"
#include "map/marks_map.h"

namespace roamgrid {

struct WebPageOptions {
  std::string tilesUrl = "{z}/{x}/{y}.png";  // the marks, relative to the page
  int tilesMaxZoom = 22;                     // the finest zoom the tiles have
  // Base map: an http(s) XYZ URL template ({s}, {z}, {x}, {y}; {-y} is
  // written as Leaflet's {y} with tms) and its attribution (plain text).
  std::string baseUrl;
  std::vector<std::string> baseSubdomains;
  std::string baseAttribution;
  // Pre-rendered coast tiles relative to the page, when there are some.
  std::string coastUrl;
  int coastMaxZoom = 0;
  // The marks to fit on opening; the whole world without.
  std::optional<WorldBox> bounds;
};

// The page's HTML.
std::string WebPageHtml(const WebPageOptions& options);

// Where the library's files are: /usr/share/javascript/leaflet, unless
// ROAMGRID_LEAFLET_DIR names another folder (for tests).
std::string LeafletFolder();
// The library files the page uses, relative to LeafletFolder(): the script,
// its style sheet and the images of its controls.
const std::vector<std::string>& LeafletFiles();
// The library's licence text (Debian's copyright file of the package).
std::string LeafletLicencePath();

// The page at "/" and the library files at "/leaflet/<name>" with their
// content types, read now from the disk, for the tile server. A library
// file that cannot be read is left out (the page then says so).
void AddWebPageFiles(const WebPageOptions& options,
                     std::map<std::string, std::pair<std::string, std::string>>& files);

// Writes index.html, leaflet/<files> and leaflet/LICENSE into `folder`
// (created when missing), each replaced whole. False with the reason in
// `error` when something could not be read or written.
bool WriteWebPage(const std::string& folder, const WebPageOptions& options, std::string& error);

// A whole web map: the marks' tiles of `tiles` (its path a folder), the
// coast tiles in <folder>/coast when there is no base map and the GSHHG
// files in `gshhgFolder` can draw it, and the page.
struct WebMapRequest {
  MapTilesRequest tiles;
  std::string baseUrl;  // an http(s) XYZ template, or empty for none
  std::vector<std::string> baseSubdomains;
  std::string baseAttribution;
  std::string gshhgFolder;
  // Problems of the coast files, one line each (null: not told).
  std::function<void(const std::string&)> warn;
};
// The result counts the marks' tiles; progress is the marks' tiles'.
MapTilesResult ExportWebMap(MarksMap& map, const WebMapRequest& request,
                            const MapTilesProgress& progress = {});

}  // namespace roamgrid
