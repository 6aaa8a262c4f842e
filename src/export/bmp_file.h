// The exported image: a 24-bit BMP of 448 x 448 pixels, 602166 bytes, one
// pixel per raster byte in raster order (south row first, west to east),
// marked pixels red (00 00 FF as blue, green, red), all others white. Here
// are the proposed file name, the fixed header, the writing of a new image
// and the merging of the raster into an existing image of the same view.
//
// Both writers replace the file at `path` only with a complete image (a
// temporary file renamed over it), so a failure never leaves a truncated or
// half-merged image behind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "view/view_state.h"

namespace roamgrid {

constexpr size_t kBmpHeaderSize = 54;
constexpr size_t kBmpInfoHeaderSize = 40;
constexpr size_t kBmpPixelSize = 3;  // blue, green, red
constexpr size_t kBmpRowSize = kRasterSide * kBmpPixelSize;
static_assert(kBmpRowSize % 4 == 0, "rows carry no fill bytes");
constexpr size_t kBmpPixelDataSize = kRasterSize * kBmpPixelSize;
static_assert(kBmpPixelDataSize == 602112);
constexpr size_t kBmpFileSize = kBmpHeaderSize + kBmpPixelDataSize;
static_assert(kBmpFileSize == 602166);

// The 54 header bytes: "BM", file size 602166, pixel data at 54, a 40-byte
// information header for 448 x 448 pixels, bottom row first, one plane,
// 24 bits, no compression, pixel data size 602112, no resolution, no palette.
std::array<uint8_t, kBmpHeaderSize> BmpHeader();

// The name the save dialog proposes for the view, such as
// "N035.650-E139.7500-R0.050.bmp": the south edge in degrees ("N%07.3lf",
// or "S%07.3lf" with the minus sign behind the letter), the west edge
// ("-E%07.4lf" / "-W%07.4lf") and the span ("-R%3.3lf"). Independent of the
// process locale.
std::string ProposedExportName(const ViewState& state);

enum class ImageWriteResult {
  kWritten,      // `path` holds the new image
  kCannotOpen,   // the image cannot be created there; `path` untouched
  kWriteFailed,  // a write or the close failed; `path` untouched
};

// Writes the raster (kRasterSize bytes) as a new image at `path`, replacing
// whatever file was there, of any kind and size. An existing file that may
// not be written counts as one that cannot be opened.
ImageWriteResult WriteNewImage(const std::string& path, const uint8_t* raster);

enum class MergeResult {
  kMerged,              // `path` holds the merged image
  kCannotOpenExisting,  // `path` cannot be read; nothing written
  kForeignHeader,       // the first 54 bytes are not our header; nothing written
  kReadFailed,          // reading the old pixels failed part-way (an input error,
                        // not the end of the file); ".bk" removed, `path` untouched
  kWriteFailed,         // `path` may not be written, or the ".bk" file could not be
                        // created, written or put in place; ".bk" removed, `path`
                        // untouched
  kBackupTaken,         // the ".bk" name holds a link, pipe, folder or file this
                        // user may not replace; nothing written
};

// Merges the raster into the image at `path`: a pixel turns red where the
// raster is marked and the old pixel is exactly white (FF FF FF); every
// other pixel keeps its old bytes. The merged image is written to `path`
// with ".bk" appended (a regular file of that name is replaced; anything
// else there refuses the merge; a short temporary name is used instead
// when the name with ".bk" would be too long for a file name) and renamed
// over `path`, or the file a link there points to, once complete. Old pixel data shorter than
// 602112 bytes is read as far as it goes; later pixels repeat the last bytes read (white when
// nothing was read), so the result is always a whole image.
MergeResult MergeIntoImage(const std::string& path, const uint8_t* raster);

}  // namespace roamgrid
