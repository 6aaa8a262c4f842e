// The home configuration file "Roamgrid.cfg": the home view origin (grid
// units) and zoom index, as three lines "LAT: %d", "LON: %d", "SKP: %d"
// ending in CR LF. The reader accepts comments ("#" lines), keys in any
// order and repeated (the last counts), and CR LF or LF line ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "view/view_state.h"

namespace roamgrid {

inline constexpr const char* kHomeConfigPath = "Roamgrid.cfg";

struct HomePosition {
  int32_t lat;   // south edge of the view, grid units
  int32_t lon;   // west edge of the view, grid units
  int32_t zoom;  // index into kZoomSpans, 0..7
  bool operator==(const HomePosition&) const = default;
};

// Reads the file at `path` in pieces of at most 255 characters, as a line
// read with a 256-byte buffer does. Returns the home, with lat and lon
// aligned to the zoom's step (truncating toward zero), when the file
// exists, every piece is a comment or a setting line whose number fits a
// signed 32-bit integer, all three keys were seen and the zoom is 0..7;
// nothing otherwise. A CR right before a LF does not count toward a piece,
// as in a text-mode read of a CR LF file. Only a regular file is read (a
// named pipe or a folder under the name is an invalid file, never waited
// for). When the file exists but cannot be opened or read, `readError`
// (when given) receives errno; it is 0 otherwise.
std::optional<HomePosition> ReadHomeConfig(const std::string& path = kHomeConfigPath,
                                           int* readError = nullptr);

// Reads kHomeConfigPath; when valid, sets homeLat, homeLon and homeZoom of
// `state`. Returns whether the home was replaced; `readError` as above.
bool LoadHomeConfig(ViewState& state, int* readError = nullptr);

// Replaces the file at `path` by "LAT: %d\r\nLON: %d\r\nSKP: %d\r\n" of
// `home` (values as given, not aligned) through a temporary file renamed
// over it. Returns true only when the complete new file replaced the old
// one; otherwise the old file is as it was.
bool WriteHomeConfig(const HomePosition& home, const std::string& path = kHomeConfigPath);

}  // namespace roamgrid
