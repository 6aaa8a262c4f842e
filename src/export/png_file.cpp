#include "export/png_file.h"

#include <png.h>

#include <csetjmp>

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
bool WritePng(png_structp png, png_infop info, int64_t width, int64_t height,
              const std::function<const uint8_t*()>& nextRow, bool transparent,
              PngContext& context) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 1, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Index 0 unmarked (white), 1 marked (pure red, as the view and the BMP).
  png_color palette[2] = {{255, 255, 255}, {255, 0, 0}};
  png_set_PLTE(png, info, palette, 2);
  if (transparent) {
    png_byte alpha[1] = {0};
    png_set_tRNS(png, info, alpha, 1, nullptr);
  }
  png_write_info(png, info);
  png_set_packing(png);  // one byte per pixel in, one bit per pixel out
  for (int64_t y = 0; y < height && !context.failed; ++y) {
    const uint8_t* row = nextRow();
    if (!row) return false;
    png_write_row(png, row);
  }
  if (context.failed) return false;
  png_write_end(png, nullptr);
  return !context.failed;
}

}  // namespace

bool WriteMarksPng(int64_t width, int64_t height, const std::function<const uint8_t*()>& nextRow,
                   bool transparent, const ByteSinkFn& sink) {
  if (width <= 0 || height <= 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
    return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  PngContext context{&sink};
  png_set_write_fn(png, &context, WriteBytes, FlushNothing);
  const bool written = WritePng(png, info, width, height, nextRow, transparent, context);
  png_destroy_write_struct(&png, &info);
  return written;
}

bool WriteRegionPng(RegionRasterizer& raster, bool transparent, const ByteSinkFn& sink) {
  return WriteMarksPng(raster.width(), raster.height(), [&] { return raster.NextRow(); },
                       transparent, sink);
}

}  // namespace roamgrid
