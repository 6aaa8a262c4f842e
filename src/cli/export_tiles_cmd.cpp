// roamgrid-cli export --tiles DIR|FILE.mbtiles: the marks as Web Mercator
// map tiles for other map tools.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "cli/progress_line.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "export/map_tiles_export.h"
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

int WriteMapTiles(MarksMap& map, const MapTilesRequest& request, std::FILE* out,
                  std::FILE* err) {
  ProgressLine line(err, isatty(fileno(err)) == 1, [&](long long tiles, double seconds) {
    std::string text = "export: " + std::to_string(tiles) + " tiles";
    if (seconds > 0) text += ", " + std::to_string((long long)(double(tiles) / seconds)) + "/s";
    return text;
  });
  const MapTilesResult result =
      ExportMapTiles(map, request, [&](int, long long tiles) { line.Show(tiles); });
  line.Erase();
  if (!result.ok) {
    Error(err, "export: " + result.error);
    return kExitFailure;
  }
  Say(out, request.path + ": " + std::to_string(result.tiles) + " tiles");
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

}  // namespace roamgrid
