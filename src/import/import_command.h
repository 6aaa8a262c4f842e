// The Import command: lets the user choose NMEA logs and records their
// fixes into the tiles with the main dialog's one recorder, while the
// platform shows the progress; afterwards it names in one message box
// whatever went wrong.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/windowing_platform.h"
#include "import/import_report.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// At most this many problems are listed in the summary box, one a line;
// "and N more" stands for the rest.
inline constexpr size_t kMaxSummaryLines = 10;

// The title of the question whether to read GGA of other talkers.
inline constexpr char kOtherTalkersTitle[] = "Import";

// How the desktop program imports beyond the designed reading: the
// user's import options (progress and onlyLogs are set by the command),
// and, when `chooseAnyTalker` is set, the offer to read other talkers' GGA.
struct ImportChoices {
  ImportOptions options;
  // Called when the user accepts the offer to read GGA of other talkers
  // now and from now on (it remembers the choice); without it no offer is
  // made and the summary points to the CLI instead.
  std::function<void()> chooseAnyTalker;
  // Called when the user accepts the offer to skip fixes the receiver
  // marked invalid from now on (it remembers the choice); without it no
  // offer is made.
  std::function<void()> chooseSkipInvalid;
};

// Asks for logs (with `folder`, for a folder of them) and reads them with
// ImportLogFiles (what they gave goes to `reports` when given). Returns
// true when logs were chosen, even if none could be read. Returns false on
// Cancel: nothing read, `endCommand` not called, nothing shown.
bool ImportLogs(TrackRecorder& recorder, WindowingPlatform& platform,
                const std::function<void()>& endCommand = {},
                std::vector<ImportReport>* reports = nullptr, const ImportChoices& choices = {},
                bool folder = false);

// Reads the logs at `paths` in the order given (a folder: every log below
// it, see ExpandLogPaths; files there that are no log are passed over),
// all with `recorder` and choices.options in one import run
// (ImportLogList), under the platform's import progress; Cancel there stops at the next block (what
// was recorded stays, the recorder's tile is released). Then calls `endCommand` (the command's
// common ending: rebuild the view, repaint) while the wait cursor still
// shows, and last, when any log, folder or tile had a problem, shows
// ImportProblemsText in one message box (exclamation, OK). When logs held
// GGA of other talkers and choices.chooseAnyTalker is set, the box asks
// instead (question, Yes/No) whether to read them now and from now on: Yes
// calls chooseAnyTalker and imports those logs again with anyTalker, as
// above (marks only accumulate, so their $GPGGA fixes change nothing).
// Then, when the logs recorded fixes the receiver marked invalid (GGA fix
// quality 0, ImportReport::invalidFixes) and choices.chooseSkipInvalid is
// set, a second box asks (question, Yes/No) whether to skip such fixes
// from now on: Yes calls chooseSkipInvalid (what was recorded stays).
// Returns what each log gave (the files of folders included; those that
// were no log have notRecognised set), followed by what the logs read
// again gave; logs after a cancelled one are not opened.
std::vector<ImportReport> ImportLogFiles(TrackRecorder& recorder,
                                         const std::vector<std::string>& paths,
                                         WindowingPlatform& platform,
                                         const std::function<void()>& endCommand = {},
                                         const ImportChoices& choices = {});

// The question of the offer to skip fixes the receiver marked invalid,
// after an import that recorded `invalidFixes` of them.
std::string SkipInvalidQuestion(long long invalidFixes);

// The cells all `reports` newly marked.
long long NewCells(const std::vector<ImportReport>& reports);

// The summary of an import's problems, one line each: logs not opened or
// not read to their end, tiles not read, not saved or replaced (each tile
// once), logs that gave no position (naming the format they were read
// as), GeoJSON areas passed over, GGA sentences of other talkers left
// unread; at most
// kMaxSummaryLines, then "and N more". Directly under the first log's line
// about other talkers stands what reads them: the CLI's --any-talker, or
// with `offerAnyTalker` the question of the desktop program's offer, which
// then ends the text. Empty when all went well (a cancelled import
// included). `reports` pairs with `paths`.
std::string ImportProblemsText(const std::vector<std::string>& paths,
                               const std::vector<ImportReport>& reports,
                               bool offerAnyTalker = false);

}  // namespace roamgrid
