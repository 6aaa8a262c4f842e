// What an import is asked to do (ImportOptions) and what one log gave
// (ImportReport): shared by every reader, the import run and both front
// ends.
#pragma once

#include <string>
#include <vector>

#include "import/import_defaults.h"
#include "import/import_progress.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

struct InputFormat;  // import/input_formats.h

struct ImportOptions {
  // Also take "$" + two upper-case letters + "GGA," ($GNGGA, $GLGGA...).
  // Off: only lines beginning exactly "$GPGGA,".
  bool anyTalker = false;
  // Strict reading: a GGA line counts only with a correct checksum and a
  // fix quality other than 0; other GGA lines are skipped (see ReadGgaLine).
  bool strict = false;
  // Also mark the cells on the straight line between two consecutive fixes
  // of a track that are at most this many metres apart (see TrackPoints);
  // 0: off, only the fixes' own cells are marked.
  int connectMetres = 0;
  // Skip a fix whose speed from the last kept fix of its track exceeds this
  // many km/h (only where the input has times); 0: off.
  int maxSpeedKmh = 0;
  // Told of the bytes read, asked whether to stop. Optional; not owned.
  ImportProgress* progress = nullptr;
  // Positions whose stated accuracy (metres) is worse than this are skipped
  // and counted in ImportReport::coarse (location histories state it).
  // 0: no limit.
  double maxAccuracyM = kDefaultMaxAccuracyM;
  // The log was found in a folder: content that is no log (see
  // ImportReport::notRecognised) is not read.
  bool onlyLogs = false;
  // Skip GGA fixes whose fix quality is 0: the receiver marks them invalid
  // (their positions are placeholders such as 0,0 or 90 N). Counted in
  // ImportReport::skipped, as strict reading, which skips them too, does.
  bool skipInvalid = false;
};

// What one log gave, for front ends that tell the user.
struct ImportReport {
  bool opened = false;     // the file could be opened
  long long fixes = 0;     // GGA fixes accepted by AddPoint
  long long newCells = 0;  // cells this log marked that were unvisited before
  long long skipped = 0;   // GGA lines skipped as unreadable (missing field, bad hemisphere)
  long long bytesRead = 0;
  bool readError = false;  // reading stopped at a read error, not at the end of the file
  // Why reading stopped early: the system's text for a failed read, or what
  // was wrong (a damaged compressed stream, malformed XML with its line).
  std::string readErrorText;
  int openError = 0;       // errno when the log could not be opened
  bool cancelled = false;  // ImportProgress::Cancelled stopped the reading
  // The entry of the input format table the log was read as (never a
  // decoder such as gzip); null when no reader ran (not opened, not
  // recognised, stopped while judging).
  const InputFormat* format = nullptr;
  bool compressed = false;  // gzip-compressed input
  // GGA sentences of talkers other than GP that were not read (only
  // counted without anyTalker).
  long long otherTalkerGga = 0;
  // Fixes skipped by maxSpeedKmh (not in `fixes`).
  long long tooFast = 0;
  // Cells the lines of connectMetres newly marked (also in newCells).
  long long lineCells = 0;
  std::vector<TileProblem> tileProblems;  // each tile once, in the order met
  // Tiles saved without the store lock (none could be had), and the errno
  // of the last lock that failed.
  long long unlockedSaves = 0;
  int lockError = 0;
  long long coarse = 0;  // positions skipped as less accurate than maxAccuracyM
  // With ImportOptions::onlyLogs: the content is no log this program
  // reads (text without an NMEA sentence at its start, JSON or XML of
  // another kind, a zip without KML); nothing was recorded, no error.
  bool notRecognised = false;
  // GeoJSON Polygon and MultiPolygon geometries passed over: areas are
  // not imported.
  long long areas = 0;
  // GGA fixes recorded although their fix quality is 0 (read neither
  // strictly nor with skipInvalid), for the front ends to point out.
  long long invalidFixes = 0;
};

}  // namespace roamgrid
