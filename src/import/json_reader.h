// Reading JSON logs: phone location histories and GeoJSON tracks, parsed
// as a stream of events (RapidJSON's SAX reader over the log's byte
// source), never held whole, in constant memory.
//
// What is recorded, whatever the document's shape, judged member by
// member:
//   - location history (the takeout "Records" export, the monthly
//     "Semantic Location History" files): every object holding
//     latitudeE7 and longitudeE7, or latE7 and lngE7 (1e-7 degrees), such
//     as locations[], activitySegment's startLocation, endLocation,
//     waypointPath.waypoints[] and simplifiedRawPath.points[], and
//     placeVisit's location; not the objects below
//     otherCandidateLocations, transitStops or frequentPlaces;
//   - on-device timelines: the string members point, latLng, LatLng,
//     placeLocation, start and end that hold a position, as
//     "35.6812345°, 139.7671234°" (Android Timeline.json: timelinePath[],
//     rawSignals[].position, visits and activities) or "geo:35.68,139.76"
//     (the iOS location-history.json array);
//   - GeoJSON: the coordinates of LineString and MultiLineString
//     geometries, and of Point and MultiPoint features whose properties
//     mark them as track points (IsTrackPointProperty); other Points are
//     places, not visits. Members may come in any order: coordinates
//     before their geometry's "type" wait for it (at most
//     kJsonHeldPositionsMax positions). A Polygon or MultiPolygon (an area)
//     is passed over and counted in ImportReport::areas.
// Numbers are read from their text with std::from_chars, to the nearest
// double; a number beyond a double's range ends the reading as a read
// error.
// A position whose stated accuracy (accuracy, accuracyMeters) is worse
// than ImportOptions::maxAccuracyM is skipped and counted in
// ImportReport::coarse.
#pragma once

#include <optional>
#include <string_view>
#include <utility>

#include "import/log_source.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// Memory the parser may hold for one string or number: far above what any
// location history needs, so that a giant member ends in an error.
inline constexpr size_t kJsonValueMax = size_t(4) << 20;
// Arrays and objects nested deeper than this end the reading as an error.
inline constexpr int kJsonDepthMax = 128;
// Positions of one GeoJSON geometry held until its "type" comes (24 MiB);
// past them the reading ends as an error.
inline constexpr size_t kJsonHeldPositionsMax = size_t(1) << 20;

// A position written as text: "35.6812345°, 139.7671234°" (the degree
// signs and the blank optional) or "geo:35.68,139.76" (an RFC 5870 URI,
// parameters after ";" ignored). Latitude first; nothing for other text
// or a latitude beyond 90 / longitude beyond 180 degrees.
std::optional<std::pair<double, double>> ParsePositionText(std::string_view text);

// Whether a GeoJSON property marks its Point feature as a track point: a
// member named track_fid, track_seg_id or track_seg_point_id (what GPX
// track points become in GeoJSON), or "type" (or "kind") with the value
// "trackpoint" or "track_point".
bool IsTrackPointProperty(std::string_view name, std::string_view stringValue);

// Reads the JSON of `source` to its end: one JSON text, or several one
// after another (JSON lines, RFC 8142 sequences with their RS bytes). The
// positions go to TrackPoints, each array of them one track. Malformed
// JSON ends the reading as a read error after what came before it, named
// with its byte offset; so does JSON in which nothing above is found
// (with options.onlyLogs: report.notRecognised instead, unless it held
// GeoJSON areas).
void ReadJsonLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                 const ImportOptions& options);

}  // namespace roamgrid
