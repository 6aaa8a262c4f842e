// The Export command: writes the view raster as a BMP image, new or merged
// into an existing image of the same view. It reads the view state and the
// raster as they stand and changes nothing on screen.
#pragma once

#include <cstdint>
#include <string>

#include "common/windowing_platform.h"
#include "export/export_formats.h"
#include "export/region_choice.h"
#include "geo/rgb_image.h"
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
//
// A path ending in ".png" (any case) gets a PNG image instead: `shown`,
// the picture of the map as the window paints it (background and
// attribution included), when given, else the raster red on white as the
// BMP would hold it. A PNG cannot be merged into: Marge shows "Can not
// Marge" and writes nothing.
void ExportBitmap(const ViewState& state, const uint8_t* raster, WindowingPlatform& platform,
                  const RgbImage* shown = nullptr);

// The text shown when the region export is given a name it cannot write.
inline const std::string kRegionSuffixText = RegionExportSuffixesText();

// The title of the progress window of "Export region...".
inline constexpr char kExportRegionTitle[] = "Export region";

// "Export region...": asks which area, format and detail (ChooseExportRegion
// showing `choice`, which then keeps the answer for the next time; Cancel
// ends it), asking again after saying what is wrong with an area that names
// no cells or an image too large; then asks for a path (ChooseRegionExport
// Path, proposing ProposedRegionName; Cancel ends it) and writes the cells
// in the format of the path's suffix (PNG, GeoTIFF, GeoJSON, KML or KMZ)
// under the platform's task progress, whose Cancel leaves the path as it
// was. An unknown suffix or a failure is shown in a message box (empty
// title, exclamation icon); an old file is replaced only by a complete one.
void ExportChosenRegion(const ViewState& state, WindowingPlatform& platform,
                        RegionExportChoice& choice);

}  // namespace roamgrid
