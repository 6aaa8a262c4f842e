#include "cli/cli_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "cli/import_interrupts.h"
#include "cli/progress_line.h"
#include "cli/store_check.h"
#include "cli/store_merge.h"
#include "cli/store_stats.h"
#include "common/number_text.h"
#include "common/safe_file.h"
#include "common/store_folder.h"
#include "export/bmp_file.h"
#include "export/explorer_geojson.h"
#include "export/export_command.h"
#include "export/region_export.h"
#include "geo/coast_background.h"
#include "geo/gshhg_store.h"
#include "import/log_folder.h"
#include "import/nmea_reader.h"
#include "settings/home_config.h"
#include "tiles/explorer_tiles.h"
#include "tiles/grid_units.h"
#include "tiles/store_lock.h"
#include "tiles/track_recorder.h"
#include "view/navigation.h"
#include "view/render_view.h"
#include "view/view_state.h"

namespace roamgrid {

namespace {

namespace fs = std::filesystem;

constexpr char kProgram[] = "roamgrid-cli";
// The LOG that names standard input.
constexpr char kStandardInput[] = "-";
// A command stopped by a signal exits with 128 + its number, as a shell
// reports a process the signal ended.
constexpr int kExitSignalBase = 128;

void Say(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void Error(std::FILE* err, const std::string& what) {
  Say(err, std::string(kProgram) + ": " + what);
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The farthest origin accepted from --origin: the bound Jump keeps, so the
// view arithmetic stays inside its integers.
constexpr int64_t kOriginLimit = int64_t{kJumpLimitTiles} * kGridPerTile;

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

// Names each tile of `problems` once over the whole import (`named`
// remembers them), with the system's reason. Returns how many of them
// lost fixes or cells (unreadable or not saved).
int ReportTileProblems(const std::vector<TileProblem>& problems,
                       std::set<std::pair<TileProblem::Kind, std::string>>& named, std::FILE* err) {
  int failures = 0;
  for (const TileProblem& problem : problems) {
    if (!named.insert({problem.kind, problem.path}).second) continue;
    const std::string reason = TileProblemReason(problem.error);
    switch (problem.kind) {
      case TileProblem::Kind::kUnreadable:
        ++failures;
        Error(err, "import: cannot read the tile file " + Quoted(problem.path) + ": " + reason +
                       "; its fixes were not recorded (import the log again once it can be read)");
        break;
      case TileProblem::Kind::kNotSaved:
        ++failures;
        Error(err, "import: cannot write the tile file " + Quoted(problem.path) + ": " + reason +
                       "; its new cells are lost");
        break;
      case TileProblem::Kind::kReplacedDamaged:
        Error(err, "import: warning: the tile file " + Quoted(problem.path) +
                       " had a damaged header and was replaced by the new cells");
        break;
    }
  }
  return failures;
}

// ": damaged", or ": cannot be read" with the reason when one is known.
std::string LoadFailureText(const TileLoadFailure& failure) {
  if (failure.result == kDamaged) return ": damaged";
  return failure.error != 0 ? ": cannot be read: " + FileErrorText(failure.error)
                            : ": cannot be read";
}

// An origin cut toward zero to the alignment of `zoomIndex`, as the home
// file's values are.
int32_t AlignTowardZero(int32_t value, int zoomIndex) {
  const int32_t step = AlignmentStep(zoomIndex);
  return value / step * step;
}

// `path` made absolute against the working directory; "-" (standard
// input) and a path that cannot be made absolute stay as they are.
std::string PathFromHere(const std::string& path) {
  if (path == "-") return path;
  std::error_code failed;
  const fs::path absolute = fs::absolute(path, failed);
  return failed ? path : absolute.string();
}

// Names the tiles and folders a walk of the store could not read, for
// `command`; false when there were any.
bool ReportStoreProblems(const StoreStats& stats, const std::string& command, std::FILE* err) {
  for (const std::string& folder : stats.unreadableFolders)
    Error(err, command + ": cannot read the folder " + Quoted(folder));
  if (!stats.notLoadedWhole.empty())
    Error(err, command + ": " + std::to_string(stats.notLoadedWhole.size()) +
                   " tile files could not be loaded whole");
  return stats.unreadableFolders.empty() && stats.notLoadedWhole.empty();
}

// One set of explorer tiles per zoom asked for (the default zooms when
// none), in the order given.
std::vector<ExplorerTileSet> ExplorerSets(const std::vector<int32_t>& zooms) {
  std::vector<ExplorerTileSet> sets;
  if (zooms.empty()) {
    for (int zoom : kDefaultExplorerZooms) sets.emplace_back(zoom);
  } else {
    for (int32_t zoom : zooms) sets.emplace_back(zoom);
  }
  return sets;
}

// Walks the store once, gathering the finest zoom of `sets` from the cells
// and every other from it.
StoreStats CollectWithExplorer(std::vector<ExplorerTileSet>& sets) {
  auto finest = std::max_element(sets.begin(), sets.end(), [](const auto& a, const auto& b) {
    return a.zoom() < b.zoom();
  });
  std::vector<ExplorerTileSet> walked;
  walked.push_back(std::move(*finest));
  StoreStats stats = CollectStoreStats(&walked);
  *finest = std::move(walked.front());
  for (ExplorerTileSet& set : sets)
    if (&set != &*finest) set.AddCoarsened(*finest);
  return stats;
}

// The most tiles `export --explorer --missing` writes: about 200 MB of
// GeoJSON.
constexpr long long kMaxMissingTiles = 1000000;

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
    const long long count = (long long)(range->xLast - range->xFirst + 1) *
                            (long long)(range->yLast - range->yFirst + 1);
    if (args.missing && count > kMaxMissingTiles) {
      Error(err, "export: --bbox holds " + std::to_string(count) + " tiles at zoom " +
                     std::to_string(zoom) + "; --missing writes at most " +
                     std::to_string(kMaxMissingTiles) + " (choose a smaller box or zoom)");
      return kExitUsage;
    }
  }
  std::string reason;
  const PathState state = StatePath(path, &reason);
  if (state == PathState::kUnknown) {
    Error(err, "export: cannot look at " + Quoted(path) + ": " + reason);
    return kExitFailure;
  }
  if (state == PathState::kPresent && args.existing != ExistingFileMode::kOverwrite) {
    Error(err, "export: " + Quoted(path) + " exists; give --overwrite");
    return kExitFailure;
  }
  std::vector<ExplorerTileSet> sets = ExplorerSets(args.explorerZooms);
  const StoreStats stats = CollectWithExplorer(sets);
  const bool wholeStore = ReportStoreProblems(stats, "export", err);
  const ExplorerTileSet& explored = sets.front();

  ExplorerGeoJson file(path, zoom);
  errno = 0;
  if (!file.Open()) {
    Error(err, "export: cannot create " + Quoted(path) + ": " + std::strerror(errno));
    return kExitFailure;
  }
  const auto inRange = [&](ExplorerTile tile) {
    return !range || (tile.x >= range->xFirst && tile.x <= range->xLast &&
                      tile.y >= range->yFirst && tile.y <= range->yLast);
  };
  if (args.missing) {
    for (int32_t y = range->yFirst; y <= range->yLast; ++y)
      for (int32_t x = range->xFirst; x <= range->xLast; ++x)
        if (!explored.Contains({x, y})) file.Add({x, y});
  } else {
    for (ExplorerTile tile : explored.Sorted())
      if (inRange(tile)) file.Add(tile);
  }
  errno = 0;
  if (!file.Commit()) {
    Error(err, "export: writing " + Quoted(path) + " failed: " + std::strerror(errno));
    return kExitFailure;
  }
  Say(out, path);
  return wholeStore ? kExitOk : kExitFailure;
}

}  // namespace

int RunImport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  // A folder stands for the files below it.
  const LogList list = ExpandLogPaths(args.logs);
  long long totalBytes = 0;
  for (const LogList::Log& log : list.logs) {
    std::error_code ignored;
    const auto size = fs::file_size(log.path == kStandardInput ? "/dev/stdin" : log.path, ignored);
    if (!ignored) totalBytes += (long long)size;
  }
  ProgressLine progress(err, totalBytes, isatty(fileno(err)) == 1);
  const ImportInterrupts interrupts;
  TrackRecorder recorder;
  // Tiles a track leaves stay in hand: each is saved once per log.
  recorder.hand.SetLimits(kImportHand);
  ImportOptions options;
  options.anyTalker = args.anyTalker;
  options.strict = args.strict;
  options.connectMetres = args.connectMetres;
  options.maxSpeedKmh = args.maxSpeedKmh;
  if (args.maxAccuracyM) options.maxAccuracyM = *args.maxAccuracyM;
  // The progress line shows the bytes of all logs read so far; a signal
  // stops the reading at its next block.
  struct LineProgress : ImportProgress {
    ProgressLine& line;
    std::FILE* err;
    long long bytesBefore = 0;  // of the logs read before this one
    bool live = false;          // the log is standard input
    LineProgress(ProgressLine& shown, std::FILE* errors) : line(shown), err(errors) {}
    void Advance(long long bytesRead) override { line.Show(bytesBefore + bytesRead); }
    bool Cancelled() override { return ImportInterrupts::Caught() != 0; }
    // A live receiver may run for hours: its user hears at once why
    // nothing is recorded.
    void OtherTalkersMet() override {
      if (!live) return;
      line.Erase();
      Error(err,
            "import: standard input holds GGA sentences of other talkers ($GNGGA, "
            "$GLGGA...) that are not read; --any-talker records them");
    }
    void WaitingForStoreLock(bool waiting) override {
      if (!waiting) return;
      line.Erase();
      Error(err, "import: waiting for the store lock held by another program");
    }
  } lineProgress(progress, err);
  options.progress = &lineProgress;
  long long& bytesBefore = lineProgress.bytesBefore;

