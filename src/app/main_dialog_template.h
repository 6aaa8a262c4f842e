// Dialog template 102, the main dialog, as data: caption, size, font and
// the 24 controls in template order (which is also their creation order;
// the tab order follows their places), each with identifier, class, text,
// rectangle in dialog units and window style. The Qt layer builds the dialog from this table; dialog
// units become pixels with fixed dialog base units of 7 x 12 pixels.
#pragma once

#include <array>
#include <cstdint>

namespace roamgrid {

// Control identifiers the program addresses.
constexpr int kIdNorth = 1001;        // "N"
constexpr int kIdWest = 1002;         // "W"
constexpr int kIdSouth = 1003;        // "S"
constexpr int kIdEast = 1004;         // "E"
constexpr int kIdCenterLat = 1005;    // edit: centre latitude, degrees
constexpr int kIdCenterLon = 1006;    // edit: centre longitude, degrees
constexpr int kIdZoomUp = 1007;       // "Zoom Up"
constexpr int kIdZoomDown = 1008;     // "Zoom Down"
constexpr int kIdImport = 1009;       // "Import"
constexpr int kIdPlaceholder = 1010;  // static the view window replaces
constexpr int kIdJump = 1011;         // "Jump"
constexpr int kIdSpan = 1012;         // edit: view span, degrees (read-only)
constexpr int kIdExport = 1013;       // "Export"
constexpr int kIdTileWest = 1014;     // "w"
constexpr int kIdTileEast = 1015;     // "e"
constexpr int kIdTileSouth = 1016;    // "s"
constexpr int kIdTileNorth = 1017;    // "n"
constexpr int kIdHome = 1018;         // "Home"
constexpr int kIdSetHome = 1019;      // "Set Home Position"
constexpr int kIdUnaddressed = -1;    // a label the code never addresses

// Window style bits the builder reads.
constexpr uint32_t kStyleBorder = 0x00800000;    // WS_BORDER
constexpr uint32_t kStyleTabStop = 0x00010000;   // WS_TABSTOP
constexpr uint32_t kStyleEditRight = 0x0002;     // ES_RIGHT
constexpr uint32_t kStyleReadOnly = 0x0800;      // ES_READONLY
constexpr uint32_t kStyleStaticSunken = 0x1000;  // SS_SUNKEN

constexpr uint32_t kPushButtonStyle = 0x50010000;   // child, visible, tab stop, push button
constexpr uint32_t kLabelStyle = 0x50020000;        // child, visible, group, left text
constexpr uint32_t kEditStyle = 0x50810080;         // border, tab stop, auto h-scroll
constexpr uint32_t kSpanEditStyle = 0x50810882;     // as above, read-only, right-aligned
constexpr uint32_t kPlaceholderStyle = 0x50821000;  // border, group, sunken

enum class ControlClass { kButton, kEdit, kStatic };

struct ControlTemplate {
  int id;
  ControlClass controlClass;
  const char* text;         // UTF-8
  int x, y, width, height;  // dialog units
  uint32_t style;
};

struct DialogTemplate {
  const char* caption;
  uint32_t style;
  uint32_t exStyle;
  int width, height;  // dialog units
  const char* fontFace;
  int fontPoints;
};

constexpr DialogTemplate kMainDialog = {
    "Roamgrid", 0x90C800C0, 0x00040000, 362, 315, "MS UI Gothic", 9,
};

using CC = ControlClass;
constexpr std::array<ControlTemplate, 24> kMainDialogControls = {{
    {kIdNorth, CC::kButton, "N", 304, 96, 18, 17, kPushButtonStyle},
    {kIdWest, CC::kButton, "W", 284, 114, 18, 17, kPushButtonStyle},
    {kIdSouth, CC::kButton, "S", 304, 134, 18, 17, kPushButtonStyle},
    {kIdEast, CC::kButton, "E", 324, 114, 18, 17, kPushButtonStyle},
    {kIdCenterLat, CC::kEdit, "", 293, 7, 60, 14, kEditStyle},
    {kIdCenterLon, CC::kEdit, "", 293, 24, 60, 14, kEditStyle},
    {kIdUnaddressed, CC::kStatic, "NS", 276, 8, 10, 8, kLabelStyle},
    {kIdUnaddressed, CC::kStatic, "EW", 276, 26, 10, 8, kLabelStyle},
    {kIdZoomUp, CC::kButton, "Zoom Up", 290, 171, 50, 14, kPushButtonStyle},
    {kIdZoomDown, CC::kButton, "Zoom Down", 290, 187, 50, 14, kPushButtonStyle},
    {kIdImport, CC::kButton, "Import", 313, 294, 42, 14, kPushButtonStyle},
    {kIdPlaceholder, CC::kStatic, "スタティック", 7, 7, 258, 301, kPlaceholderStyle},
    {kIdJump, CC::kButton, "Jump", 292, 43, 63, 14, kPushButtonStyle},
    {kIdSpan, CC::kEdit, "", 305, 205, 25, 14, kSpanEditStyle},
    {kIdUnaddressed, CC::kStatic, "deg", 335, 208, 11, 8, kLabelStyle},
    {kIdExport, CC::kButton, "Export", 269, 294, 42, 14, kPushButtonStyle},
    {kIdTileWest, CC::kButton, "w", 272, 114, 11, 17, kPushButtonStyle},
    {kIdTileEast, CC::kButton, "e", 343, 114, 11, 17, kPushButtonStyle},
    {kIdTileSouth, CC::kButton, "s", 304, 152, 18, 12, kPushButtonStyle},
    {kIdTileNorth, CC::kButton, "n", 304, 83, 18, 12, kPushButtonStyle},
    {kIdHome, CC::kButton, "Home", 292, 59, 63, 14, kPushButtonStyle},
    {kIdSetHome, CC::kButton, "Set Home Position", 269, 274, 86, 14, kPushButtonStyle},
    {kIdUnaddressed, CC::kStatic, "Roamgrid V0.1", 272, 244, 76, 8, kLabelStyle},
    {kIdUnaddressed, CC::kStatic, "", 312, 257, 43, 8, kLabelStyle},
}};

// String 101: the item the dialog adds to its window menu, after a
// separator; choosing it has no effect.
inline constexpr char kAboutItemText[] = "バージョン情報 Roamgrid(&A)...";
constexpr unsigned kAboutCommandId = 0x10;

// Fixed dialog base units: 7 x 12 pixels for 4 x 8 dialog units.
constexpr int kBaseUnitX = 7;
constexpr int kBaseUnitY = 12;
constexpr int DialogUnitsToPixelsX(int units) { return units * kBaseUnitX / 4; }
constexpr int DialogUnitsToPixelsY(int units) { return units * kBaseUnitY / 8; }

// The placeholder, and so the view window, is 451 pixels square: room for
// the 448 x 448 raster inside a one-pixel border.
static_assert(DialogUnitsToPixelsX(258) == 451 && DialogUnitsToPixelsY(301) == 451);
static_assert(DialogUnitsToPixelsX(kMainDialog.width) == 633);
static_assert(DialogUnitsToPixelsY(kMainDialog.height) == 472);

}  // namespace roamgrid
