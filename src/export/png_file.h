// PNG images of the marks (libpng): visited pixels the view's red, all
// others white or, for overlays, fully transparent. Rows are compressed
// as they come, so no image is held whole in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "export/region_raster.h"
#include "geo/rgb_image.h"

namespace roamgrid {

// Receives the bytes of a file in order; false when they could not be
// written (the writer then stops at the next row).
using ByteSinkFn = std::function<bool(const void* data, size_t size)>;

// Writes an image of `width` x `height` pixels whose rows, top (north)
// first, come from `nextRow` (width bytes, non-zero marked). Unmarked
// pixels show `background` (of the same size, row 0 at the top) when given,
// else white; with `transparent` the unmarked pixels that are white are
// transparent. Without a background the image is two-colour (a palette);
// with one it is 8-bit RGB (RGBA when transparent). Marked pixels are
// `marks` (the view's pure red unless told otherwise). Returns false when
// a write failed or libpng gave up.
bool WriteMarksPng(int64_t width, int64_t height, const std::function<const uint8_t*()>& nextRow,
                   bool transparent, const RgbImage* background, const ByteSinkFn& sink,
                   Rgb marks = Rgb{255, 0, 0});

// The raster of a region as a PNG image.
bool WriteRegionPng(RegionRasterizer& raster, bool transparent, const RgbImage* background,
                    const ByteSinkFn& sink);

}  // namespace roamgrid