  int notOpened = 0;
  int notReadWhole = 0;
  int tileFailures = 0;
  long long notRecognised = 0;
  long long newCells = 0;
  for (const LogList::FolderProblem& folder : list.unreadableFolders) {
    Error(err, "import: cannot read the folder " + Quoted(folder.path) + ": " +
                   std::strerror(folder.error));
  }
  std::set<std::pair<TileProblem::Kind, std::string>> namedTiles;
  bool toldUnlocked = false;  // said once per run
  for (const LogList::Log& entry : list.logs) {
    if (ImportInterrupts::Caught()) break;
    const std::string& log = entry.path;
    ImportReport report;
    options.onlyLogs = entry.inFolder;
    lineProgress.live = log == kStandardInput && !entry.inFolder;
    if (lineProgress.live) {
      ImportLogDescriptor(recorder, STDIN_FILENO, &report, options);
    } else {
      ImportNmeaLog(recorder, log, &report, options);
    }
    progress.Erase();
    tileFailures += ReportTileProblems(report.tileProblems, namedTiles, err);
    if (report.unlockedSaves > 0 && !toldUnlocked) {
      toldUnlocked = true;
      Error(err, "import: warning: no lock can be had on the store folder 'RGD' (" +
                     FileErrorText(report.lockError) +
                     "); tiles were saved without it, so another program saving at the same "
                     "time can lose marks");
    }
    if (!report.opened) {
      ++notOpened;
      Say(out, log + ": cannot open");
      Error(err, "import: cannot open log " + Quoted(log) + ": " + std::strerror(report.openError));
      continue;
    }
    bytesBefore += report.bytesRead;
    if (report.notRecognised) {
      ++notRecognised;
      continue;
    }
    newCells += report.newCells;
    std::string line = log + ": " + std::to_string(report.fixes) +
                       (report.gpx || report.points ? " points, " : " fixes, ") +
                       std::to_string(report.skipped) + " skipped";
    if (report.coarse > 0) {
      char metres[32];
      const auto written = std::to_chars(metres, metres + sizeof metres, options.maxAccuracyM);
      line += ", " + std::to_string(report.coarse) + " less accurate than " +
              std::string(metres, written.ptr) + " m";
    }
    if (args.maxSpeedKmh > 0) line += ", " + std::to_string(report.tooFast) + " too fast";
    if (args.connectMetres > 0) line += ", " + std::to_string(report.lineCells) + " cells on lines";
    Say(out, line + ", " + std::to_string(report.newCells) + " new");
    if (report.readError) {
      ++notReadWhole;
      Error(err, "import: read error in log " + Quoted(log) + " after " +
                     std::to_string(report.bytesRead) + " bytes" +
                     (report.readErrorText.empty() ? "" : ": " + report.readErrorText) +
                     "; the rest of it was not read");
    }
    // Content that yields nothing at all is named, so that a log in a form
    // this program does not read is not taken for an empty one.
    if (report.fixes == 0 && report.skipped == 0 && report.bytesRead > 0 && !report.readError &&
        !report.cancelled && report.otherTalkerGga == 0) {
      Error(err, "import: " + Quoted(log) + ": " + std::to_string(report.bytesRead) +
                     (report.compressed ? " compressed" : "") + " bytes read as " +
                     (report.gpx ? "a GPX document" : "an NMEA log") +
                     " gave no position; nothing was recorded");
    }
    if (report.otherTalkerGga > 0) {
      Error(err, "import: " + Quoted(log) + " holds " + std::to_string(report.otherTalkerGga) +
                     " GGA sentences of other talkers ($GNGGA, $GLGGA...) that were not read; "
                     "--any-talker records them");
    }
  }
  // Every log read to its end has released its tile already; this only
  // matters if one did not.
  ReleaseRecorderTile(recorder);
  progress.Erase();
  tileFailures += ReportTileProblems(recorder.tileProblems, namedTiles, err);
  if (notRecognised > 0) Say(out, std::to_string(notRecognised) + " files not recognised");
  Say(out, "total: " + std::to_string(newCells) + " new cells");
  if (notOpened > 0) {
    Error(err, "import: " + std::to_string(notOpened) + " of " + std::to_string(list.logs.size()) +
                   " logs could not be opened");
  }
  if (const int signal = ImportInterrupts::Caught()) {
    Error(err, std::string("import: stopped by ") + ImportInterrupts::Name(signal) +
                   "; what was read is recorded");
    return kExitSignalBase + signal;
  }
  return notOpened == 0 && notReadWhole == 0 && tileFailures == 0 &&
                 list.unreadableFolders.empty()
             ? kExitOk
             : kExitFailure;
}

