#include "cli/cli_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "cli/import_interrupts.h"
#include "cli/progress_line.h"
#include "cli/store_check.h"
#include "cli/store_stats.h"
#include "common/number_text.h"
#include "common/safe_file.h"
#include "common/store_folder.h"
#include "export/bmp_file.h"
#include "export/export_command.h"
#include "import/nmea_reader.h"
#include "settings/home_config.h"
#include "tiles/grid_units.h"
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

}  // namespace

int RunImport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  long long totalBytes = 0;
  for (const std::string& log : args.logs) {
    std::error_code ignored;
    const auto size = fs::file_size(log == kStandardInput ? "/dev/stdin" : log, ignored);
    if (!ignored) totalBytes += (long long)size;
  }
  ProgressLine progress(err, totalBytes, isatty(fileno(err)) == 1);
  const ImportInterrupts interrupts;
  TrackRecorder recorder;
  ImportOptions options;
  options.anyTalker = args.anyTalker;
  options.strict = args.strict;
  options.connectMetres = args.connectMetres;
  options.maxSpeedKmh = args.maxSpeedKmh;
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
  } lineProgress(progress, err);
  options.progress = &lineProgress;
  long long& bytesBefore = lineProgress.bytesBefore;

  int notOpened = 0;
  int notReadWhole = 0;
  int tileFailures = 0;
  std::set<std::pair<TileProblem::Kind, std::string>> namedTiles;
  for (const std::string& log : args.logs) {
    if (ImportInterrupts::Caught()) break;
    ImportReport report;
    lineProgress.live = log == kStandardInput;
    if (log == kStandardInput) {
      ImportLogDescriptor(recorder, STDIN_FILENO, &report, options);
    } else {
      ImportNmeaLog(recorder, log, &report, options);
    }
    progress.Erase();
    tileFailures += ReportTileProblems(report.tileProblems, namedTiles, err);
    if (!report.opened) {
      ++notOpened;
      Say(out, log + ": cannot open");
      Error(err, "import: cannot open log " + Quoted(log) + ": " + std::strerror(report.openError));
      continue;
    }
    Say(out,
        log + ": " + std::to_string(report.fixes) + (report.gpx ? " points, " : " fixes, ") +
            std::to_string(report.skipped) + " skipped" +
            (args.maxSpeedKmh > 0 ? ", " + std::to_string(report.tooFast) + " too fast" : "") +
            (args.connectMetres > 0 ? ", " + std::to_string(report.lineCells) + " cells on lines"
                                    : ""));
    if (report.readError) {
      ++notReadWhole;
      Error(err, "import: read error in log " + Quoted(log) + " after " +
                     std::to_string(report.bytesRead) + " bytes" +
                     (report.readErrorText.empty() ? "" : ": " + report.readErrorText) +
                     "; the rest of it was not read");
    }
    if (report.otherTalkerGga > 0) {
      Error(err, "import: " + Quoted(log) + " holds " + std::to_string(report.otherTalkerGga) +
                     " GGA sentences of other talkers ($GNGGA, $GLGGA...) that were not read; "
                     "--any-talker records them");
    }
    bytesBefore += report.bytesRead;
  }
  // Every log read to its end has released its tile already; this only
  // matters if one did not.
  ReleaseRecorderTile(recorder);
  progress.Erase();
  tileFailures += ReportTileProblems(recorder.tileProblems, namedTiles, err);
  if (notOpened > 0) {
    Error(err, "import: " + std::to_string(notOpened) + " of " + std::to_string(args.logs.size()) +
                   " logs could not be opened");
  }
  if (const int signal = ImportInterrupts::Caught()) {
    Error(err, std::string("import: stopped by ") + ImportInterrupts::Name(signal) +
                   "; what was read is recorded");
    return kExitSignalBase + signal;
  }
  return notOpened == 0 && notReadWhole == 0 && tileFailures == 0 ? kExitOk : kExitFailure;
}

int RunExport(const CliArgs& args, std::FILE* out, std::FILE* err) {
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

  std::vector<uint8_t> raster(kRasterSize);
  RebuildView(view, raster.data());
  const std::string path = args.file.value_or(ProposedExportName(view));

  std::string reason;
  const PathState state = StatePath(path, &reason);
  if (state == PathState::kUnknown) {
    Error(err, "export: cannot look at " + Quoted(path) + ": " + reason);
    return kExitFailure;
  }
  const bool exists = state == PathState::kPresent;
  if (exists && args.existing == ExistingFileMode::kRefuse) {
    Error(err, "export: " + Quoted(path) + " exists; give --overwrite or --merge");
    return kExitFailure;
  }
  // What the system said when a file could not be opened or written, as
  // far as errno still tells it.
  const auto why = [](int error) { return error ? std::string(": ") + std::strerror(error) : ""; };
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

int RunStats(std::FILE* out, std::FILE* err) {
  const StoreStats stats = CollectStoreStats();
  Say(out, "tile files: " + std::to_string(stats.tileFiles));
  Say(out, "tiles not loaded whole: " + std::to_string(stats.notLoadedWhole.size()));
  for (const TileLoadFailure& failure : stats.notLoadedWhole)
    Say(out, "  " + failure.path + (failure.result == kDamaged ? ": damaged" : ": cannot be read"));
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
  for (const std::string& folder : stats.unreadableFolders)
    Error(err, "stats: cannot read the folder " + Quoted(folder));
  if (!stats.notLoadedWhole.empty())
    Error(err, "stats: " + std::to_string(stats.notLoadedWhole.size()) +
                   " tile files could not be loaded whole");
  return stats.unreadableFolders.empty() && stats.notLoadedWhole.empty() ? kExitOk : kExitFailure;
}

int RunCheck(const CliArgs& args, std::FILE* out, std::FILE* err) {
  const StoreCheck check = CheckStore(args.clean);
  for (const TileLoadFailure& failure : check.notLoadedWhole)
    Say(out, failure.path + (failure.result == kDamaged ? ": damaged" : ": cannot be read"));
  for (const std::string& folder : check.unreadableFolders)
    Say(out, folder + ": folder cannot be read");
  long long removed = 0;
  for (const AbandonedTempFile& temp : check.abandonedTempFiles) {
    Say(out, temp.path + ": abandoned temporary file" + (temp.removed ? ", removed" : ""));
    removed += temp.removed;
    if (temp.error != 0)
      Error(err, "check: cannot remove " + Quoted(temp.path) + ": " + std::strerror(temp.error));
  }
  std::string summary = std::to_string(check.tileFiles) + " tile files, " +
                        std::to_string(check.notLoadedWhole.size()) + " not loaded whole, " +
                        std::to_string(check.abandonedTempFiles.size()) +
                        " abandoned temporary files";
  if (args.clean) summary += " (" + std::to_string(removed) + " removed)";
  if (!check.unreadableFolders.empty())
    summary += ", " + std::to_string(check.unreadableFolders.size()) + " folders not read";
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
      return RunStats(out, err);
    case CliCommand::kCheck:
      return RunCheck(args, out, err);
    case CliCommand::kNone:
      break;
  }
  return kExitUsage;
}

}  // namespace roamgrid
