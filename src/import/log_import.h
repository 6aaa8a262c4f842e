// The entry point of every import: one log, a file or standard input,
// judged by its content, read to its end with the reader of its format
// (import/input_formats.h) and ended: the recorder's tile released, what
// the log gave in the report.
#pragma once

#include <string>

#include "import/import_report.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// Reads the log at `path` to its end, whatever its kind, judged by its
// content (not its name) with the input format table: a decoder's output
// (gzip, UTF-16) is judged again, and the format found reads it. At the end
// (also after a read error or a cancel) the recorder's tile is released,
// so its cells are on disk. Returns false (report->opened false,
// report->openError set, recorder untouched) only when the file cannot be
// opened or is a folder. The recorder's tileProblems met meanwhile move
// into report->tileProblems. `report`, when given, is filled in.
bool ImportNmeaLog(TrackRecorder& recorder, const std::string& path, ImportReport* report = nullptr,
                   const ImportOptions& options = {});

// The same for a log read from the open descriptor `fd` (standard input),
// which is left open. Always returns true.
bool ImportLogDescriptor(TrackRecorder& recorder, int fd, ImportReport* report = nullptr,
                         const ImportOptions& options = {});

}  // namespace roamgrid
