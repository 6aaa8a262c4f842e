#include "import/track_points.h"

namespace roamgrid {

bool TrackPoints::Add(double lat, double lon, double seconds) {
  (void)seconds;  // no option looks at times yet
  return AddPoint(recorder_, lat, lon);
}

void TrackPoints::EndTrack() {
  // Nothing joins consecutive positions yet; the options and report are for
  // the rules that will.
  (void)options_;
  (void)report_;
}

}  // namespace roamgrid
