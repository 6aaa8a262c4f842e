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

namespace {

// Draws `colour` over the pixel at p by its alpha ("source over", alpha not
// premultiplied).
inline void BlendBytes(uint8_t* p, Rgba colour) {
  if (colour.alpha == 0) return;
  if (colour.alpha == 255 || p[3] == 0) {
    p[0] = colour.red;
    p[1] = colour.green;
    p[2] = colour.blue;
    p[3] = colour.alpha;
    return;
  }
  // out = (src * a + dst * da * (1 - a)) / outAlpha, in units of 1/255.
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

}  // namespace

void RgbaImage::Blend(int x, int y, Rgba colour) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  BlendBytes(bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * 4, colour);
}

void RgbaImage::BlendSpan(int x0, int x1, int y, Rgba colour) {
  if (y < 0 || y >= height) return;
  uint8_t* row = bytes.data() + size_t(y) * size_t(width) * 4;
  for (int x = std::max(x0, 0); x < std::min(x1, width); ++x)
    BlendBytes(row + size_t(x) * 4, colour);
}

void PaintMask(const MaskImage& mask, Rgba colour, RgbaImage& image) {
  if (mask.width != image.width || mask.height != image.height) return;
  const size_t count = mask.bytes.size();
  for (size_t at = 0; at < count; ++at)
    if (mask.bytes[at]) BlendBytes(image.bytes.data() + at * 4, colour);
}

}  // namespace roamgrid
