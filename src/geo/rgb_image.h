// A picture of the map view in plain bytes: the background layers draw into
// it, the desktop view paints it beneath the marks and an image exporter can
// write it. No toolkit type, so the core can draw and test it anywhere.
#pragma once

#include <cstdint>
#include <vector>

namespace roamgrid {

struct Rgb {
  uint8_t red = 255;
  uint8_t green = 255;
  uint8_t blue = 255;
  bool operator==(const Rgb&) const = default;
};

constexpr Rgb kWhite{255, 255, 255};

// width x height pixels, 3 bytes each (red, green, blue), row-major with row
// 0 at the top (north), so a row flipped from the view raster's order.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;

  RgbImage() = default;
  // All white.
  RgbImage(int w, int h) : width(w), height(h), bytes(size_t(w) * size_t(h) * 3, 255) {}

  void Fill(Rgb colour) {
    for (size_t at = 0; at + 2 < bytes.size(); at += 3) {
      bytes[at] = colour.red;
      bytes[at + 1] = colour.green;
      bytes[at + 2] = colour.blue;
    }
  }
  // The pixel at column x, row y from the top; both must be inside.
  Rgb At(int x, int y) const {
    const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
    return {bytes[at], bytes[at + 1], bytes[at + 2]};
  }
  void Set(int x, int y, Rgb colour) {
    const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
    bytes[at] = colour.red;
    bytes[at + 1] = colour.green;
    bytes[at + 2] = colour.blue;
  }
};

}  // namespace roamgrid
