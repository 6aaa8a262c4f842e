#include "app/vizizodaz_uri.h"

#include <QTimer>

#include "app/app_icon.h"
#include "app/zivozariv_ade.h"
#include "export/export_formats.h"
#include "import/input_formats.h"

namespace roamgrid {

StartArgs ParseStartArgs(const std::vector<std::string>& arguments) {
  StartArgs args;
  for (size_t at = 0; at < arguments.size();) {
    const std::string& argument = arguments[at];
    if (argument == "--help" || argument == "-h") {
      args.help = true;
      return args;
    }
    if (argument == "--version") {
      args.version = true;
      return args;
    }
    std::string error;
    if (argument == "--background") {
      const std::string value = at + 1 < arguments.size() ? arguments[at + 1] : std::string();
      if (value == "none" || value == "coast" || value == "tiles") {
        args.background = value;
      } else {
        error = "--background needs none, coast or tiles";
      }
      at += 2;
    } else if (argument == "--tiles" || argument == "--tiles-attribution") {
      if (at + 1 < arguments.size()) {
        (argument == "--tiles" ? args.tiles.emplace() : args.tilesAttribution) = arguments[at + 1];
      } else {
        error = argument + " needs a value";
      }
      at += 2;
    } else if (argument == "--map") {
      args.map = true;
      ++at;
    } else if (argument == "--map-view") {
      const std::string value = at + 1 < arguments.size() ? arguments[at + 1] : std::string();
      args.mapView = ParseMapView(value);
      if (!args.mapView) {
        error = "--map-view needs LAT,LON,ZOOM: degrees north and east, and a zoom from 0 to 22";
      }
      at += 2;
    } else if (!TakeStoreOption(arguments, at, args.store, error)) {
      error = "unknown argument '" + argument + "' (see roamgrid --help)";
      ++at;
    }
    if (args.error.empty()) args.error = error;
  }
  return args;
}

std::string StartHelpText() {
  std::string inputs;
  for (const std::string& filter : FormatFilters()) inputs += "  " + filter + "\n";
  return R"(Usage: roamgrid [-C DIR | --user-store] [--background none|coast|tiles]
                [--tiles TEMPLATE_OR_FILE [--tiles-attribution TEXT]]
                [--map] [--map-view LAT,LON,ZOOM]
       roamgrid --help | --version

Starts Roamgrid, the lasting record of every place a GPS receiver has been:
it imports GPS logs, shows the visited cells on a map view and exports the
view and any region of the marks.

It reads (Import, "Import folder..." in the map's context menu, or files and
folders dropped on the window; the content, not the name, decides how):
)" + inputs +
         R"(
It writes:
  Export         the view as shown: a 448 x 448 BMP image (new, or merged
                 into an earlier one) or a PNG image with the background
  Export region... (the map's context menu)
                 the current view, all marks or a typed south, west, north
                 and east as )" +
         RegionExportFormatNames() + R"(

Without an option the store (the tiles below RGD/ and the home position in
Roamgrid.cfg) is the working directory, and -C DIR uses DIR.
--user-store uses ${XDG_DATA_HOME:-$HOME/.local/share}/roamgrid, creating it
when missing: the store of Roamgrid started from the application menu and of
roamgrid-cli --user-store.

Options:
  -C DIR         use the store in DIR (several: each relative to the last)
  --user-store   use the user store folder, creating it when missing
  --background none|coast|tiles
                 for this run, show the map without or with its offline
                 background, or with map tiles over it (the map's context
                 menu and Ctrl+B switch it and remember the choice)
  --tiles TEMPLATE_OR_FILE
                 for this run, take map tiles from an XYZ URL template
                 (https://.../{z}/{x}/{y}.png) or a local MBTiles file
  --tiles-attribution TEXT
                 the tiles' attribution, drawn on the map
  --map          open the Map window too (the map menu's "Large map",
                 Ctrl+M): the whole store on a map you drag and zoom
  --map-view LAT,LON,ZOOM
                 open the Map window centred on LAT,LON (degrees, north and
                 east positive) at Web Mercator zoom ZOOM (0 to 22,
                 fractions allowed), e.g. 35.68,139.76,12; without it the
                 map opens where it was last, or on all marks
  -h, --help     show this help
  --version      print the version

The background (shorelines, lakes, borders and rivers beneath the marks) is
read offline from GSHHG in /usr/share/gmt-gshhg ($ROAMGRID_GSHHG_DIR when
set); without it the map is plain white. To get it, and the finest detail:
  sudo apt install gmt-gshhg-low gmt-gshhg-high gmt-gshhg-full

There is no default tile server: set one in "Tile source..." of the map's
context menu or with --tiles. Tiles are cached in
${XDG_CACHE_HOME:-$HOME/.cache}/roamgrid/tiles (see the README).

A store folder that cannot be created or entered is shown in a message box,
and the program ends with exit status 1 without opening its window.
)";
}

VIzizodazUri::VIzizodazUri(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Roamgrid"));
  setApplicationVersion(QStringLiteral(ROAMGRID_VERSION));
  // Ties the window to the installed menu entry (its name and icon).
  setDesktopFileName(QStringLiteral("org.roamgrid.Roamgrid"));
  setWindowIcon(MakeAppIcon());
}

bool VIzizodazUri::EnterStore(const StoreFolderRequest& request, WindowingPlatform& platform) {
  const std::string error = EnterStoreFolder(request);
  if (error.empty()) return true;
  platform.ShowMessage("Roamgrid cannot use its store folder.\n" + error, "Roamgrid",
                       MessageStyle::kExclamationOk);
  return false;
}

bool VIzizodazUri::InitInstance() {
  ZIvozarivAde dialog;
  if (tiles) dialog.SetTileSource({*tiles, tilesAttribution});
  const std::string mode = !background.empty() ? background : tiles ? "tiles" : "";
  if (!mode.empty()) dialog.SetBackgroundMode(mode);
  // Opened once the dialog shows, so that the map comes up in front of it.
  if (openMap || mapView) {
    QTimer::singleShot(0, &dialog, [this, &dialog] { dialog.OpenMapWindow(mapView); });
  }
  dialog.exec();  // the result is not used: either way the program ends
  return false;
}

}  // namespace roamgrid
