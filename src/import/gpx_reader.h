// Reading GPX 1.0 and 1.1 tracks: the `lat` and `lon` attributes of every
// `trkpt` element, in document order, go to TrackPoints as degrees, with
// the point's <time> when an option looks at times; each `trkseg` is a
// track of its own. Route
// points (`rtept`) and waypoints (`wpt`) are plans and marks, not places
// visited, and are not recorded. Parsed with expat as a stream
// (XmlLogParser).
#pragma once

#include <optional>

#include "import/log_source.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// A coordinate attribute as a number of degrees: a decimal number (optional
// sign, digits with an optional fraction, an optional exponent), with white
// space around it allowed, read locale-independently and rounded as strtod
// rounds it. Nothing for anything else ("", "1e", "0x10", "inf", "12abc").
std::optional<double> ParseGpxDegrees(const char* text);

// Reads the GPX document of `source` to its end. A track point with a
// missing or unreadable `lat` or `lon` counts in report.skipped, one that
// AddPoint took in report.fixes. Malformed XML, or a root element other
// than <gpx>, ends the reading as a read error: the points before it are
// recorded, and report.readErrorText names the line (counting
// `linesBefore` lines skipped before the source's first byte). `encoding`
// ("UTF-16"), when given, is the document's encoding as its byte order
// mark tells it; without, expat's own detection applies.
void ReadGpxLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                const ImportOptions& options, int linesBefore = 0, const char* encoding = nullptr);

}  // namespace roamgrid
