// Reading NMEA 0183 logs: every "$GPGGA," line yields a latitude and a
// longitude in degrees, handed to AddPoint of a TrackRecorder. Other lines
// are skipped. The checksum and the fields after the second hemisphere
// letter are looked at only by strict reading.
#pragma once

#include <cstddef>
#include <string>

#include "import/import_report.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// The log is read in blocks of this size (a piece of a line that straddles
// two blocks is carried over), so memory does not grow with the log.
inline constexpr size_t kNmeaReadBlockSize = size_t(256) << 10;

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
// with a missing or wrong checksum or fix quality 0 (see ReadGgaLine), and
// with options.skipInvalid a GGA line of fix quality 0; otherwise a fix of
// quality 0 is recorded and counted in report.invalidFixes. A read error
// ends the log like its end. The recorder's tile is not released here.
void ReadNmeaLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                 const ImportOptions& options);

}  // namespace roamgrid
