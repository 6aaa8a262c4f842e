// Plain pixel buffers of the Map window's drawings: the 8-bit mask of the
// marks and the RGBA picture the layers draw into. Row 0 is the top (north)
// row, column 0 the west column, as on screen; no toolkit type, so the core
// draws and tests them anywhere and a front end wraps the bytes as they are
// (RGBA: 4 bytes a pixel in the order red, green, blue, alpha, alpha not
// premultiplied).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace roamgrid {

// width x height bytes, 1 where a mark is drawn, 0 elsewhere.
struct MaskImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;

  MaskImage() = default;
  MaskImage(int w, int h) { Reset(w, h); }
  // Resizes to w x h (negative sizes count as 0) with every byte 0.
  void Reset(int w, int h);
  bool Any() const;
  long long Count() const;
  // 0 outside the image.
  uint8_t At(int x, int y) const {
    return x < 0 || y < 0 || x >= width || y >= height ? 0 : bytes[size_t(y) * size_t(width) + x];
  }
  bool operator==(const MaskImage&) const = default;
};

struct Rgba {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t alpha = 0;  // 0 transparent, 255 opaque
  bool operator==(const Rgba&) const = default;
};

// The red of the marks, as the main view paints them.
constexpr Rgba kMarksRed{255, 0, 0, 255};

// width x height pixels of 4 bytes (red, green, blue, alpha).
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;

  RgbaImage() = default;
  RgbaImage(int w, int h) { Reset(w, h); }
  // Resizes to w x h (negative sizes count as 0), all transparent.
  void Reset(int w, int h);
  // Transparent black outside the image.
  Rgba At(int x, int y) const;
  // Sets the pixel (nothing outside the image).
  void Set(int x, int y, Rgba colour);
  // Draws `colour` over the pixel by its alpha ("source over"; nothing
  // outside the image).
  void Blend(int x, int y, Rgba colour);
  // The same over the pixels x0 .. x1 - 1 of row y (those inside).
  void BlendSpan(int x0, int x1, int y, Rgba colour);
};

// Paints `colour` (opaque or not) over every pixel of `image` where `mask`
// is set; both must have the same size (else nothing is painted).
void PaintMask(const MaskImage& mask, Rgba colour, RgbaImage& image);

}  // namespace roamgrid
