#include "import/track_points.h"

#include <cstdint>
#include <cstring>

namespace roamgrid {

namespace {

constexpr double kDegreesToRadians = 3.14159265358979323846 / 180.0;
constexpr double kSecondsPerHour = 3600.0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads exactly `count` digits at *p.
bool ReadDigits(const char*& p, int count, int* value) {
  int result = 0;
  for (int i = 0; i < count; ++i, ++p) {
    if (!IsDigit(*p)) return false;
    result = result * 10 + (*p - '0');
  }
  *value = result;
  return true;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar (month 1..12).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

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

double ParseIsoDateTime(const char* text) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  int year, month, day, hour, minute, second;
  if (!ReadDigits(p, 4, &year) || *p++ != '-' || !ReadDigits(p, 2, &month) || *p++ != '-' ||
      !ReadDigits(p, 2, &day) || *p++ != 'T' || !ReadDigits(p, 2, &hour) || *p++ != ':' ||
      !ReadDigits(p, 2, &minute) || *p++ != ':' || !ReadDigits(p, 2, &second)) {
    return kNoTime;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 24 || minute > 59 || second > 60)
    return kNoTime;
  double fraction = 0.0;
  if (*p == '.') {
    ++p;
    if (!IsDigit(*p)) return kNoTime;
    for (double scale = 0.1; IsDigit(*p); ++p, scale /= 10) fraction += (*p - '0') * scale;
  }
  int offsetMinutes = 0;
  if (*p == 'Z') {
    ++p;
  } else if (*p == '+' || *p == '-') {
    const int sign = *p++ == '-' ? -1 : 1;
    int offsetHours, offsetMins;
    if (!ReadDigits(p, 2, &offsetHours) || *p++ != ':' || !ReadDigits(p, 2, &offsetMins) ||
        offsetHours > 23 || offsetMins > 59)
      return kNoTime;
    offsetMinutes = sign * (offsetHours * 60 + offsetMins);
  }
  while (IsSpace(*p)) ++p;
  if (*p != '\0') return kNoTime;
  const int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                          second - int64_t{offsetMinutes} * 60;
  return double(seconds) + fraction;
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
    }
    if (!(runLast_.seconds - runStart_.seconds > kTrackGapSeconds)) {
      ++report_.tooFast;
      return false;
    }
    EndTrack();
    lastSeconds_ = seconds;
  }
  haveRun_ = false;

  if (options_.connectMetres > 0 && haveKept_ &&
      DistanceMetres(kept_.lat, kept_.lon, lat, lon) <= double(options_.connectMetres) &&
      !(options_.maxSpeedKmh > 0 && TooFast(kept_, fix))) {
    MarkLine(fix);
  }
  MarkCell(recorder_, fix.cell);
  kept_ = fix;
  haveKept_ = true;
  return true;
}

void TrackPoints::EndTrack() {
  haveKept_ = false;
  haveRun_ = false;
  lastSeconds_ = kNoTime;
}

}  // namespace roamgrid
