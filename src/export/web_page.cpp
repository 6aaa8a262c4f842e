#include "export/web_page.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/number_text.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "geo/gshhg_store.h"
#include "geo/web_mercator.h"

namespace roamgrid {

namespace {

// No file of the library is larger; a larger one is not read.
constexpr long kMaxLibraryFileBytes = 4 << 20;

// `text` as a JavaScript string literal that is also safe inside a <script>
// element: quotes, backslashes, controls and <, >, & as \u escapes.
std::string JsString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' || c == '\'' || u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// Plain text for an attribution, which the library shows as HTML.
std::string HtmlText(const std::string& text) {
  std::string html;
  for (const char c : text) {
    switch (c) {
      case '&':
        html += "&amp;";
        break;
      case '<':
        html += "&lt;";
        break;
      case '>':
        html += "&gt;";
        break;
      case '"':
        html += "&quot;";
        break;
      default:
        html += c;
    }
  }
  return html;
}

std::string Degrees(double value) { return FormatFixed(value, 0, 6); }

// The file's bytes, at most kMaxLibraryFileBytes; nothing when it cannot be
// read (errno says why).
std::optional<std::string> ReadSmallFile(const std::string& path) {
  FILE* file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  std::string bytes;
  char block[65536];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
    bytes.append(block, got);
    if (long(bytes.size()) > kMaxLibraryFileBytes) {
      std::fclose(file);
      errno = EFBIG;
      return std::nullopt;
    }
  }
  const bool failed = std::ferror(file);
  std::fclose(file);
  if (failed) return std::nullopt;
  return bytes;
}

std::string ContentType(const std::string& name) {
  if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (name.ends_with(".css")) return "text/css; charset=utf-8";
  if (name.ends_with(".png")) return "image/png";
  return "text/plain; charset=utf-8";
}

// A URL template in Leaflet's words: "{-y}" (rows from the south) becomes
// "{y}" with the tms option.
std::string LeafletTemplate(const std::string& url, bool* tms) {
  std::string leaflet = url;
  *tms = false;
  if (const size_t at = leaflet.find("{-y}"); at != std::string::npos) {
    leaflet.replace(at, 4, "{y}");
    *tms = true;
  }
  return leaflet;
}

}  // namespace

std::string LeafletFolder() {
  const char* folder = std::getenv("ROAMGRID_LEAFLET_DIR");
  return folder && *folder ? folder : "/usr/share/javascript/leaflet";
}

const std::vector<std::string>& LeafletFiles() {
  static const std::vector<std::string> files = {"leaflet.js", "leaflet.css", "images/layers.png",
                                                 "images/layers-2x.png"};
  return files;
}

std::string LeafletLicencePath() { return "/usr/share/doc/libjs-leaflet/copyright"; }

std::string WebPageHtml(const WebPageOptions& options) {
  std::string script = "var map = L.map('map', {worldCopyJump: true});\n";
  script += "var bases = {}, overlays = {};\n";
  if (!options.baseUrl.empty()) {
    bool tms = false;
    const std::string url = LeafletTemplate(options.baseUrl, &tms);
    std::string subdomains;
    for (const std::string& s : options.baseSubdomains)
      subdomains += (subdomains.empty() ? "" : ", ") + JsString(s);
    script += "bases['Base map'] = L.tileLayer(" + JsString(url) +
              ", {maxZoom: 22, maxNativeZoom: 19, tms: " + (tms ? "true" : "false") +
              (subdomains.empty() ? "" : ", subdomains: [" + subdomains + "]") +
              ", attribution: " + JsString(HtmlText(options.baseAttribution)) + "}).addTo(map);\n";
  } else if (!options.coastUrl.empty()) {
    script += "bases['Coast'] = L.tileLayer(" + JsString(options.coastUrl) +
              ", {maxZoom: 22, maxNativeZoom: " + std::to_string(options.coastMaxZoom) +
              ", attribution: 'Coast: GSHHG'}).addTo(map);\n";
  }
  script += "overlays['Visited cells'] = L.tileLayer(" + JsString(options.tilesUrl) +
            ", {maxZoom: 22, maxNativeZoom: " + std::to_string(options.tilesMaxZoom) +
            ", attribution: 'Roamgrid'}).addTo(map);\n";
  script += "L.control.layers(bases, overlays, {collapsed: false}).addTo(map);\n";
  // Bounds across 180 degrees: the east edge is given past 180, which the
  // library takes as it is.
  if (options.bounds) {
    const WorldBox& box = *options.bounds;
    script += "map.fitBounds([[" + Degrees(LatitudeOfWorldY(box.south)) + ", " +
              Degrees(LongitudeOfWorldX(box.west)) + "], [" + Degrees(LatitudeOfWorldY(box.north)) +
              ", " +
              Degrees(box.east > 1.0    ? LongitudeOfWorldX(box.east - 1.0) + 360.0
                      : box.east >= 1.0 ? 180.0
                                        : LongitudeOfWorldX(box.east)) +
              "]], {maxZoom: " + std::to_string(options.tilesMaxZoom) + "});\n";
  } else {
    script += "map.fitWorld();\n";
  }
  return R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="referrer" content="no-referrer">
<title>Visited cells</title>
<link rel="stylesheet" href="leaflet/leaflet.css">
<style>html, body, #map { height: 100%; margin: 0; } #map { background: #fff; }</style>
<script src="leaflet/leaflet.js"></script>
</head>
<body>
<div id="map"></div>
<script>
if (typeof L === 'undefined') {
  document.getElementById('map').textContent =
      'The map library (leaflet/leaflet.js) is missing next to this page.';
} else {
)" + script +
         R"(}
</script>
</body>
</html>
)";
}

