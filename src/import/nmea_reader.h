// Reading NMEA 0183 logs: every "$GPGGA," line yields a latitude and a
// longitude in degrees, handed to AddPoint of a TrackRecorder. Other lines
// are skipped. The checksum and the fields after the second hemisphere
// letter are looked at only by strict reading. Also the entry point of
// every import, ImportNmeaLog, which judges what kind of log it is given.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "import/import_progress.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// The log is read in blocks of this size (a piece of a line that straddles
// two blocks is carried over), so memory does not grow with the log.
inline constexpr size_t kNmeaReadBlockSize = size_t(256) << 10;

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
  double maxAccuracyM = 50;
  // The log was found in a folder: content that is no log (see
  // ImportReport::notRecognised) is not read.
  bool onlyLogs = false;
};

// What one log gave, for front ends that tell the user.
struct ImportReport {
  bool opened = false;    // the file could be opened
  long long fixes = 0;    // GGA fixes accepted by AddPoint
  long long newCells = 0;  // cells this log marked that were unvisited before
  long long skipped = 0;  // GGA lines skipped as unreadable (missing field, bad hemisphere)
  long long bytesRead = 0;
  bool readError = false;  // reading stopped at a read error, not at the end of the file
  // Why reading stopped early: the system's text for a failed read, or what
  // was wrong (a damaged compressed stream, malformed XML with its line).
  std::string readErrorText;
  int openError = 0;        // errno when the log could not be opened
  bool cancelled = false;   // ImportProgress::Cancelled stopped the reading
  bool gpx = false;         // read as GPX: `fixes` counts track points
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
  // Read as a track format (JSON, GeoJSON, KML, TCX, FIT; GPX sets `gpx`):
  // `fixes` counts track points.
  bool points = false;
  long long coarse = 0;  // positions skipped as less accurate than maxAccuracyM
  // With ImportOptions::onlyLogs: the content is no log this program
  // reads (text without an NMEA sentence at its start, JSON or XML of
  // another kind, a zip without KML); nothing was recorded, no error.
  bool notRecognised = false;
};

// Degrees of a GGA latitude or longitude field value v (ddmm.mmmm or
// dddmm.mmmm): q = v / 100, d = q truncated toward zero to 32 bits,
// d + (q - d) x 1.6666666666666667, each step rounded to double in this
// order. 4807.038 gives 48.117299999999986, 13945.000 139.74999999999997.
// A q beyond 32 bits (or NaN) gives a value far outside -180..180.
double GgaFieldToDegrees(double value);

enum class GgaLine {
  kOther,       // not a GGA line: skipped without effect
  kUnreadable,  // GGA, but a field comma is missing or a hemisphere is not N/S, E/W
  kFix,         // GGA with a position; *lat and *lon are set
};

// Judges one line (or piece of a long line) of `length` bytes, as a line
// read would hold it; its text ends at the first NUL byte. Only lines
// beginning "$GPGGA," (with `anyTalker` also "$" + two upper-case letters +
// "GGA,") are GGA lines. The latitude is field 2 with the hemisphere letter
// after its comma, the longitude field 4 likewise; only the first character
// of a hemisphere field is looked at, and without `strict` the text after
// the second is not. With `strict` a GGA line is kUnreadable unless
//   - its checksum is present and right: "*" and two hexadecimal digits
//     (either case) that give the XOR of the characters between the "$" and
//     the first "*", followed by nothing but CR and LF characters; and
//   - its fix quality (field 6, after the second hemisphere field and its
//     comma) is one or more digits, not all "0", ended by "," or "*".
GgaLine ReadGgaLine(const char* text, size_t length, bool anyTalker, bool strict, double* lat,
                    double* lon);

class ByteSource;

// Reads the NMEA text of `source` to its end and hands each GGA fix to
// TrackPoints (one track per log, broken by every GGA line without a
// readable position; times from the UTC field, a day later each time the
// time of day falls back by more than half a day). Lines are judged as a line read
// with a 1024-byte buffer sees them: a line longer than 1023 characters is
// judged in pieces of 1023, each as a line of its own. A GGA line whose
// field commas are missing or whose hemisphere character is not N/S (E/W)
// is skipped and reading goes on, as is, with options.strict, a GGA line
// with a missing or wrong checksum or fix quality 0 (see ReadGgaLine); a
// read error ends the log like its end. The recorder's tile is not
// released here.
void ReadNmeaLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                 const ImportOptions& options);

// Reads the log at `path` to its end, whatever its kind, judged by its
// content (not its name): gzip-compressed data is decompressed and judged
// again, GPX goes to ReadGpxLog, anything else to ReadNmeaLog. At the end
// (also after a read error or a cancel) the recorder's tile is released,
// so its cells are on disk. Returns false (report->opened false,
// report->openError set, recorder untouched) only when the file cannot be
// opened or is a folder. The recorder's tileProblems met meanwhile move
// into report->tileProblems. `report`, when given, is filled in.
bool ImportNmeaLog(TrackRecorder& recorder, const std::string& path, ImportReport* report = nullptr,
                   const ImportOptions& options = {});

// The same for a log read from the open descriptor `fd` (standard input),
// which is left open. Always returns true. Unless `fd` is a regular file it
// is a live input (a receiver through a pipe): marks are saved while it is
// read, none left unsaved for more than about kLiveSaveMs.
bool ImportLogDescriptor(TrackRecorder& recorder, int fd, ImportReport* report = nullptr,
                         const ImportOptions& options = {});

}  // namespace roamgrid
