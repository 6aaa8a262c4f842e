#include "home/home_command.h"

#include "home/home_config.h"

namespace roamgrid {

bool SaveHomePosition(ViewState& state, WindowingPlatform& platform, const std::string& path) {
  if (platform.ShowMessage(kHomeQuestionText, kHomeQuestionTitle, MessageStyle::kQuestionYesNo) !=
      MessageAnswer::kYes) {
    return false;
  }
  const HomePosition home{state.originLat, state.originLon, state.zoomIndex};
  // A home that is not on disk would be lost at the next start while the
  // running program pretended otherwise, so the fields follow the file.
  if (!WriteHomeConfig(home, path)) return false;
  state.homeLat = home.lat;
  state.homeLon = home.lon;
  state.homeZoom = home.zoom;
  return true;
}

}  // namespace roamgrid
