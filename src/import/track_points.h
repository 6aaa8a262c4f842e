// Where every log reader hands its positions: one track at a time, each
// position with its time when the input has one. The options that look at
// consecutive positions of a track work here, so that every input format
// gets them alike:
//
//   maxSpeedKmh   a fix whose speed from the last kept fix of its track is
//                 above the limit is skipped (counted in ImportReport::
//                 tooFast): flights and receiver jumps leave nothing. Only
//                 fixes that both have times are compared. When the skipped
//                 fixes then agree among themselves (each within the limit
//                 of the one before) for more than kTrackGapSeconds, the
//                 receiver has really moved (a flight has landed): the track
//                 starts again with the fixes of that run, which were held
//                 (at most kRunHeldMax, the latest) and are now recorded
//                 (counted in ImportReport::fixes, no longer in tooFast).
//   connectMetres the cells on the straight line between two consecutive
//                 kept fixes of a track (ForEachLineCell) are marked too,
//                 when the two are at most connectMetres apart; the cells the
//                 lines add are counted in ImportReport::lineCells.
//
// A track ends when the reader says so (EndTrack: a file's end, a GPX
// trkseg, a run of NMEA lines without a fix) and where the times of two
// consecutive positions are more than kTrackGapSeconds apart or go
// backwards. Distances are great-circle distances on a sphere of radius
// kEarthRadiusMetres. With both options off every position goes straight to
// AddPoint, as the designed import does.
#pragma once

#include <cmath>
#include <deque>
#include <limits>

#include "import/import_report.h"
#include "tiles/grid_line.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// A position without a time.
inline constexpr double kNoTime = std::numeric_limits<double>::quiet_NaN();

// Times of consecutive positions further apart than this end a track.
inline constexpr double kTrackGapSeconds = 30.0;

// Skipped fixes held while they may turn out to be where the receiver
// has moved to: a run of kTrackGapSeconds at more than 100 fixes a second
// keeps its latest.
inline constexpr size_t kRunHeldMax = 4096;

// The mean earth radius.
inline constexpr double kEarthRadiusMetres = 6371008.8;

// Great-circle distance in metres between two positions in degrees.
double DistanceMetres(double lat1, double lon1, double lat2, double lon2);

class TrackPoints {
 public:
  TrackPoints(TrackRecorder& recorder, const ImportOptions& options, ImportReport& report)
      : recorder_(recorder), options_(options), report_(report) {}

  // True when an option looks at times: readers may skip reading them
  // otherwise.
  bool WantsTimes() const { return options_.maxSpeedKmh > 0 || options_.connectMetres > 0; }

  // Records one position, `lat` and `lon` in degrees (north and east
  // positive); `seconds` is its time on a scale that only grows within a
  // track (seconds), or kNoTime. Returns true when AddPoint accepted it;
  // false for a position out of range or skipped as too fast (held fixes
  // recorded later count themselves in ImportReport::fixes).
  bool Add(double lat, double lon, double seconds = kNoTime);

  // Ends the current track: the next position starts a new one.
  void EndTrack();

 private:
  struct Fix {
    double lat = 0.0;
    double lon = 0.0;
    double seconds = kNoTime;
    GridCell cell;
  };

  // True when `to` at `toSeconds` is more than maxSpeedKmh from `from`.
  bool TooFast(const Fix& from, const Fix& to) const;
  // Marks the cells of the line from the last kept fix to `to`, ends
  // excluded.
  void MarkLine(const Fix& to);
  // Records `fix` as the track's next kept fix, with its line.
  void Keep(const Fix& fix);

  TrackRecorder& recorder_;
  const ImportOptions& options_;
  ImportReport& report_;
  bool haveKept_ = false;
  Fix kept_;                      // the last kept fix of the track
  double lastSeconds_ = kNoTime;  // time of the track's last position, kept or not
  bool haveRun_ = false;          // skipped fixes that agree among themselves
  Fix runStart_;
  Fix runLast_;
  std::deque<Fix> runHeld_;  // the run's fixes, not recorded yet
};

}  // namespace roamgrid
