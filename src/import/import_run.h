// One import of several logs, the same for the CLI and the desktop
// program: the logs (folders expanded) are read in order with one
// recorder, under one progress, and what went wrong is gathered once:
// folders not read, logs not opened or not read whole, tiles that could
// not be used (each named once over the run), saves without the store
// lock, logs that gave no position, GGA of other talkers left unread. The
// front ends only put the outcome into words.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "import/import_report.h"
#include "import/log_folder.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// The LOG that names standard input (only as given, never in a folder).
inline constexpr char kStandardInputLog[] = "-";

// Bytes of the logs of `list` that are regular files (with
// `standardInput`, "-" as given is standard input, counted when it is one);
// others count 0. What a progress runs to.
long long TotalLogBytes(const LogList& list, bool standardInput);

// Whether a log read to its end gave nothing at all: no position and no
// unreadable one, no error, no other talkers. Such a log is named, so that
// a log in a form this program does not read is not taken for an empty one.
bool GaveNoPosition(const ImportReport& report);

// "1 new cell", "N new cells" (0 included).
std::string NewCellsText(long long cells);

// Which tiles were named, so that each tile is named once over a run,
// whichever log met it.
class TilesNamed {
 public:
  // The problems of `problems` whose tile was not named before with the
  // same kind of problem, in order; they count as named from now on.
  std::vector<TileProblem> TakeNew(const std::vector<TileProblem>& problems);

 private:
  std::set<std::pair<TileProblem::Kind, std::string>> named_;
};

// What one log of a run gave, with what the run first learnt from it.
struct LogOutcome {
  std::string path;  // as listed ("-": standard input)
  ImportReport report;
  // The tiles of report.tileProblems that no earlier log of the run met.
  std::vector<TileProblem> newTileProblems;
  // This log's saves were the run's first without the store lock.
  bool firstUnlockedSaves = false;
};

struct ImportSummary {
  std::vector<LogList::FolderProblem> unreadableFolders;
  // Every log tried, in order (files of folders that were no log
  // included, with notRecognised set). Logs after a cancelled one are not
  // tried.
  std::vector<LogOutcome> logs;
  // Tiles the recorder still held at the end and could not use (each not
  // met by a log before).
  std::vector<TileProblem> finalTileProblems;
  long long newCells = 0;
  long long notOpened = 0;
  long long notReadWhole = 0;   // read errors
  long long notRecognised = 0;  // files of folders that were no log
  long long invalidFixes = 0;   // recorded fixes of GGA fix quality 0
  long long tileFailures = 0;   // tiles that lost fixes or cells (unreadable, not saved)
  bool cancelled = false;       // a log was stopped by ImportProgress::Cancelled
  // Whether all went well: every folder listed, every log opened and read
  // to its end, every tile used.
  bool Whole() const {
    return unreadableFolders.empty() && notOpened == 0 && notReadWhole == 0 && tileFailures == 0;
  }
};

// How a front end follows a run.
struct ImportRunHooks {
  // Told of each log (BeginLog) and its bytes, and asked before every log
  // but the first and between blocks whether to stop. Optional, not owned.
  ImportProgress* progress = nullptr;
  // Called after each log, at once, so that a front end can say what it
  // gave while the next is read.
  std::function<void(const LogOutcome&)> logDone;
  // "-" as given is standard input (the CLI's LOG).
  bool standardInput = false;
};

// Reads the logs of `list` in order with `recorder` and `options`
// (onlyLogs is set per log: true for those found in folders; progress is
// hooks.progress). At the end the recorder's tile is released.
ImportSummary ImportLogList(TrackRecorder& recorder, const LogList& list, ImportOptions options,
                            const ImportRunHooks& hooks = {});

}  // namespace roamgrid
