// The Export command: writes the view raster as a BMP image, new or merged
// into an existing image of the same view. It reads the view state and the
// raster as they stand and changes nothing on screen.
#pragma once

#include <cstdint>

#include "common/windowing_platform.h"
#include "view/view_state.h"

namespace roamgrid {

// The texts of the message boxes the command shows (empty title,
// exclamation icon, one OK button).
inline constexpr char kCannotOpenText[] = "Can not Open";    // new image not created
inline constexpr char kCannotWriteText[] = "Can not Write";  // new image not written whole
inline constexpr char kCannotMergeText[] = "Can not Marge";  // merge refused or failed

// Proposes a name from the view, asks for a path (Cancel ends it), asks
// overwrite/merge/cancel when the path can be read (Cancel ends it), then
// writes a new image or merges into the old one. `raster` holds kRasterSize
// bytes. A failure is shown in a message box and leaves any old image as
// it was; a merge whose old image cannot be opened ends without a word.
void ExportBitmap(const ViewState& state, const uint8_t* raster, WindowingPlatform& platform);

}  // namespace roamgrid
