#include "import/track_points.h"

#include <cstdint>

namespace roamgrid {

namespace {

constexpr double kDegreesToRadians = 3.14159265358979323846 / 180.0;
constexpr double kSecondsPerHour = 3600.0;

}  // namespace

double DistanceMetres(double lat1, double lon1, double lat2, double lon2) {
  // The haversine formula, sound for short and long distances alike.
  const double phi1 = lat1 * kDegreesToRadians;
  const double phi2 = lat2 * kDegreesToRadians;
  const double sinLat = std::sin((phi2 - phi1) / 2);
  const double sinLon = std::sin((lon2 - lon1) * kDegreesToRadians / 2);
  double h = sinLat * sinLat + std::cos(phi1) * std::cos(phi2) * sinLon * sinLon;
  if (h > 1.0) h = 1.0;
  return 2 * kEarthRadiusMetres * std::asin(std::sqrt(h));
}

bool TrackPoints::TooFast(const Fix& from, const Fix& to) const {
  const double elapsed = to.seconds - from.seconds;
  // Positions of the same second (or without times) cannot be judged.
  if (!(elapsed > 0)) return false;
  const double metres = DistanceMetres(from.lat, from.lon, to.lat, to.lon);
  return metres / elapsed * kSecondsPerHour / 1000.0 > double(options_.maxSpeedKmh);
}

void TrackPoints::MarkLine(const Fix& to) {
  GridCell end = to.cell;
  // The short way round across the 180th meridian; MarkCell takes the
  // columns back into the grid.
  const int64_t columns = end.column - kept_.cell.column;
  if (columns > kWorldColumns / 2) end.column -= kWorldColumns;
  if (columns < -kWorldColumns / 2) end.column += kWorldColumns;
  const long long cellsBefore = recorder_.newCells;
  const GridCell from = kept_.cell;
  ForEachLineCell(from, end, [&](GridCell cell) {
    if (cell != from && cell != end) MarkCell(recorder_, cell);
  });
  report_.lineCells += recorder_.newCells - cellsBefore;
}

bool TrackPoints::Add(double lat, double lon, double seconds) {
  if (!WantsTimes()) return AddPoint(recorder_, lat, lon);  // as designed

  Fix fix{lat, lon, seconds, {}};
  if (!CellOfFix(lat, lon, &fix.cell)) return false;  // AddPoint would drop it
  // A gap in the times, or times that go back, end the track.
  if (!std::isnan(seconds) && !std::isnan(lastSeconds_)) {
    const double gap = seconds - lastSeconds_;
    if (gap > kTrackGapSeconds || gap < 0) EndTrack();
  }
  lastSeconds_ = seconds;

  if (options_.maxSpeedKmh > 0 && haveKept_ && TooFast(kept_, fix)) {
    // Skipped fixes that follow each other at a possible speed for long
    // enough are where the receiver really is now.
    if (haveRun_ && !TooFast(runLast_, fix) && fix.seconds - runLast_.seconds > 0) {
      runLast_ = fix;
    } else {
      haveRun_ = true;
      runStart_ = fix;
      runLast_ = fix;
      runHeld_.clear();
    }
    if (!(runLast_.seconds - runStart_.seconds > kTrackGapSeconds)) {
      // Held until the run shows whether the receiver has moved.
      if (runHeld_.size() == kRunHeldMax) runHeld_.pop_front();
      runHeld_.push_back(fix);
      ++report_.tooFast;
      return false;
    }
    // It has: its track starts again with the fixes of the run.
    const std::deque<Fix> held = std::move(runHeld_);
    EndTrack();
    lastSeconds_ = seconds;
    for (const Fix& before : held) {
      Keep(before);
      --report_.tooFast;
      ++report_.fixes;
    }
  }
  haveRun_ = false;
  runHeld_.clear();
  Keep(fix);
  return true;
}

void TrackPoints::Keep(const Fix& fix) {
  if (options_.connectMetres > 0 && haveKept_ &&
      DistanceMetres(kept_.lat, kept_.lon, fix.lat, fix.lon) <= double(options_.connectMetres) &&
      !(options_.maxSpeedKmh > 0 && TooFast(kept_, fix))) {
    MarkLine(fix);
  }
  MarkCell(recorder_, fix.cell);
  kept_ = fix;
  haveKept_ = true;
}

void TrackPoints::EndTrack() {
  haveKept_ = false;
  haveRun_ = false;
  runHeld_.clear();
  lastSeconds_ = kNoTime;
}

}  // namespace roamgrid
