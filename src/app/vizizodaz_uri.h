// The application object: the Qt application of the program, which runs
// the main dialog modally as its only window; when the dialog ends, the
// program ends. Also the program's command line, which chooses the store
// folder before the dialog opens.
#pragma once

#include <QApplication>
#include <optional>
#include <string>
#include <vector>

#include "common/store_folder.h"
#include "common/windowing_platform.h"
#include "geo/map_viewport.h"

namespace roamgrid {

// What the desktop program's command line asks for.
struct StartArgs {
  StoreFolderRequest store;  // -C DIR or --user-store
  bool help = false;         // --help, -h
  bool version = false;      // --version
  std::string background;    // --background none|coast|tiles for this run; empty: the user's setting
  std::optional<std::string> tiles;  // --tiles TEMPLATE_OR_FILE for this run
  std::string tilesAttribution;      // --tiles-attribution TEXT
  bool map = false;                  // --map: open the Map window too
  std::optional<MapCentre> mapView;  // --map-view LAT,LON,ZOOM (opens it as well)
  std::string error;         // the first argument that is wrong, or empty
};

// Reads the arguments after the program name. --help and --version end
// the reading (they win over anything before them that is wrong); an
// unknown argument sets `error` and the reading goes on, so that --help is
// still found among options that Qt has not taken out yet.
StartArgs ParseStartArgs(const std::vector<std::string>& arguments);

// The text of `roamgrid --help`.
std::string StartHelpText();

class VIzizodazUri : public QApplication {
  Q_OBJECT

 public:
  // Sets the program's name, version (1.0.0.1) and icon.
  VIzizodazUri(int& argc, char** argv);

  // Changes into the store folder `request` names (creating the user store
  // folder when missing). When the folder cannot be created or entered,
  // shows why in a message box through `platform` and returns false: the
  // program then ends without opening the dialog, never using a store
  // somewhere else.
  static bool EnterStore(const StoreFolderRequest& request, WindowingPlatform& platform);

  // Runs the main dialog to its end (Enter in an edit, Escape or the close
  // box) and destroys it, which writes back a tile the recorder still
  // holds. Always false: there is no message loop after the dialog.
  bool InitInstance();

  // The map tile source and attribution for this run (given --tiles, the
  // background is "tiles" unless --background says otherwise).
  std::optional<std::string> tiles;
  std::string tilesAttribution;
  // The map background for this run ("none", "coast" or "tiles"), or empty for the
  // user's setting.
  std::string background;
  // Whether the Map window opens beside the dialog, and at which view
  // (none: the one it showed last).
  bool openMap = false;
  std::optional<MapCentre> mapView;
};

}  // namespace roamgrid