int RunExport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  if (!args.explorerZooms.empty()) return RunExplorerExport(args, out, err);
  ViewState view;
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
      return kExitUsage;
    }
    if (std::abs(int64_t{origin.lat}) > kOriginLimit ||
        std::abs(int64_t{origin.lon}) > kOriginLimit) {
      Error(err, "export: --origin values must lie within -" + std::to_string(kOriginLimit) +
                     " to " + std::to_string(kOriginLimit) + " grid units");
      return kExitUsage;
    }
    view.originLat = origin.lat;
    view.originLon = origin.lon;
  } else if (args.center) {
    Jump(view, args.center->latText, args.center->lonText);
  } else if (view.zoomIndex != view.homeZoom) {
    view.originLat = AlignTowardZero(view.originLat, view.zoomIndex);
    view.originLon = AlignTowardZero(view.originLon, view.zoomIndex);
  }

  const std::string path = args.file.value_or(ProposedExportName(view));
  const std::optional<ExportTarget> target = ExportTargetOf(path);
  if (!target) {
    Error(err, "export: " + Quoted(path) + " has no known suffix; known are " +
                   kKnownExportSuffixes);
    return kExitUsage;
  }
  const bool bmp = target->format == ExportFormat::kBmp;
  if (bmp && (args.bbox || args.transparent || args.background != ExportBackground::kNone)) {
    Error(err, "export: a .bmp is always the view as the desktop program exports it; "
               "--bbox, --transparent and --background coast need another format");
    return kExitUsage;
  }
  if (!bmp && args.existing == ExistingFileMode::kMerge) {
    Error(err, "export: --merge works on .bmp images only");
    return kExitUsage;
  }
  if (args.transparent && target->format != ExportFormat::kPng) {
    Error(err, "export: --transparent works on .png images only");
    return kExitUsage;
  }
  if (args.background == ExportBackground::kCoast &&
      (target->format != ExportFormat::kPng || args.bbox)) {
    Error(err, "export: --background coast draws the background of a view into a .png; "
               "it does not go with --bbox or another format");
    return kExitUsage;
  }

  std::string reason;
  const PathState state = StatePath(path, &reason);
  if (state == PathState::kUnknown) {
    Error(err, "export: cannot look at " + Quoted(path) + ": " + reason);
    return kExitFailure;
  }
  const bool exists = state == PathState::kPresent;
  if (exists && args.existing == ExistingFileMode::kRefuse) {
    Error(err, "export: " + Quoted(path) + " exists; give --overwrite" +
                   (bmp ? " or --merge" : ""));
    return kExitFailure;
  }
  if (!bmp) {
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
      DrawCoastBackground(store, view.originLat, view.originLon, view.zoomIndex, background);
      request.background = &background;
    }
    const RegionExportResult result = ExportRegion(path, *target, request);
    if (!result.ok) {
      Error(err, "export: " + result.error);
      return result.error.rfind("the image would be", 0) == 0 ? kExitUsage : kExitFailure;
    }
    Say(out, path);
    return kExitOk;
  }

  std::vector<uint8_t> raster(kRasterSize);
  RebuildView(view, raster.data());
  // What the system said when a file could not be opened or written, as
  // far as errno still tells it.
  const auto why = [](int error) { return error ? ": " + FileErrorText(error) : std::string(); };
  if (exists && args.existing == ExistingFileMode::kMerge) {
    errno = 0;
    const MergeResult merged = MergeIntoImage(path, raster.data());
    const int error = errno;
    switch (merged) {
      case MergeResult::kMerged:
        Say(out, path);
        return kExitOk;
      case MergeResult::kCannotOpenExisting:
        Error(err, "export: cannot open " + Quoted(path) + " to merge into it" + why(error));
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
                       " or put it in place" + why(error) + "; " + Quoted(path) +
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
      Error(err, "export: cannot create " + Quoted(path) + why(error));
      return kExitFailure;
    case ImageWriteResult::kWriteFailed:
      Error(err, "export: writing " + Quoted(path) + " failed" + why(error) +
                     (exists ? "; the old file is left as it was" : ""));
      return kExitFailure;
  }
  return kExitFailure;
}

