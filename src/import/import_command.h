// The Import command: lets the user choose NMEA logs and records their
// fixes into the tiles with the main dialog's one recorder, while the
// platform shows the progress; afterwards it names in one message box
// whatever went wrong.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/windowing_platform.h"
#include "import/nmea_reader.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// At most this many problems are listed in the summary box, one a line;
// "and N more" stands for the rest.
inline constexpr size_t kMaxSummaryLines = 10;

// Asks for logs and reads them with ImportLogFiles (what they gave goes to
// `reports` when given). Returns true when logs
// were chosen, even if none could be read. Returns false on Cancel: nothing
// read, `endCommand` not called, nothing shown.
bool ImportLogs(TrackRecorder& recorder, WindowingPlatform& platform,
                const std::function<void()>& endCommand = {},
                std::vector<ImportReport>* reports = nullptr,
                double maxAccuracyM = ImportOptions{}.maxAccuracyM);

// Reads the logs at `paths` in the order given (a folder: every log below
// it, see ExpandLogPaths; files there that are no log are passed over),
// all with `recorder`, under
// the platform's import progress; Cancel there stops at the next block
// (what was recorded stays, the recorder's tile is released). Then calls
// `endCommand` (the command's common ending: rebuild the view, repaint)
// while the wait cursor still shows, and last, when any log or tile had a
// problem, shows ImportProblemsText in one message box (exclamation, OK).
// Returns what each log gave (the files of folders included; those that
// were no log have notRecognised set); logs after a cancelled one are not
// opened. `maxAccuracyM` is ImportOptions::maxAccuracyM.
std::vector<ImportReport> ImportLogFiles(TrackRecorder& recorder,
                                         const std::vector<std::string>& paths,
                                         WindowingPlatform& platform,
                                         const std::function<void()>& endCommand = {},
                                         double maxAccuracyM = ImportOptions{}.maxAccuracyM);

// The cells all `reports` newly marked.
long long NewCells(const std::vector<ImportReport>& reports);

// The summary of an import's problems, one line each: logs not opened or
// not read to their end, tiles not read, not saved or replaced (each tile
// once), GGA sentences of other talkers left unread; at most
// kMaxSummaryLines, then "and N more"; the pointer to the CLI's
// --any-talker follows when other talkers were met. Empty when all went
// well (a cancelled import included). `reports` pairs with `paths`.
std::string ImportProblemsText(const std::vector<std::string>& paths,
                               const std::vector<ImportReport>& reports);

}  // namespace roamgrid
