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

// Asks for logs and reads them with ImportLogFiles. Returns true when logs
// were chosen, even if none could be read. Returns false on Cancel: nothing
// read, `endCommand` not called, nothing shown.
bool ImportLogs(TrackRecorder& recorder, WindowingPlatform& platform,
                const std::function<void()>& endCommand = {});

// Reads the logs at `paths` in the order given, all with `recorder`, under
// the platform's import progress; Cancel there stops at the next block
// (what was recorded stays, the recorder's tile is released). Then calls
// `endCommand` (the command's common ending: rebuild the view, repaint)
// while the wait cursor still shows, and last, when any log or tile had a
// problem, shows ImportProblemsText in one message box (exclamation, OK).
// Returns what each log gave; logs after a cancelled one are not opened.
std::vector<ImportReport> ImportLogFiles(TrackRecorder& recorder,
                                         const std::vector<std::string>& paths,
                                         WindowingPlatform& platform,
                                         const std::function<void()>& endCommand = {});

// The summary of an import's problems, one line each: logs not opened or
// not read to their end, tiles not read, not saved or replaced (each tile
// once), GGA sentences of other talkers left unread; at most
// kMaxSummaryLines, then "and N more"; the pointer to the CLI's
// --any-talker follows when other talkers were met. Empty when all went
// well (a cancelled import included). `reports` pairs with `paths`.
std::string ImportProblemsText(const std::vector<std::string>& paths,
                               const std::vector<ImportReport>& reports);

}  // namespace roamgrid