int RunStats(const CliArgs& args, std::FILE* out, std::FILE* err) {
  std::vector<ExplorerTileSet> explorer = ExplorerSets(args.explorerZooms);
  const StoreStats stats = CollectWithExplorer(explorer);
  Say(out, "tile files: " + std::to_string(stats.tileFiles));
  Say(out, "tiles not loaded whole: " + std::to_string(stats.notLoadedWhole.size()));
  for (const TileLoadFailure& failure : stats.notLoadedWhole)
    Say(out, "  " + failure.path + LoadFailureText(failure));
  Say(out, "visited cells: " + std::to_string(stats.visitedCells));
  Say(out, "visited area: " + FormatFixed(stats.visitedAreaKm2, 0, 6) + " km^2");
  if (stats.visitedBox) {
    const auto degrees = [](int32_t centi) { return FormatFixed(centi / 100.0, 0, 2); };
    const StoreStats::Box& box = *stats.visitedBox;
    Say(out, "bounding box: south " + degrees(box.south) + ", west " + degrees(box.west) +
                 ", north " + degrees(box.north) + ", east " + degrees(box.east));
  } else {
    Say(out, "bounding box: none");
  }
  for (const ExplorerTileSet& set : explorer) {
    const ExplorerSummary summary = set.Summarize();
    const std::string side = std::to_string(summary.maxSquare);
    Say(out, "explorer tiles at zoom " + std::to_string(set.zoom()) + ": " +
                 std::to_string(summary.explored) + ", max square " + side + "x" + side +
                 ", max cluster " + std::to_string(summary.maxCluster));
  }
  return ReportStoreProblems(stats, "stats", err) ? kExitOk : kExitFailure;
}

