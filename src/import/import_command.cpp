#include "import/import_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "import/import_progress.h"
#include "import/log_folder.h"

namespace roamgrid {
namespace {

// Bytes of the regular files among `paths`; others count 0.
long long TotalBytes(const std::vector<std::string>& paths) {
  long long total = 0;
  for (const std::string& path : paths) {
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) total += status.st_size;
  }
  return total;
}

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
                const ImportChoices& choices) {
  const std::vector<std::string> paths = platform.ChooseLogFiles();
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
  std::vector<std::string> paths;
  for (const LogList::Log& log : list.logs) paths.push_back(log.path);
  std::vector<ImportReport> reports;
  {
    const std::unique_ptr<ImportProgress> progress =
        platform.StartImportProgress(TotalBytes(paths));
    ImportOptions options = choices.options;
    options.progress = progress.get();
    for (size_t i = 0; i < paths.size(); ++i) {
      // Cancel pressed during the last block of a log stops before the next.
      if (i > 0 && progress && progress->Cancelled()) break;
      if (progress) progress->BeginLog(i, paths.size(), paths[i]);
      options.onlyLogs = list.logs[i].inFolder;
      ImportNmeaLog(recorder, paths[i], &reports.emplace_back(), options);
      if (reports.back().cancelled) break;  // its tile is released already
    }
    // The view is rebuilt under the wait cursor, before the window closes.
    if (endCommand) endCommand();
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
             platform.ShowMessage(problems, "", MessageStyle::kQuestionYesNo) ==
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
  std::vector<TileProblem> tilesNamed;
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
    for (const TileProblem& problem : report.tileProblems) {
      if (std::find(tilesNamed.begin(), tilesNamed.end(), problem) != tilesNamed.end()) continue;
      tilesNamed.push_back(problem);
      lines.push_back(TileProblemLine(problem));
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
