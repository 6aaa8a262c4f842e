// Reading KML tracks (and, through ZipSource, KMZ): the coordinates of
// every LineString ("lon,lat[,alt]" tuples separated by white space) and
// every gx:coord of a gx:Track ("lon lat [alt]", timed by the gx:Track's
// when elements in order), each LineString and gx:Track one track. Point
// placemarks are places, not visits, and polygons are areas: neither is
// recorded. Parsed with expat as a stream (XmlLogParser).
#pragma once

#include "import/log_source.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// A gx:Track's times are held to pair them with its coordinates; past this
// many, its coordinates go on without times.
inline constexpr size_t kKmlTrackTimesMax = size_t(1) << 16;

// Reads the KML document of `source` to its end. A coordinate tuple that
// is not two or three numbers counts in report.skipped, one that AddPoint
// took in report.fixes. Malformed XML, or a root other than <kml>, ends
// the reading as a read error (the line named) after what came before it.
void ReadKmlLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                const ImportOptions& options, int linesBefore = 0, const char* encoding = nullptr);

}  // namespace roamgrid