namespace {

// Why a tile of another store or a conflict copy was not ORed into the
// tile at `tilePath`.
std::string TileMergeProblem(const TileMerge& merge, const std::string& tilePath) {
  const std::string reason = merge.error ? std::string(": ") + std::strerror(merge.error) : "";
  switch (merge.outcome) {
    case TileMerge::Outcome::kSourceUnreadable:
      return "cannot be read" + reason;
    case TileMerge::Outcome::kSourceDamaged:
      return "damaged";
    case TileMerge::Outcome::kTileUnreadable:
      return "the tile file " + Quoted(tilePath) + " cannot be read" + reason;
    case TileMerge::Outcome::kTileDamaged:
      return "the tile file " + Quoted(tilePath) + " is damaged (see check)";
    case TileMerge::Outcome::kNotSaved:
      return "cannot write the tile file " + Quoted(tilePath) + reason;
    case TileMerge::Outcome::kMerged:
    case TileMerge::Outcome::kUnchanged:
      break;
  }
  return {};
}

}  // namespace

int RunMerge(const CliArgs& args, std::FILE* out, std::FILE* err) {
  bool whole = true;
  for (const std::string& store : args.stores) {
    const StoreMergeReport report = MergeStore(store);
    if (!report.refused.empty()) {
      whole = false;
      Error(err, "merge: " + Quoted(store) + " " + report.refused + "; not merged");
      continue;
    }
    for (const std::string& folder : report.unreadableFolders)
      Error(err, "merge: cannot read the folder " + Quoted(folder) + "; its tiles were not merged");
    for (const StoreMergeReport::Problem& problem : report.problems)
      Error(err, "merge: " + Quoted(problem.path) + ": " +
                     TileMergeProblem(problem.merge, problem.tilePath) + "; skipped");
    whole = whole && report.unreadableFolders.empty() && report.problems.empty();
    Say(out, store + ": " + std::to_string(report.tileFiles) + " tile files read, " +
                 std::to_string(report.tilesChanged) + " tiles gained cells, " +
                 std::to_string(report.newCells) + " new cells" +
                 (report.problems.empty() ? ""
                                          : ", " + std::to_string(report.problems.size()) +
                                                " tiles skipped"));
  }
  return whole ? kExitOk : kExitFailure;
}

