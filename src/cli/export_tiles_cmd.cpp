// roamgrid-cli export --tiles DIR|FILE.mbtiles: the marks as Web Mercator
// map tiles for other map tools.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "cli/import_interrupts.h"
#include "cli/progress_line.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "export/map_tiles_export.h"
#include "export/web_page.h"
#include "geo/gshhg_store.h"
#include "geo/tile_source.h"
#include "map/marks_map.h"

namespace roamgrid {

namespace {

// The first bytes of every SQLite database file.
constexpr char kSqliteMagic[] = "SQLite format 3";

// Whether the file at `path` is an SQLite database (an earlier export, or
// another MBTiles file), which an export may replace without --overwrite.
bool IsSqliteFile(const std::string& path) {
  FILE* file = OpenRegularFile(path);
  if (!file) return false;
  char head[sizeof kSqliteMagic] = {};
  const bool sqlite = std::fread(head, 1, sizeof head, file) == sizeof head &&
                      std::memcmp(head, kSqliteMagic, sizeof head) == 0;
  std::fclose(file);
  return sqlite;
}

// "export: 1234 tiles, 567/s"
std::string TilesProgressText(long long tiles, double seconds) {
  std::string text = "export: " + std::to_string(tiles) + " tiles";
  if (seconds > 0) text += ", " + std::to_string((long long)(double(tiles) / seconds)) + "/s";
  return text;
}

}  // namespace

MapTilesRequest TilesRequestOf(const CliArgs& args, const std::string& path) {
  MapTilesRequest request;
  request.path = path;
  request.zoomFirst = args.tileZooms->first;
  request.zoomLast = args.tileZooms->second;
  if (args.bbox) {
    const DegreeBox& box = *args.bbox;
    request.box = TileExportBox{box.south, box.west, box.north, box.east};
  }
  if (args.color) {
    const uint32_t rgb = *args.color;
    request.colour = Rgb{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
  }
  return request;
}

namespace {

// Runs `write` (an export given its progress) with a progress line on a
// terminal; names a failure on `err`. SIGINT, SIGTERM or SIGHUP stop it at
// the next tile: the export then removes an MBTiles file it had not
// finished (the old one stays), and the tiles of a folder written so far
// stay. Returns the exit status; `tiles` receives the tiles written.
int WithProgress(const std::function<MapTilesResult(const MapTilesProgress&)>& write,
                 std::FILE* err, long long* tiles) {
  const ImportInterrupts interrupts;
  ProgressLine line(err, isatty(fileno(err)) == 1, ProgressTextFn(TilesProgressText));
  const MapTilesResult result = write([&](int, long long, long long written) {
    line.Show(written);
    return ImportInterrupts::Caught() == 0;
  });
  line.Erase();
  *tiles = result.tiles;
  if (result.ok) return kExitOk;
  if (const int signal = ImportInterrupts::Caught()) {
    Error(err, std::string("export: stopped by ") + ImportInterrupts::Name(signal));
    return kExitSignalBase + signal;
  }
  Error(err, "export: " + result.error);
  return kExitFailure;
}

}  // namespace

int WriteMapTiles(MarksMap& map, const MapTilesRequest& request, std::FILE* out, std::FILE* err) {
  long long tiles = 0;
  const int status = WithProgress(
      [&](const MapTilesProgress& progress) { return ExportMapTiles(map, request, progress); },
      err, &tiles);
  if (status != kExitOk) return status;
  Say(out, request.path + ": " + std::to_string(tiles) + " tiles");
  return kExitOk;
}

int RunTilesExport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  const std::string& path = *args.tiles;
  if (IsMbTilesPath(path) && args.existing != ExistingFileMode::kOverwrite) {
    struct stat info;
    if (StatFollowingLinks(path, &info) == 0 && !IsSqliteFile(path)) {
      Error(err, "export: " + Quoted(path) +
                     " exists and is no MBTiles file; give --overwrite to replace it");
      return kExitFailure;
    }
  }
  MarksMap map;
  map.Refresh();
  return WriteMapTiles(map, TilesRequestOf(args, path), out, err);
}

namespace {

// The value of `key` in section `section` of the desktop program's settings
// file (an INI file of the toolkit: a value with special characters is
// quoted, with backslash escapes); nothing when absent.
std::optional<std::string> DesktopSetting(const std::string& section, const std::string& key) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string base = config && config[0] == '/' ? config : "";
  if (base.empty() && home && home[0] == '/') base = std::string(home) + "/.config";
  if (base.empty()) return std::nullopt;
  FILE* file = OpenRegularFile(base + "/roamgrid/settings.ini");
  if (!file) return std::nullopt;
  std::optional<std::string> found;
  std::string current;
  char line[4096];
  // A settings file is small; the lines past a bound are not read.
  for (int lines = 0; lines < 10000 && std::fgets(line, sizeof line, file); ++lines) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.size() > 1 && text.front() == '[' && text.back() == ']') {
      current = text.substr(1, text.size() - 2);
      continue;
    }
    const size_t equals = text.find('=');
    if (current != section || equals == std::string::npos || text.substr(0, equals) != key)
      continue;
    std::string value = text.substr(equals + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      std::string plain;
      for (size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size()) ++i;
        plain += value[i];
      }
      value = plain;
    }
    found = value;
  }
  std::fclose(file);
  return found;
}

}  // namespace

int RunWebExport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  const std::string& folder = *args.web;
  WebPageOptions page;
  // The base map: --base-map, else the desktop program's tile source.
  std::string baseText = args.baseMap.value_or(DesktopSetting("map", "tileSource").value_or(""));
  std::string attribution = args.baseMap ? args.attribution.value_or("")
                                         : DesktopSetting("map", "tileAttribution").value_or("");
  if (baseText == "none") baseText.clear();
  if (!baseText.empty()) {
    TileSource source;
    std::string why;
    if (!ParseTileSource(baseText, source, why) || source.kind != TileSource::Kind::kUrlTemplate) {
      const std::string reason = why.empty() ? "a web page needs an http(s) URL template" : why;
      if (args.baseMap) {
        Error(err, "export: --base-map " + Quoted(baseText) + ": " + reason);
        return kExitUsage;
      }
      Error(err, "export: the tile source of the desktop program (" + Quoted(baseText) +
                     ") is not used: " + reason);
    } else {
      page.baseUrl = source.text;
      page.baseSubdomains = source.subdomains;
      page.baseAttribution = attribution;
    }
  }
  MarksMap map;
  map.Refresh();
  WebMapRequest request;
  request.tiles = TilesRequestOf(args, folder);
  request.baseUrl = page.baseUrl;
  request.baseSubdomains = page.baseSubdomains;
  request.baseAttribution = page.baseAttribution;
  request.gshhgFolder = GshhgFolderFromEnvironment();
  request.warn = [&](const std::string& problem) { Error(err, "export: " + problem); };
  long long tiles = 0;
  const int status = WithProgress(
      [&](const MapTilesProgress& progress) { return ExportWebMap(map, request, progress); }, err,
      &tiles);
  if (status != kExitOk) return status;
  Say(out, folder + ": " + std::to_string(tiles) + " tiles");
  Say(out, folder + "/index.html");
  return kExitOk;
}

}  // namespace roamgrid
