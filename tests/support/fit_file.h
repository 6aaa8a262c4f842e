// FIT files as a device writes them, for the import tests and the fuzz
// seeds: a file_id message, record definitions in both byte orders (one
// with a developer field), records with full and compressed timestamp
// headers, and one record without a position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "import/fit_reader.h"

namespace roamgrid::testing {

// A whole FIT file (header with its CRC, the messages, the file CRC) whose
// records hold `semicircles` (latitude, longitude, latitude...) in order.
inline std::string FitFile(const std::vector<int32_t>& semicircles) {
  std::string data;
  const auto byte = [&](int b) { data += char(uint8_t(b)); };
  const auto le32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) byte(int(v >> (8 * i)));
  };
  const auto be32 = [&](uint32_t v) {
    for (int i = 3; i >= 0; --i) byte(int(v >> (8 * i)));
  };
  // file_id (global 0) as local 2 with one field, and one message of it.
  for (int b : {0x42, 0, 0, 0, 0, 1, 0, 1, 0x00, 0x02, 4}) byte(b);
  // Local 0, little-endian record: timestamp, position_lat, position_long, heart_rate.
  for (int b : {0x40, 0, 0, 20, 0, 4, 253, 4, 0x86, 0, 4, 0x85, 1, 4, 0x85, 3, 1, 0x02}) byte(b);
  // Local 1, big-endian record: position_long, position_lat, a developer field of 3 bytes.
  for (int b : {0x61, 0, 1, 0, 20, 2, 1, 4, 0x85, 0, 4, 0x85, 1, 0, 3, 0}) byte(b);
  constexpr uint32_t kStart = 1030000000;
  for (size_t i = 0; i + 1 < semicircles.size(); i += 2) {
    const uint32_t lat = uint32_t(semicircles[i]), lon = uint32_t(semicircles[i + 1]);
    const uint32_t time = kStart + uint32_t(i);
    switch (i / 2 % 3) {
      case 0:
        byte(0x00);
        le32(time);
        le32(lat);
        le32(lon);
        byte(120);
        break;
      case 1:
        byte(0x80 | (time & 0x1F));  // compressed timestamp, local 0
        le32(time);
        le32(lat);
        le32(lon);
        byte(121);
        break;
      default:
        byte(0x01);
        be32(lon);
        be32(lat);
        for (int b : {7, 8, 9}) byte(b);
        break;
    }
    if (i == 0) {  // a record without a position
      byte(0x00);
      le32(kStart);
      le32(0x7FFFFFFF);
      le32(0x7FFFFFFF);
      byte(0);
    }
  }
  std::string file;
  for (int b : {14, 0x20, 0x4C, 0x08}) file += char(b);
  for (int i = 0; i < 4; ++i) file += char(uint8_t(data.size() >> (8 * i)));
  file += ".FIT";
  const uint16_t headerCrc = FitCrc(0, reinterpret_cast<const uint8_t*>(file.data()), 12);
  file += char(headerCrc & 0xFF);
  file += char(headerCrc >> 8);
  file += data;
  const uint16_t crc = FitCrc(0, reinterpret_cast<const uint8_t*>(file.data()), file.size());
  file += char(crc & 0xFF);
  file += char(crc >> 8);
  return file;
}

}  // namespace roamgrid::testing
