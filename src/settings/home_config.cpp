#include "settings/home_config.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/number_text.h"
#include "common/safe_file.h"

namespace roamgrid {

namespace {

// A line is read as a 256-byte line buffer holds it: at most 255
// characters, up to and including the line feed. A longer line is judged
// in pieces, each as a line of its own.
constexpr int kLineBufferSize = 256;
constexpr size_t kKeyLength = 5;

enum class Key { kLat, kLon, kZoom };

}  // namespace

std::optional<HomePosition> ReadHomeConfig(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::nullopt;

  int32_t values[3] = {0, 0, 0};
  bool seen[3] = {false, false, false};
  bool invalid = false;
  char line[kLineBufferSize];
  while (std::fgets(line, sizeof line, file)) {
    if (line[0] == '#') continue;
    Key key;
    if (std::strncmp(line, "LAT: ", kKeyLength) == 0) {
      key = Key::kLat;
    } else if (std::strncmp(line, "LON: ", kKeyLength) == 0) {
      key = Key::kLon;
    } else if (std::strncmp(line, "SKP: ", kKeyLength) == 0) {
      key = Key::kZoom;
    } else {
      invalid = true;
      break;
    }
    // A number that does not fit 32 bits rejects the file like any other
    // invalid value.
    const std::optional<int32_t> value = ParseLeadingInt32(line + kKeyLength);
    if (!value) {
      invalid = true;
      break;
    }
    values[int(key)] = *value;
    seen[int(key)] = true;
  }
  std::fclose(file);

  if (invalid || !seen[0] || !seen[1] || !seen[2]) return std::nullopt;
  const int32_t zoom = values[int(Key::kZoom)];
  if (zoom < kMinZoomIndex || zoom > kMaxZoomIndex) return std::nullopt;
  // Integer division truncates toward zero: -7 at step 5 becomes -5.
  const int32_t step = AlignmentStep(zoom);
  return HomePosition{values[int(Key::kLat)] / step * step, values[int(Key::kLon)] / step * step,
                      zoom};
}

bool LoadHomeConfig(ViewState& state) {
  const std::optional<HomePosition> home = ReadHomeConfig(kHomeConfigPath);
  if (!home) return false;
  state.homeLat = home->lat;
  state.homeLon = home->lon;
  state.homeZoom = home->zoom;
  return true;
}

bool WriteHomeConfig(const HomePosition& home, const std::string& path) {
  std::string text;
  const auto appendLine = [&text](const char* key, int32_t value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text += key;
    text.append(digits, result.ptr);
    text += "\r\n";
  };
  appendLine("LAT: ", home.lat);
  appendLine("LON: ", home.lon);
  appendLine("SKP: ", home.zoom);

  ReplacingFile file(path, {}, Durability::kSynced);
  if (!file.Open()) return false;
  file.Write(text.data(), text.size());
  return file.Commit();
}

}  // namespace roamgrid
