// Straightforward log reader written from the reading rules alone: one line
// read with a 1024-byte buffer per line, strtod, and the comma walk with the
// two field commas overwritten in place. A GGA line that cannot be read is
// skipped and reading goes on. The fast block reader is checked against it.
#pragma once

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tiles/track_recorder.h"

namespace roamgrid::testing {

struct ReferenceCounts {
  long long fixes = 0;
  long long skipped = 0;
};

inline double ReferenceDegrees(double value) {
  const double q = value / 100.0;
  // Out of the 32-bit range the processor's conversion gives INT_MIN.
  const int d = (q > -2147483649.0 && q < 2147483648.0) ? int(q) : INT_MIN;
  return d + (q - d) * 1.6666666666666667;
}

// Returns false when the file cannot be opened. Numbers are read with
// strtod, so the process must be in the "C" locale.
inline bool ReferenceImportNmeaLog(TrackRecorder& recorder, const char* path,
                                   ReferenceCounts* counts) {
  FILE* file = std::fopen(path, "r");
  if (!file) return false;
  char line[1024];
  while (std::fgets(line, sizeof line, file)) {
    if (std::strncmp(line, "$GPGGA,", 7) != 0) continue;
    char* p = std::strchr(line + 7, ',');
    if (!p) {
      ++counts->skipped;
      continue;
    }
    char* latText = p + 1;
    p = std::strchr(latText, ',');
    if (!p) {
      ++counts->skipped;
      continue;
    }
    *p++ = '\0';
    double lat = ReferenceDegrees(std::strtod(latText, nullptr));
    if (*p == 'S') {
      lat *= -1;
    } else if (*p != 'N') {
      ++counts->skipped;
      continue;
    }
    p = std::strchr(p, ',');
    if (!p) {
      ++counts->skipped;
      continue;
    }
    char* lonText = p + 1;
    p = std::strchr(lonText, ',');
    if (!p) {
      ++counts->skipped;
      continue;
    }
    *p++ = '\0';
    double lon = ReferenceDegrees(std::strtod(lonText, nullptr));
    if (*p == 'W') {
      lon *= -1;
    } else if (*p != 'E') {
      ++counts->skipped;
      continue;
    }
    if (AddPoint(recorder, lat, lon)) ++counts->fixes;
  }
  std::fclose(file);
  ReleaseRecorderTile(recorder);
  return true;
}

}  // namespace roamgrid::testing
