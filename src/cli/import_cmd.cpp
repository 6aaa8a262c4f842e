// roamgrid-cli import: the core's import run, with a progress line on a
// terminal and one line per log as each is read.
#include <unistd.h>

#include <charconv>
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "cli/import_interrupts.h"
#include "cli/progress_line.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "import/import_run.h"
#include "import/input_formats.h"

namespace roamgrid {

namespace {

// A command stopped by a signal exits with 128 + its number, as a shell
// reports a process the signal ended.

// The progress line shows the bytes of all logs read so far; a signal
// stops the reading at its next block.
class LineProgress : public ImportProgress {
 public:
  LineProgress(ProgressLine& line, std::FILE* err) : line_(line), err_(err) {}
  void BeginLog(size_t, size_t, const std::string& path) override {
    bytesBefore_ += bytesOfLog_;
    bytesOfLog_ = 0;
    live_ = path == kStandardInputLog;
  }
  void Advance(long long bytesRead) override {
    bytesOfLog_ = bytesRead;
    line_.Show(bytesBefore_ + bytesRead);
  }
  bool Cancelled() override { return ImportInterrupts::Caught() != 0; }
  // A live receiver may run for hours: its user hears at once why nothing
  // is recorded.
  void OtherTalkersMet() override {
    if (!live_) return;
    line_.Erase();
    Error(err_,
          "import: standard input holds GGA sentences of other talkers ($GNGGA, "
          "$GLGGA...) that are not read; --any-talker records them");
  }
  void WaitingForStoreLock(bool waiting) override {
    if (!waiting) return;
    line_.Erase();
    Error(err_, "import: waiting for the store lock held by another program");
  }

 private:
  ProgressLine& line_;
  std::FILE* err_;
  long long bytesBefore_ = 0;  // of the logs read before this one
  long long bytesOfLog_ = 0;
  bool live_ = false;  // the log is standard input
};

// Names each tile, with the system's reason.
void ReportTileProblems(const std::vector<TileProblem>& problems, std::FILE* err) {
  for (const TileProblem& problem : problems) {
    const std::string reason = TileProblemReason(problem.error);
    switch (problem.kind) {
      case TileProblem::Kind::kUnreadable:
        Error(err, "import: cannot read the tile file " + Quoted(problem.path) + ": " + reason +
                       "; its fixes were not recorded (import the log again once it can be read)");
        break;
      case TileProblem::Kind::kNotSaved:
        Error(err, "import: cannot write the tile file " + Quoted(problem.path) + ": " + reason +
                       "; its new cells are lost");
        break;
      case TileProblem::Kind::kReplacedDamaged:
        Error(err, "import: warning: the tile file " + Quoted(problem.path) +
                       " had a damaged header and was replaced by the new cells");
        break;
    }
  }
}

// What one log gave: its line on `out`, its problems on `err`.
void ReportLog(const LogOutcome& outcome, const CliArgs& args, double maxAccuracyM, std::FILE* out,
               std::FILE* err) {
  const std::string& log = outcome.path;
  const ImportReport& report = outcome.report;
  ReportTileProblems(outcome.newTileProblems, err);
  if (outcome.firstUnlockedSaves) {
    Error(err, "import: warning: no lock can be had on the store folder 'RGD' (" +
                   FileErrorText(report.lockError) +
                   "); tiles were saved without it, so another program saving at the same "
                   "time can lose marks");
  }
  if (!report.opened) {
    Say(out, log + ": cannot open");
    Error(err, "import: cannot open log " + Quoted(log) + ": " + std::strerror(report.openError));
    return;
  }
  if (report.notRecognised) return;
  std::string line = log + ": " + std::to_string(report.fixes) + " " +
                     (report.format ? report.format->unit : "fixes") + ", " +
                     std::to_string(report.skipped) + " skipped";
  if (report.coarse > 0) {
    char metres[32];
    const auto written = std::to_chars(metres, metres + sizeof metres, maxAccuracyM);
    line += ", " + std::to_string(report.coarse) + " less accurate than " +
            std::string(metres, written.ptr) + " m";
  }
  if (args.maxSpeedKmh > 0) line += ", " + std::to_string(report.tooFast) + " too fast";
  if (args.connectMetres > 0) line += ", " + std::to_string(report.lineCells) + " cells on lines";
  Say(out, line + ", " + std::to_string(report.newCells) + " new");
  if (report.readError) {
    Error(err, "import: read error in log " + Quoted(log) + " after " +
                   std::to_string(report.bytesRead) + " bytes" +
                   (report.readErrorText.empty() ? "" : ": " + report.readErrorText) +
                   "; the rest of it was not read");
  }
  // A file of nothing but areas is said to be so by its read error.
  if (report.areas > 0 && !(report.readError && report.fixes == 0)) {
    Error(err, "import: " + Quoted(log) + ": " + std::to_string(report.areas) +
                   " GeoJSON areas (Polygon, MultiPolygon) passed over; areas are not imported");
  }
  if (GaveNoPosition(report)) {
    Error(err, "import: " + Quoted(log) + ": " + std::to_string(report.bytesRead) +
                   (report.compressed ? " compressed" : "") + " bytes read as " +
                   (report.format ? report.format->readAs : "a log") +
                   " gave no position; nothing was recorded");
  }
  if (report.otherTalkerGga > 0) {
    Error(err, "import: " + Quoted(log) + " holds " + std::to_string(report.otherTalkerGga) +
                   " GGA sentences of other talkers ($GNGGA, $GLGGA...) that were not read; "
                   "--any-talker records them");
  }
}

}  // namespace

int RunImport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  // A folder stands for the files below it.
  const LogList list = ExpandLogPaths(args.logs);
  ProgressLine progress(err, TotalLogBytes(list, true), isatty(fileno(err)) == 1);
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
  LineProgress lineProgress(progress, err);
  for (const LogList::FolderProblem& folder : list.unreadableFolders) {
    Error(err, "import: cannot read the folder " + Quoted(folder.path) + ": " +
                   std::strerror(folder.error));
  }
  ImportRunHooks hooks;
  hooks.progress = &lineProgress;
  hooks.standardInput = true;
  hooks.logDone = [&](const LogOutcome& outcome) {
    progress.Erase();
    ReportLog(outcome, args, options.maxAccuracyM, out, err);
  };
  const ImportSummary summary = ImportLogList(recorder, list, options, hooks);
  progress.Erase();
  ReportTileProblems(summary.finalTileProblems, err);
  if (summary.notRecognised > 0)
    Say(out, std::to_string(summary.notRecognised) + " files not recognised");
  Say(out, "total: " + NewCellsText(summary.newCells));
  if (summary.invalidFixes > 0) {
    Error(err, "import: " + std::to_string(summary.invalidFixes) +
                   " fixes the receiver marked invalid (GGA fix quality 0) were recorded; "
                   "--strict skips them");
  }
  if (summary.notOpened > 0) {
    Error(err, "import: " + std::to_string(summary.notOpened) + " of " +
                   std::to_string(list.logs.size()) + " logs could not be opened");
  }
  if (const int signal = ImportInterrupts::Caught()) {
    Error(err, std::string("import: stopped by ") + ImportInterrupts::Name(signal) +
                   "; what was read is recorded");
    return kExitSignalBase + signal;
  }
  return summary.Whole() ? kExitOk : kExitFailure;
}

}  // namespace roamgrid
