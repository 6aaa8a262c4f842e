// Where every log reader hands its positions: one track at a time, each
// position with its time when the input has one. Today a position is
// recorded with AddPoint as it comes; options that look at consecutive
// positions of a track (joining them, dropping impossible speeds) work
// here, so that every input format gets them alike.
#pragma once

#include <cmath>
#include <limits>

#include "import/nmea_reader.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// A position without a time.
inline constexpr double kNoTime = std::numeric_limits<double>::quiet_NaN();

class TrackPoints {
 public:
  TrackPoints(TrackRecorder& recorder, const ImportOptions& options, ImportReport& report)
      : recorder_(recorder), options_(options), report_(report) {}

  // Records one position, `lat` and `lon` in degrees (north and east
  // positive); `seconds` is its time on a scale that only grows within a
  // track (seconds), or kNoTime. Returns true when AddPoint accepted it.
  bool Add(double lat, double lon, double seconds = kNoTime);

  // Ends the current track: the next position starts a new one.
  void EndTrack();

 private:
  TrackRecorder& recorder_;
  const ImportOptions& options_;
  ImportReport& report_;
};

}  // namespace roamgrid
