// The Set Home Position command (button 1019): after the user confirms,
// the current view origin and zoom index become the home position, in
// "Roamgrid.cfg" and in the home fields. The view is neither moved nor
// redrawn.
#pragma once

#include <string>

#include "common/windowing_platform.h"
#include "view/view_state.h"

namespace roamgrid {

inline constexpr char kHomeQuestionText[] = "Are you shure?";
inline constexpr char kHomeQuestionTitle[] = "Home Position";

// Asks "Are you shure?" (caption "Home Position", Yes and No, question
// icon). Only on Yes it writes originLat, originLon and zoomIndex to the
// home file at `path`, and only when the whole file was written does it
// copy them into homeLat, homeLon and homeZoom. Returns true when the home
// changed; false on No, or when the file could not be replaced (the old
// file and the home fields then stay as they were).
bool SaveHomePosition(ViewState& state, WindowingPlatform& platform,
                      const std::string& path = "Roamgrid.cfg");

}  // namespace roamgrid
