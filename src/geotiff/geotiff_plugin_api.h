// The table of functions that the GeoTIFF writer plugin
// (libroamgrid-geotiff.so) hands to the core: a plain C interface, so that
// the plugin and the programs meet at one symbol and nothing else. The
// plugin links libtiff and libgeotiff (and through them PROJ, curl, image
// codecs, ...); the programs load it with dlopen the first time they write
// a GeoTIFF (export/geotiff_file.h), and never when they do not.
//
// The core owns the pixels and the file: the plugin asks for rows and
// writes through the output's functions, and touches nothing else.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" {

// Raised whenever a structure below changes; the core refuses a plugin of
// another number (a leftover of an older installation).
#define ROAMGRID_GEOTIFF_PLUGIN_ABI 1u
// The one symbol the plugin exports.
#define ROAMGRID_GEOTIFF_PLUGIN_SYMBOL "roamgrid_geotiff_plugin"

// Where the image goes: a seekable file the core replaces once it is whole.
struct RoamgridGeoTiffOutput {
  void* context;
  // Writes `size` bytes at the current position; nonzero when all were.
  int (*write)(void* context, const void* data, size_t size);
  // Moves the position as fseek does; nonzero on success.
  int (*seek)(void* context, int64_t offset, int whence);
  // The current position, or -1.
  int64_t (*tell)(void* context);
};

// The image: one 8-bit band, 0 or 1 per pixel, from the top row down, on a
// geographic (WGS 84) pixel grid.
struct RoamgridGeoTiffImage {
  uint32_t width;      // pixels, at least 1
  uint32_t height;     // pixels, at least 1
  uint32_t tile_side;  // pixels of a square tile, a multiple of 16
  double pixel_degrees;
  double west_degrees;   // the west edge of column 0
  double north_degrees;  // the north edge of row 0
  void* context;
  // The next row of `width` values, or null when the rows ran out early
  // (the rest is written as 0).
  const uint8_t* (*next_row)(void* context);
};

struct RoamgridGeoTiffPlugin {
  uint32_t abi;         // ROAMGRID_GEOTIFF_PLUGIN_ABI
  uint32_t size;        // sizeof(RoamgridGeoTiffPlugin) as the plugin was built
  const char* version;  // libtiff's version text

  // Writes the whole image: 1 when it was written, 0 when a write failed
  // or libtiff gave up.
  int (*write_image)(const RoamgridGeoTiffImage* image, const RoamgridGeoTiffOutput* output);
};

// The table when `abi` is the plugin's own, otherwise a null pointer.
typedef const RoamgridGeoTiffPlugin* (*RoamgridGeoTiffPluginEntry)(uint32_t abi);

}  // extern "C"
