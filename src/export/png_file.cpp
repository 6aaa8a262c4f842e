#include "export/png_file.h"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace roamgrid {

namespace {

struct PngContext {
  const ByteSinkFn* sink;
  bool failed = false;
};

void WriteBytes(png_structp png, png_bytep data, size_t size) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  // A failed write is remembered rather than raised: the rows still to come
  // are dropped by the caller's loop.
  if (!context->failed && !(*context->sink)(data, size)) context->failed = true;
}

void FlushNothing(png_structp) {}

// libpng reports problems through these; nothing is printed.
[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

// The libpng calls, apart from every C++ object: a longjmp from libpng
// lands here and leaves nothing behind but the png structures, freed below.
// `colourRow` holds room for a row of RGBA pixels when there is a background.
bool WritePng(png_structp png, png_infop info, int64_t width, int64_t height,
              const std::function<const uint8_t*()>& nextRow, bool transparent,
              const RgbImage* background, Rgb marks, uint8_t* colourRow, PngContext& context) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (background) {
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8,
                 transparent ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  } else {
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 1, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Index 0 unmarked (white), 1 marked (pure red, as the view and the BMP).
    png_color palette[2] = {{255, 255, 255}, {marks.red, marks.green, marks.blue}};
    png_set_PLTE(png, info, palette, 2);
    if (transparent) {
      png_byte alpha[1] = {0};
      png_set_tRNS(png, info, alpha, 1, nullptr);
    }
  }
  png_write_info(png, info);
  if (!background) png_set_packing(png);  // one byte per pixel in, one bit per pixel out
  const int channels = transparent ? 4 : 3;
  for (int64_t y = 0; y < height && !context.failed; ++y) {
    const uint8_t* row = nextRow();
    if (!row) return false;
    if (!background) {
      png_write_row(png, row);
      continue;
    }
    for (int64_t x = 0; x < width; ++x) {
      const Rgb colour = row[x] ? marks : background->At(int(x), int(y));
      uint8_t* pixel = colourRow + x * channels;
      pixel[0] = colour.red;
      pixel[1] = colour.green;
      pixel[2] = colour.blue;
      if (transparent) pixel[3] = colour == kWhite ? 0 : 255;
    }
    png_write_row(png, colourRow);
  }
  if (context.failed) return false;
  png_write_end(png, nullptr);
  return !context.failed;
}

}  // namespace

bool WriteMarksPng(int64_t width, int64_t height, const std::function<const uint8_t*()>& nextRow,
                   bool transparent, const RgbImage* background, const ByteSinkFn& sink,
                   Rgb marks) {
  if (width <= 0 || height <= 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
    return false;
  if (background && (background->width != width || background->height != height)) return false;
  std::vector<uint8_t> colourRow(background ? size_t(width) * 4 : 0);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  PngContext context{&sink};
  png_set_write_fn(png, &context, WriteBytes, FlushNothing);
  const bool written = WritePng(png, info, width, height, nextRow, transparent, background, marks,
                                colourRow.data(), context);
  png_destroy_write_struct(&png, &info);
  return written;
}

bool WriteRegionPng(RegionRasterizer& raster, bool transparent, const RgbImage* background,
                    const ByteSinkFn& sink) {
  return WriteMarksPng(
      raster.width(), raster.height(), [&] { return raster.NextRow(); }, transparent, background,
      sink);
}

}  // namespace roamgrid
