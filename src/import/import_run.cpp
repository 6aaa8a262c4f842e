#include "import/import_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include "import/log_import.h"
#include "import/nmea_reader.h"

namespace roamgrid {

long long TotalLogBytes(const LogList& list, bool standardInput) {
  long long total = 0;
  for (const LogList::Log& log : list.logs) {
    struct stat status;
    const bool input = standardInput && !log.inFolder && log.path == kStandardInputLog;
    const int got = input ? fstat(STDIN_FILENO, &status) : stat(log.path.c_str(), &status);
    if (got == 0 && S_ISREG(status.st_mode)) total += status.st_size;
  }
  return total;
}

bool GaveNoPosition(const ImportReport& report) {
  return report.opened && !report.notRecognised && report.fixes == 0 && report.skipped == 0 &&
         report.bytesRead > 0 && !report.readError && !report.cancelled &&
         report.otherTalkerGga == 0;
}

std::string NewCellsText(long long cells) {
  return std::to_string(cells) + (cells == 1 ? " new cell" : " new cells");
}

std::vector<TileProblem> TilesNamed::TakeNew(const std::vector<TileProblem>& problems) {
  std::vector<TileProblem> fresh;
  for (const TileProblem& problem : problems)
    if (named_.insert({problem.kind, problem.path}).second) fresh.push_back(problem);
  return fresh;
}

ImportSummary ImportLogList(TrackRecorder& recorder, const LogList& list, ImportOptions options,
                            const ImportRunHooks& hooks) {
  ImportSummary summary;
  summary.unreadableFolders = list.unreadableFolders;
  ImportProgress* const progress = hooks.progress;
  options.progress = progress;
  TilesNamed named;
  const auto takeNew = [&](const std::vector<TileProblem>& problems) {
    std::vector<TileProblem> fresh = named.TakeNew(problems);
    for (const TileProblem& problem : fresh)
      if (problem.kind != TileProblem::Kind::kReplacedDamaged) ++summary.tileFailures;
    return fresh;
  };
  bool unlockedSaid = false;
  for (size_t i = 0; i < list.logs.size(); ++i) {
    // Cancel pressed during the last block of a log stops before the next.
    if (i > 0 && progress && progress->Cancelled()) break;
    const LogList::Log& log = list.logs[i];
    if (progress) progress->BeginLog(i, list.logs.size(), log.path);
    LogOutcome& outcome = summary.logs.emplace_back();
    outcome.path = log.path;
    options.onlyLogs = log.inFolder;
    ImportReport& report = outcome.report;
    if (hooks.standardInput && !log.inFolder && log.path == kStandardInputLog) {
      ImportLogDescriptor(recorder, STDIN_FILENO, &report, options);
    } else {
      ImportNmeaLog(recorder, log.path, &report, options);
    }
    outcome.newTileProblems = takeNew(report.tileProblems);
    if (report.unlockedSaves > 0 && !unlockedSaid) {
      unlockedSaid = true;
      outcome.firstUnlockedSaves = true;
    }
    summary.notOpened += !report.opened;
    summary.notReadWhole += report.opened && report.readError;
    summary.notRecognised += report.notRecognised;
    summary.newCells += report.newCells;
    summary.invalidFixes += report.invalidFixes;
    if (hooks.logDone) hooks.logDone(outcome);
    if (report.cancelled) {
      summary.cancelled = true;
      break;  // its tile is released already
    }
  }
  // Every log read has released its tile already; this only matters if one
  // did not.
  ReleaseRecorderTile(recorder);
  summary.finalTileProblems = takeNew(recorder.tileProblems);
  recorder.tileProblems.clear();
  return summary;
}

}  // namespace roamgrid