int RunCheck(const CliArgs& args, std::FILE* out, std::FILE* err) {
  struct SayWait : StoreLockWait {
    std::FILE* err;
    explicit SayWait(std::FILE* stream) : err(stream) {}
    void Waiting(bool waiting) override {
      if (waiting) Error(err, "check: waiting for the store lock held by another program");
    }
  } sayWait(err);
  const ScopedStoreLockWait waitHandler(&sayWait);
  const StoreCheck check = CheckStore(args.clean, args.foldConflicts);
  for (const TileLoadFailure& failure : check.notLoadedWhole)
    Say(out, failure.path + LoadFailureText(failure));
  for (const StoreEntry& odd : check.oddEntries)
    Say(out, odd.path + ": " + odd.what + ", left alone");
  for (const std::string& folder : check.unreadableFolders)
    Say(out, folder + ": folder cannot be read");
  long long removed = 0;
  for (const AbandonedTempFile& temp : check.abandonedTempFiles) {
    Say(out, temp.path + ": abandoned temporary file" + (temp.removed ? ", removed" : ""));
    removed += temp.removed;
    if (temp.error != 0)
      Error(err, "check: cannot remove " + Quoted(temp.path) + ": " + std::strerror(temp.error));
  }
  long long folded = 0;
  for (const ConflictCopyFound& copy : check.conflictCopies) {
    std::string line = copy.path + ": conflict copy of " + copy.tilePath;
    if (copy.folded) {
      line += ", folded (" + std::to_string(copy.merge.newCells) + " new cells)";
      ++folded;
    } else if (args.foldConflicts && copy.removeError == 0) {
      const std::string problem = TileMergeProblem(copy.merge, copy.tilePath);
      line += ", not folded: " + (problem.empty() ? "it changed meanwhile; fold again" : problem);
    }
    Say(out, line);
    if (copy.removeError != 0)
      Error(err, "check: " + Quoted(copy.path) + " was folded into " + Quoted(copy.tilePath) +
                     " but cannot be removed: " + std::strerror(copy.removeError));
  }
  std::string summary = std::to_string(check.tileFiles) + " tile files, " +
                        std::to_string(check.notLoadedWhole.size()) + " not loaded whole, " +
                        std::to_string(check.abandonedTempFiles.size()) +
                        " abandoned temporary files";
  if (args.clean) summary += " (" + std::to_string(removed) + " removed)";
  if (!check.conflictCopies.empty() || args.foldConflicts) {
    summary += ", " + std::to_string(check.conflictCopies.size()) + " conflict copies";
    if (args.foldConflicts) summary += " (" + std::to_string(folded) + " folded)";
  }
  if (!check.unreadableFolders.empty())
    summary += ", " + std::to_string(check.unreadableFolders.size()) + " folders not read";
  if (!check.oddEntries.empty())
    summary += ", " + std::to_string(check.oddEntries.size()) + " other entries left alone";
  Say(out, summary + (check.sound() ? ": the store is sound" : ": problems found"));
  return check.sound() ? kExitOk : kExitFailure;
}

