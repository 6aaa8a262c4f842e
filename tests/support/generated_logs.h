// Generated inputs for the import tests: NMEA drives as a receiver writes
// them, gzip members of any bytes, and the tile files a store holds.
#pragma once

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "support/gzip_member.h"
#include "support/temp_dir.h"

namespace roamgrid::testing {

// A GGA sentence at (lat, lon) with its checksum.
inline std::string GgaSentence(double lat, double lon, const char* talker = "GP") {
  const auto field = [](double degrees, int width) {
    const double magnitude = std::fabs(degrees);
    const int whole = int(magnitude);
    return FormatFixed(whole * 100 + (magnitude - whole) * 60, width + 5, 4, true);
  };
  const std::string body = std::string(talker) + "GGA,123519," + field(lat, 4) + "," +
                           (lat < 0 ? "S" : "N") + "," + field(lon, 5) + "," +
                           (lon < 0 ? "W" : "E") + ",1,08,0.9,545.4,M,46.9,M,,";
  unsigned sum = 0;
  for (char c : body) sum ^= uint8_t(c);
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "*%02X", sum);
  return "$" + body + checksum;
}

// A drive of `fixes` fixes from (lat, lon) with what a receiver writes
// besides: RMC sentences, GGA lines without a position, CR LF line ends.
inline std::string GeneratedDrive(double lat, double lon, int fixes, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> step(-0.0004, 0.0006);
  std::string log;
  for (int n = 0; n < fixes; ++n) {
    lat += step(random);
    lon += step(random);
    log += GgaSentence(lat, lon) + (n % 3 ? "\r\n" : "\n");
    if (n % 50 == 0)
      log += "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
    if (n % 97 == 0) log += "$GPGGA,123520,,,,,0,00,,,M,,M,,*66\r\n";
  }
  return log;
}

// Every file below `root`, by path relative to it, with its bytes.
inline std::map<std::string, std::vector<uint8_t>> FilesBelow(const std::filesystem::path& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  if (!std::filesystem::exists(root)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files[std::filesystem::relative(entry.path(), root).string()] =
          ReadBytes(entry.path().string());
  return files;
}

}  // namespace roamgrid::testing
