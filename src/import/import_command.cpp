#include "import/import_command.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "import/import_progress.h"
#include "import/import_run.h"
#include "import/input_formats.h"
#include "import/log_folder.h"

namespace roamgrid {
namespace {

// The last component of a log's path: the dialog gives full paths, and the
// box has room for names.
std::string FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ": reason" for an errno, nothing for 0.
std::string Reason(int error) { return error == 0 ? "" : ": " + std::string(std::strerror(error)); }

std::string TileProblemLine(const TileProblem& problem) {
  switch (problem.kind) {
    case TileProblem::Kind::kUnreadable:
      return "Can not Read " + problem.path + ": " + TileProblemReason(problem.error);
    case TileProblem::Kind::kNotSaved:
      return "Can not Save " + problem.path + ": " + TileProblemReason(problem.error);
    case TileProblem::Kind::kReplacedDamaged:
      return "Damaged " + problem.path + " replaced";
  }
  return {};
}

}  // namespace

bool ImportLogs(TrackRecorder& recorder, WindowingPlatform& platform,
                const std::function<void()>& endCommand, std::vector<ImportReport>* reports,
                const ImportChoices& choices, bool folder) {
  std::vector<std::string> paths;
  if (!folder) {
    paths = platform.ChooseLogFiles();
  } else if (std::optional<std::string> chosen = platform.ChooseLogFolder()) {
    paths.push_back(std::move(*chosen));
  }
  if (paths.empty()) return false;  // Cancel
  std::vector<ImportReport> read = ImportLogFiles(recorder, paths, platform, endCommand, choices);
  if (reports) *reports = std::move(read);
  return true;
}

long long NewCells(const std::vector<ImportReport>& reports) {
  long long cells = 0;
  for (const ImportReport& report : reports) cells += report.newCells;
  return cells;
}

std::vector<ImportReport> ImportLogFiles(TrackRecorder& recorder,
                                         const std::vector<std::string>& chosen,
                                         WindowingPlatform& platform,
                                         const std::function<void()>& endCommand,
                                         const ImportChoices& choices) {
  const LogList list = ExpandLogPaths(chosen);
  ImportSummary summary;
  {
    const std::unique_ptr<ImportProgress> progress =
        platform.StartImportProgress(TotalLogBytes(list, false));
    ImportRunHooks hooks;
    hooks.progress = progress.get();
    summary = ImportLogList(recorder, list, choices.options, hooks);
    // The view is rebuilt under the wait cursor, before the window closes.
    if (endCommand) endCommand();
  }
  std::vector<std::string> paths;
  std::vector<ImportReport> reports;
  for (LogOutcome& log : summary.logs) {
    paths.push_back(std::move(log.path));
    reports.push_back(std::move(log.report));
  }
  // A tile the recorder held past the last log is told with that log.
  if (!reports.empty()) {
    std::vector<TileProblem>& last = reports.back().tileProblems;
    last.insert(last.end(), summary.finalTileProblems.begin(), summary.finalTileProblems.end());
  }
  std::vector<std::string> otherTalkerLogs;
  for (size_t i = 0; i < reports.size(); ++i)
    if (reports[i].otherTalkerGga > 0) otherTalkerLogs.push_back(paths[i]);
  const bool offer = choices.chooseAnyTalker && !otherTalkerLogs.empty();
  std::string problems = ImportProblemsText(paths, reports, offer);
  // Folders not opened are named after the logs, before the offer's
  // question that ends the text.
  size_t at = offer ? problems.rfind('\n') + 1 : problems.size();
  for (const LogList::FolderProblem& folder : list.unreadableFolders) {
    std::string line = "Can not Open " + folder.path + Reason(folder.error);
    if (offer) {
      line += '\n';
    } else if (!problems.empty()) {
      line.insert(0, 1, '\n');
    }
    problems.insert(at, line);
    at += line.size();
  }
  if (!problems.empty() && !offer) {
    platform.ShowMessage(problems, "", MessageStyle::kExclamationOk);
  } else if (!problems.empty() &&
             platform.ShowMessage(problems, kOtherTalkersTitle, MessageStyle::kQuestionYesNo) ==
                 MessageAnswer::kYes) {
    choices.chooseAnyTalker();
    ImportChoices again;
    again.options = choices.options;
    again.options.anyTalker = true;
    std::vector<ImportReport> more =
        ImportLogFiles(recorder, otherTalkerLogs, platform, endCommand, again);
    reports.insert(reports.end(), std::make_move_iterator(more.begin()),
                   std::make_move_iterator(more.end()));
  }
  long long invalidFixes = 0;
  for (const ImportReport& report : reports) invalidFixes += report.invalidFixes;
  if (invalidFixes > 0 && choices.chooseSkipInvalid &&
      platform.ShowMessage(SkipInvalidQuestion(invalidFixes), "", MessageStyle::kQuestionYesNo) ==
          MessageAnswer::kYes) {
    choices.chooseSkipInvalid();
  }
  return reports;
}

std::string SkipInvalidQuestion(long long invalidFixes) {
  return std::to_string(invalidFixes) +
         (invalidFixes == 1 ? " fix the receiver marked invalid (fix quality 0) was recorded"
                            : " fixes the receiver marked invalid (fix quality 0) were recorded") +
         "; their positions are often placeholders, such as 0,0\nSkip fixes the receiver "
         "marked invalid from now on?";
}

std::string ImportProblemsText(const std::vector<std::string>& paths,
                               const std::vector<ImportReport>& reports, bool offerAnyTalker) {
  // An entry may hold two lines: a log's other talkers and what reads them
  // stay together.
  std::vector<std::string> lines;
  TilesNamed tilesNamed;
  bool otherTalkers = false;
  bool unlockedNamed = false;
  for (size_t i = 0; i < reports.size() && i < paths.size(); ++i) {
    const ImportReport& report = reports[i];
    const std::string name = FileName(paths[i]);
    if (!report.opened) {
      lines.push_back("Can not Open " + name + Reason(report.openError));
      continue;
    }
    if (report.readError) {
      lines.push_back("Can not Read " + name + " to its end: " + report.readErrorText);
    }
    // A file of nothing but areas is said to be so by its read error.
    if (report.areas > 0 && !(report.readError && report.fixes == 0)) {
      lines.push_back(name + ": " + std::to_string(report.areas) +
                      " GeoJSON areas (Polygon, MultiPolygon) not imported");
    }
    // A tile that failed for several logs is named once.
    for (const TileProblem& problem : tilesNamed.TakeNew(report.tileProblems))
      lines.push_back(TileProblemLine(problem));
    if (GaveNoPosition(report)) {
      lines.push_back(name + ": no position in it (read as " +
                      (report.format ? report.format->readAs : "a log") + ")");
    }
    if (report.unlockedSaves > 0 && !unlockedNamed) {
      unlockedNamed = true;  // once for the whole import
      lines.push_back("Saved without the store lock: " + TileProblemReason(report.lockError));
    }
    if (report.otherTalkerGga > 0) {
      std::string line =
          name + ": " + std::to_string(report.otherTalkerGga) + " GGA of other talkers not read";
      // What reads them is said once, under the first such log.
      if (!otherTalkers) {
        line += offerAnyTalker ? "\nYes reads them now and from now on; Settings changes it back"
                               : "\nroamgrid-cli import --any-talker reads them";
      }
      otherTalkers = true;
      lines.push_back(line);
    }
  }
  std::string text;
  for (size_t i = 0; i < lines.size() && i < kMaxSummaryLines; ++i) {
    text += lines[i] + "\n";
  }
  if (lines.size() > kMaxSummaryLines) {
    text += "and " + std::to_string(lines.size() - kMaxSummaryLines) + " more\n";
  }
  if (otherTalkers && offerAnyTalker) text += "Read GGA of other talkers now and from now on?\n";
  if (!text.empty()) text.pop_back();  // no line end after the last line
  return text;
}

}  // namespace roamgrid
