// roamgrid-cli export: a view as BMP (new or merged), any region in the
// formats of the export table, or the explorer tiles of one zoom as
// GeoJSON.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "cli/places_cmd.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "export/bmp_file.h"
#include "export/explorer_geojson.h"
#include "export/export_command.h"
#include "export/region_export.h"
#include "geo/coast_background.h"
#include "geo/gshhg_store.h"
#include "home/home_config.h"
#include "store/explorer_tiles.h"
#include "store/store_stats.h"
#include "tiles/grid_units.h"
#include "view/navigation.h"
#include "view/render_view.h"
#include "view/view_state.h"

namespace roamgrid {

namespace {

// The farthest origin accepted from --origin: the bound Jump keeps, so the
// view arithmetic stays inside its integers.
constexpr int64_t kOriginLimit = int64_t{kJumpLimitTiles} * kGridPerTile;

// The most tiles `export --explorer --missing` writes: about 200 MB of
// GeoJSON.
constexpr long long kMaxMissingTiles = 1000000;

// What stands at `path`, its links followed (a dangling link names a file
// yet to be made): nothing, something, or unknown (the reason in `error`).
enum class PathState { kAbsent, kPresent, kUnknown };
PathState StatePath(const std::string& path, std::string* error) {
  struct stat info;
  if (StatFollowingLinks(path, &info) == 0) return PathState::kPresent;
  if (errno == ENOENT) return PathState::kAbsent;
  *error = std::strerror(errno);
  return PathState::kUnknown;
}

// Whether FILE may be written: it is absent, or `existing` allows it.
// Otherwise says why (exit status in `status`).
bool MayWrite(const std::string& path, ExistingFileMode existing, bool bmp, bool* present,
              int* status, std::FILE* err) {
  std::string reason;
  const PathState state = StatePath(path, &reason);
  if (state == PathState::kUnknown) {
    Error(err, "export: cannot look at " + Quoted(path) + ": " + reason);
    *status = kExitFailure;
    return false;
  }
  *present = state == PathState::kPresent;
  if (*present && existing == ExistingFileMode::kRefuse) {
    Error(err,
          "export: " + Quoted(path) + " exists; give --overwrite" + (bmp ? " or --merge" : ""));
    *status = kExitFailure;
    return false;
  }
  return true;
}

// An origin cut toward zero to the alignment of `zoomIndex`, as the home
// file's values are.
int32_t AlignTowardZero(int32_t value, int zoomIndex) {
  const int32_t step = AlignmentStep(zoomIndex);
  return value / step * step;
}

// export --explorer Z [--missing --bbox S,W,N,E] FILE: the explored (or,
// with --missing, the unexplored) tiles of one zoom as GeoJSON.
int RunExplorerExport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  const int zoom = args.explorerZooms.front();
  const std::string& path = *args.file;
  std::optional<ExplorerTileRange> range;
  if (args.bbox) {
    const DegreeBox& box = *args.bbox;
    range = ExplorerTilesInBox(zoom, box.south, box.west, box.north, box.east);
    if (!range) {
      Error(err, "export: --bbox lies outside the Web Mercator tiles (85.05 S to 85.05 N)");
      return kExitUsage;
    }
    const long long count =
        range->ColumnCount(zoom) * (long long)(range->yLast - range->yFirst + 1);
    if (args.missing && count > kMaxMissingTiles) {
      Error(err, "export: --bbox holds " + std::to_string(count) + " tiles at zoom " +
                     std::to_string(zoom) + "; --missing writes at most " +
                     std::to_string(kMaxMissingTiles) + " (choose a smaller box or zoom)");
      return kExitUsage;
    }
  }
  bool present = false;
  int status = kExitOk;
  if (!MayWrite(path, args.existing, false, &present, &status, err)) return status;
  std::vector<ExplorerTileSet> sets = ExplorerTileSets(args.explorerZooms);
  const StoreStats stats = CollectStoreStatsWithExplorer(sets);
  const bool wholeStore = ReportStoreProblems(stats, "export", err);
  const ExplorerTileSet& explored = sets.front();

