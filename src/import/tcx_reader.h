// Reading TCX activities and courses: the Position (LatitudeDegrees,
// LongitudeDegrees) of every Trackpoint, with its Time, each Track one
// track, whether it stands in an Activity's Lap or in a Course (as TCX
// writers that convert a GPS track make it). Trackpoints without a
// Position (pauses, heart rate only) are passed over, as are a course's
// CoursePoints (turn directions). Parsed with expat as a stream
// (XmlLogParser).
#pragma once

#include "import/log_source.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// Reads the TCX document of `source` to its end. A Position without a
// readable latitude or longitude counts in report.skipped, one that
// AddPoint took in report.fixes. Malformed XML, or a root other than
// <TrainingCenterDatabase>, ends the reading as a read error (the line
// named) after what came before it. `encoding` as XmlLogParser takes it.
void ReadTcxLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                const ImportOptions& options, int linesBefore = 0, const char* encoding = nullptr);

}  // namespace roamgrid
