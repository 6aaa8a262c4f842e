// The Import command: lets the user choose NMEA logs and records their
// fixes into the tiles with the main dialog's one recorder.
#pragma once

#include "common/windowing_platform.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// Asks for logs and reads them in the order the dialog returns them, all
// with `recorder`. Returns true when logs were chosen, even if none could
// be read: the caller then rebuilds the view once and repaints it. Returns
// false on Cancel: nothing read, and the caller neither rebuilds nor
// repaints. A log that cannot be opened is skipped without a word.
bool ImportLogs(TrackRecorder& recorder, WindowingPlatform& platform);

}  // namespace roamgrid
