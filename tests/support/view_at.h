// A view state at a given origin and zoom index, home fields at their defaults.
#pragma once

#include <cstdint>

#include "view/view_state.h"

namespace roamgrid::testing {

inline ViewState ViewAt(int32_t lat, int32_t lon, int32_t zoomIndex) {
  ViewState state;
  state.originLat = lat;
  state.originLon = lon;
  state.zoomIndex = zoomIndex;
  return state;
}

}  // namespace roamgrid::testing
