#include "home/home_config.h"

#include <cerrno>
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

// Reads the next piece as a text-mode line read of at most 255 characters
// sees it: a CR right before a LF is dropped (so it takes no room in the
// piece), and the piece ends after a LF. Returns its length, 0 at the end.
size_t ReadPiece(FILE* file, char (&piece)[kLineBufferSize]) {
  size_t length = 0;
  while (length < kLineBufferSize - 1) {
    int c = getc(file);
    if (c == EOF) break;
    if (c == '\r') {
      const int next = getc(file);
      if (next == '\n') {
        c = next;
      } else if (next != EOF) {
        ungetc(next, file);
      }
    }
    piece[length++] = char(c);
    if (c == '\n') break;
  }
  piece[length] = '\0';
  return length;
}

}  // namespace

std::optional<HomePosition> ReadHomeConfig(const std::string& path, int* readError) {
  int ignored;
  int& error = readError ? *readError : ignored;
  error = 0;
  // Only a regular file, opened without waiting: a named pipe or a folder
  // under the name is an invalid home file, not one to wait for.
  FILE* file = OpenRegularFile(path);
  if (!file) {
    if (errno != ENOENT && errno != EISDIR && errno != EINVAL) error = errno;
    return std::nullopt;
  }

  int32_t values[3] = {0, 0, 0};
  bool seen[3] = {false, false, false};
  bool invalid = false;
  char line[kLineBufferSize];
  while (ReadPiece(file, line) > 0) {
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
  if (std::ferror(file)) error = errno;
  std::fclose(file);

  if (error != 0 || invalid || !seen[0] || !seen[1] || !seen[2]) return std::nullopt;
  const int32_t zoom = values[int(Key::kZoom)];
  if (zoom < kMinZoomIndex || zoom > kMaxZoomIndex) return std::nullopt;
  // Integer division truncates toward zero: -7 at step 5 becomes -5.
  const int32_t step = AlignmentStep(zoom);
  return HomePosition{values[int(Key::kLat)] / step * step, values[int(Key::kLon)] / step * step,
                      zoom};
}

bool LoadHomeConfig(ViewState& state, int* readError) {
  const std::optional<HomePosition> home = ReadHomeConfig(kHomeConfigPath, readError);
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