  ExplorerGeoJson file(path, zoom);
  errno = 0;
  if (!file.Open()) {
    Error(err, "export: cannot create " + Quoted(path) + ": " + FileErrorText(errno));
    return kExitFailure;
  }
  const auto inRange = [&](ExplorerTile tile) {
    return !range ||
           (range->HasColumn(tile.x) && tile.y >= range->yFirst && tile.y <= range->yLast);
  };
  if (args.missing) {
    const int64_t columns = range->ColumnCount(zoom);
    const int64_t worldColumns = int64_t{1} << zoom;
    for (int32_t y = range->yFirst; y <= range->yLast; ++y) {
      for (int64_t i = 0; i < columns; ++i) {
        const int32_t x = int32_t((range->xFirst + i) % worldColumns);
        if (!explored.Contains({x, y})) file.Add({x, y});
      }
    }
  } else {
    for (ExplorerTile tile : explored.Sorted())
      if (inRange(tile)) file.Add(tile);
  }
  errno = 0;
  if (!file.Commit()) {
    Error(err, "export: writing " + Quoted(path) + " failed: " + FileErrorText(errno));
    return kExitFailure;
  }
  Say(out, path);
  return wholeStore ? kExitOk : kExitFailure;
}

// The view of the export: the home position (Roamgrid.cfg, else the
// built-in home), then --zoom, --origin or --center. False on a usage
// error, which it names.
bool PlaceView(const CliArgs& args, ViewState& view, std::FILE* err) {
  int homeError = 0;
  if (!LoadHomeConfig(view, &homeError)) {
    std::string ignored;
    if (homeError != 0) {
      Error(err, std::string("export: ") + kHomeConfigPath +
                     " cannot be read: " + std::strerror(homeError) + "; using the built-in home");
    } else if (StatePath(kHomeConfigPath, &ignored) == PathState::kPresent) {
      Error(err, std::string("export: ") + kHomeConfigPath +
                     " is not a valid home file; using the built-in home");
    }
  }
  GoHome(view);
  if (args.zoom) view.zoomIndex = *args.zoom;
  if (args.origin) {
    const GridPoint origin = *args.origin;
    const int32_t step = AlignmentStep(view.zoomIndex);
    if (origin.lat % step != 0 || origin.lon % step != 0) {
      Error(err, "export: --origin " + std::to_string(origin.lat) + "," +
                     std::to_string(origin.lon) + " does not suit zoom " +
                     std::to_string(view.zoomIndex) + ": both values must be multiples of " +
                     std::to_string(step));
      return false;
    }
    if (std::abs(int64_t{origin.lat}) > kOriginLimit ||
        std::abs(int64_t{origin.lon}) > kOriginLimit) {
      Error(err, "export: --origin values must lie within -" + std::to_string(kOriginLimit) +
                     " to " + std::to_string(kOriginLimit) + " grid units");
      return false;
    }
    view.originLat = origin.lat;
    view.originLon = origin.lon;
  } else if (args.center) {
    Jump(view, args.center->latText, args.center->lonText);
  } else if (view.zoomIndex != view.homeZoom) {
    view.originLat = AlignTowardZero(view.originLat, view.zoomIndex);
    view.originLon = AlignTowardZero(view.originLon, view.zoomIndex);
  }
  return true;
}

// Whether the options go with the format of FILE; names what does not.
bool OptionsSuit(const CliArgs& args, const ExportTarget& target, std::FILE* err) {
  const bool bmp = target.format == ExportFormat::kBmp;
  if (bmp && (args.bbox || args.transparent || args.background != ExportBackground::kNone)) {
    Error(err,
          "export: a .bmp is always the view as the desktop program exports it; "
          "--bbox, --transparent and --background coast need another format");
    return false;
  }
  if (!bmp && args.existing == ExistingFileMode::kMerge) {
    Error(err, "export: --merge works on .bmp images only");
    return false;
  }
  if (args.transparent && target.format != ExportFormat::kPng) {
    Error(err, "export: --transparent works on .png images only");
    return false;
  }
  if (args.background == ExportBackground::kCoast &&
      (target.format != ExportFormat::kPng || args.bbox)) {
    Error(err,
          "export: --background coast draws the background of a view into a .png; "
          "it does not go with --bbox or another format");
    return false;
  }
  return true;
}

// Every format but BMP: the view, or --bbox, through ExportRegion.
int ExportRegionFile(const CliArgs& args, const ViewState& view, const std::string& path,
                     const ExportTarget& target, std::FILE* out, std::FILE* err) {
  RegionExportRequest request;
  if (args.bbox) {
    const DegreeBox& box = *args.bbox;
    std::string why;
    request.region = DegreeBoxCells(box.south, box.west, box.north, box.east, &why);
    if (!why.empty()) {
      Error(err, "export: --bbox: " + why);
      return kExitUsage;
    }
    request.zoom = args.zoom.value_or(0);
  } else {
    request.region = ViewCellRegion(view);
    request.zoom = view.zoomIndex;
  }
  request.transparent = args.transparent;
  RgbImage background;
  if (args.background == ExportBackground::kCoast) {
    const std::string folder = GshhgFolderFromEnvironment();
    GshhgStore store(folder, size_t(24) << 20,
                     [&](const std::string& problem) { Error(err, "export: " + problem); });
    if (!store.ChooseResolution(GshhgLayer::kShore, view.zoomIndex)) {
      Error(err, "export: no coastline data in " + Quoted(folder) +
                     " (Debian package gmt-gshhg-low or gmt-gshhg-high)");
      return kExitFailure;
    }
    background = RgbImage(kRasterSide, kRasterSide);
    // A picture without the coast it was asked for is no export: the
    // store has said why on standard error.
    if (!DrawCoastBackground(store, view.originLat, view.originLon, view.zoomIndex, background)
             .filled) {
      Error(err, "export: the coast background cannot be drawn from " + Quoted(folder) +
                     "; nothing written");
      return kExitFailure;
    }
    request.background = &background;
  }
  const RegionExportResult result = ExportRegion(path, target, request);
  if (!result.ok) {
    Error(err, "export: " + result.error);
    return result.error.rfind("the image would be", 0) == 0 ? kExitUsage : kExitFailure;
  }
  Say(out, path);
  return kExitOk;
}

// What the system said when a file could not be opened or written, as far
// as errno still tells it.
std::string Why(int error) { return error ? ": " + FileErrorText(error) : std::string(); }

// The view as a BMP: merged into an existing image (--merge) or new.
int ExportBmpFile(ViewState& view, const std::string& path, bool merge, bool present,
                  std::FILE* out, std::FILE* err) {
  std::vector<uint8_t> raster(kRasterSize);
  RebuildView(view, raster.data());
  if (present && merge) {
    errno = 0;
    const MergeResult merged = MergeIntoImage(path, raster.data());
    const int error = errno;
    switch (merged) {
      case MergeResult::kMerged:
        Say(out, path);
        return kExitOk;
      case MergeResult::kCannotOpenExisting:
        Error(err, "export: cannot open " + Quoted(path) + " to merge into it" + Why(error));
        return kExitFailure;
      case MergeResult::kForeignHeader:
        Error(err, "export: " + Quoted(path) + ": " + kCannotMergeText +
                       " (not a 448 x 448 24-bit image as exported); left as it was");
        return kExitFailure;
      case MergeResult::kReadFailed:
        Error(err, "export: reading " + Quoted(path) + " failed part-way; left as it was");
        return kExitFailure;
      case MergeResult::kBackupTaken:
        Error(err, "export: " + Quoted(path) + ": " + kCannotMergeText + " (" +
                       Quoted(path + ".bk") +
                       " holds a link or a file that may not be replaced); left as it was");
        return kExitFailure;
      case MergeResult::kWriteFailed:
        Error(err, "export: cannot write the merged image " + Quoted(path + ".bk") +
                       " or put it in place" + Why(error) + "; " + Quoted(path) +
                       " left as it was");
        return kExitFailure;
    }
    return kExitFailure;
  }
  errno = 0;
  const ImageWriteResult written = WriteNewImage(path, raster.data());
  const int error = errno;
  switch (written) {
    case ImageWriteResult::kWritten:
      Say(out, path);
      return kExitOk;
    case ImageWriteResult::kCannotOpen:
      Error(err, "export: cannot create " + Quoted(path) + Why(error));
      return kExitFailure;
    case ImageWriteResult::kWriteFailed:
      Error(err, "export: writing " + Quoted(path) + " failed" + Why(error) +
                     (present ? "; the old file is left as it was" : ""));
      return kExitFailure;
  }
  return kExitFailure;
}

}  // namespace

int RunExport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  if (args.placesFile) return RunPlacesExport(args, out, err);
  if (!args.explorerZooms.empty()) return RunExplorerExport(args, out, err);
  if (args.tiles) return RunTilesExport(args, out, err);
  if (args.web) return RunWebExport(args, out, err);
  ViewState view;
  if (!PlaceView(args, view, err)) return kExitUsage;
  const std::string path = args.file.value_or(ProposedExportName(view));
  const std::optional<ExportTarget> target = ExportTargetOf(path);
  if (!target) {
    Error(err,
          "export: " + Quoted(path) + " has no known suffix; known are " + KnownExportSuffixes());
    return kExitUsage;
  }
  if (!OptionsSuit(args, *target, err)) return kExitUsage;
  const bool bmp = target->format == ExportFormat::kBmp;
  bool present = false;
  int status = kExitOk;
  if (!MayWrite(path, args.existing, bmp, &present, &status, err)) return status;
  if (!bmp) return ExportRegionFile(args, view, path, *target, out, err);
  return ExportBmpFile(view, path, args.existing == ExistingFileMode::kMerge, present, out, err);
}

}  // namespace roamgrid
