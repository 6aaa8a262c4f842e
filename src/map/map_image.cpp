#include "map/map_image.h"

#include <algorithm>
#include <cstring>

namespace roamgrid {

void MaskImage::Reset(int w, int h) {
  width = std::max(w, 0);
  height = std::max(h, 0);
  bytes.assign(size_t(width) * size_t(height), 0);
}

bool MaskImage::Any() const {
  return std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; });
}

long long MaskImage::Count() const {
  return std::count_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; });
}

void RgbaImage::Reset(int w, int h) {
  width = std::max(w, 0);
  height = std::max(h, 0);
  bytes.assign(size_t(width) * size_t(height) * 4, 0);
}

Rgba RgbaImage::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {};
  const uint8_t* p = bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
  return {p[0], p[1], p[2], p[3]};
}

void RgbaImage::Set(int x, int y, Rgba colour) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t* p = bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
  p[0] = colour.red;
  p[1] = colour.green;
  p[2] = colour.blue;
  p[3] = colour.alpha;
}

void RgbaImage::Blend(int x, int y, Rgba colour) {
  if (x < 0 || y < 0 || x >= width || y >= height || colour.alpha == 0) return;
  uint8_t* p = bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
  if (colour.alpha == 255 || p[3] == 0) {
    p[0] = colour.red;
    p[1] = colour.green;
    p[2] = colour.blue;
    p[3] = colour.alpha;
    return;
  }
  // Source over, alpha not premultiplied, in units of 1/255 scaled by
  // 255 again: out = src * a + dst * da * (1 - a), divided by the new alpha.
  const int a = colour.alpha, da = p[3];
  const int outAlpha255 = a * 255 + da * (255 - a);  // alpha x 255
  const auto mix = [&](int src, int dst) {
    return uint8_t((src * a * 255 + dst * da * (255 - a) + outAlpha255 / 2) / outAlpha255);
  };
  p[0] = mix(colour.red, p[0]);
  p[1] = mix(colour.green, p[1]);
  p[2] = mix(colour.blue, p[2]);
  p[3] = uint8_t((outAlpha255 + 127) / 255);
}

void PaintMask(const MaskImage& mask, Rgba colour, RgbaImage& image) {
  if (mask.width != image.width || mask.height != image.height) return;
  for (int y = 0; y < mask.height; ++y) {
    const uint8_t* row = mask.bytes.data() + size_t(y) * size_t(mask.width);
    for (int x = 0; x < mask.width; ++x)
      if (row[x]) image.Blend(x, y, colour);
  }
}

}  // namespace roamgrid