void AddWebPageFiles(const WebPageOptions& options,
                     std::map<std::string, std::pair<std::string, std::string>>& files) {
  files["/"] = {"text/html; charset=utf-8", WebPageHtml(options)};
  for (const std::string& name : LeafletFiles()) {
    if (std::optional<std::string> bytes = ReadSmallFile(LeafletFolder() + "/" + name))
      files["/leaflet/" + name] = {ContentType(name), std::move(*bytes)};
  }
}

bool WriteWebPage(const std::string& folder, const WebPageOptions& options, std::string& error) {
  const auto write = [&](const std::string& name, const std::string& bytes) {
    const std::string path = folder + "/" + name;
    if (const int failed = CreateParentDirectories(path); failed != 0) {
      error = "cannot create the folder of " + Quoted(path) + ": " + FileErrorText(failed);
      return false;
    }
    ReplacingFile file(path);
    errno = 0;
    if (!file.Open() || !file.Write(bytes.data(), bytes.size()) || !file.Commit()) {
      error = "cannot write " + Quoted(path) + ": " + FileErrorText(errno);
      return false;
    }
    return true;
  };
  const auto copy = [&](const std::string& from, const std::string& name) {
    errno = 0;
    const std::optional<std::string> bytes = ReadSmallFile(from);
    if (!bytes) {
      error = "cannot read " + Quoted(from) + ": " + FileErrorText(errno) +
              " (Debian package libjs-leaflet)";
      return false;
    }
    return write(name, *bytes);
  };
  for (const std::string& name : LeafletFiles())
    if (!copy(LeafletFolder() + "/" + name, "leaflet/" + name)) return false;
  if (!copy(LeafletLicencePath(), "leaflet/LICENSE")) return false;
  return write("index.html", WebPageHtml(options));
}

MapTilesResult ExportWebMap(MarksMap& map, const WebMapRequest& request,
                            const MapTilesProgress& progress) {
  MapTilesResult result = ExportMapTiles(map, request.tiles, progress);
  if (!result.ok) return result;
  const std::string& folder = request.tiles.path;
  WebPageOptions page;
  page.baseUrl = request.baseUrl;
  page.baseSubdomains = request.baseSubdomains;
  page.baseAttribution = request.baseAttribution;
  page.tilesMaxZoom = request.tiles.zoomLast;
  page.bounds = map.MarksBounds();
  if (page.baseUrl.empty()) {
    GshhgStore coast(
        request.gshhgFolder, size_t(24) << 20,
        request.warn ? request.warn : [](const std::string&) {});
    if (coast.ChooseResolution(GshhgLayer::kShore, 0)) {
      const int finest = WriteCoastTiles(coast, folder + "/coast", request.tiles.zoomLast,
                                         page.bounds, result.error);
      if (finest < 0) {
        result.ok = false;
        return result;
      }
      page.coastUrl = "coast/{z}/{x}/{y}.png";
      page.coastMaxZoom = finest;
    }
  }
  result.ok = WriteWebPage(folder, page, result.error);
  return result;
}

}  // namespace roamgrid
