// The desktop program's per-user preferences: the map background and its
// tile source, the import options a user chose once, the Map window's place,
// view and layers, and the folders the file dialogs last used. They live in
// ${XDG_CONFIG_HOME:-~/.config}/roamgrid/settings.ini, never in
// Roamgrid.cfg (whose format is fixed) or in the store.
#pragma once

#include <QByteArray>
#include <QString>

#include "import/import_defaults.h"

namespace roamgrid {

struct UserSettings {
  // The map's background: "none", "coast" or "tiles".
  QString background = QStringLiteral("coast");
  // The tile layer: an XYZ URL template or an MBTiles file; empty for none.
  QString tileSource;
  QString tileAttribution;
  int tileCacheMiB = 300;
  // Import options (see ImportOptions in the core).
  bool anyTalker = false;
  bool connect = false;
  int connectMetres = kDefaultConnectMetres;
  int maxSpeedKmh = 0;                      // 0: no speed check
  int maxAccuracyM = kDefaultMaxAccuracyM;  // 0: no limit
  bool skipInvalid = false;                 // skip GGA fixes of fix quality 0
  // The Map window: its size and place (QWidget::saveGeometry), the view it
  // showed last ("LAT,LON,ZOOM", empty the first time) and its layers.
  QByteArray mapGeometry;
  QString mapView;
  bool mapExplorer = false;
  bool mapTileGrid = false;
  bool mapPlaces = false;
  // The colour of the marks in exported map tiles and web maps, "#rrggbb".
  QString shareColour = QStringLiteral("#ff0000");
  // Where the Import and Export dialogs open next; empty the first time.
  QString lastImportFolder;
  QString lastExportFolder;
  // The Import dialog's filter the user chose last; empty: "All supported
  // files".
  QString importFilter;
};

// The settings file's path: ${XDG_CONFIG_HOME:-$HOME/.config}/roamgrid/settings.ini.
QString UserSettingsPath();

// Reads the settings file; a missing, unreadable or odd file (one that is
// not a regular file, a named pipe say, or is over 1 MiB is not opened),
// and any value out of range, gives the defaults above for what it lacks.
UserSettings LoadUserSettings();

// Writes every field, creating the folder when missing. Returns false when
// the file could not be written, or what stands at its path is not a
// settings file that LoadUserSettings reads (it is left alone); the
// program goes on with what it has.
bool SaveUserSettings(const UserSettings& settings);

}  // namespace roamgrid
