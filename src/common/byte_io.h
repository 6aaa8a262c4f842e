// Little-endian byte helpers for the binary files (tiles, BMP). Values are
// written byte by byte from explicit shifts, never by dumping structs, so
// the same values give the same bytes on every platform.
#pragma once

#include <cstdint>

namespace roamgrid {

inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void PutLE64(uint8_t* p, uint64_t v) {
  PutLE32(p, uint32_t(v));
  PutLE32(p + 4, uint32_t(v >> 32));
}

inline uint64_t GetLE64(const uint8_t* p) { return GetLE32(p) | uint64_t(GetLE32(p + 4)) << 32; }

}  // namespace roamgrid