int RunCli(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  const CliParse parse = ParseCliArgs(arguments);
  if (!parse.ok()) {
    Error(err, parse.error);
    return kExitUsage;
  }
  CliArgs args = parse.args;
  if (args.version) {
    Say(out, ROAMGRID_VERSION);
    return kExitOk;
  }
  if (args.help) {
    std::fputs(CliHelpText(args.command).c_str(), out);
    std::fflush(out);
    return kExitOk;
  }
  // The user store folder is not where the user is: relative LOG and FILE
  // paths stay relative to the folder the command was started in. (-C DIR
  // changes there first, so its paths are relative to DIR.)
  if (args.store.userStore) {
    for (std::string& log : args.logs) log = PathFromHere(log);
    for (std::string& store : args.stores) store = PathFromHere(store);
    if (args.file) args.file = PathFromHere(*args.file);
  }
  if (const std::string error = EnterStoreFolder(args.store); !error.empty()) {
    Error(err, error);
    return kExitFailure;
  }
  switch (args.command) {
    case CliCommand::kImport:
      return RunImport(args, out, err);
    case CliCommand::kExport:
      return RunExport(args, out, err);
    case CliCommand::kStats:
      return RunStats(args, out, err);
    case CliCommand::kCheck:
      return RunCheck(args, out, err);
    case CliCommand::kMerge:
      return RunMerge(args, out, err);
    case CliCommand::kNone:
      break;
  }
  return kExitUsage;
}

}  // namespace roamgrid
