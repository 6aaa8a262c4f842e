// Sharing from the Map window: "Export tiles…" (the marks as XYZ map tiles
// in a folder or one MBTiles file), "Export web map…" (the same tiles plus
// a web page) and "Copy layer URL" (the tile address of a running
// `roamgrid-cli serve`, for a map app or a GIS layer). The exports run in
// the core (export/map_tiles_export, export/web_page) on a marks map of
// their own (from the overview's cache file), which nothing else changes
// while the dialog redraws; the dialog shows their progress and can stop
// them.
#pragma once

#include <QColor>
#include <QDialog>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace roamgrid {

class ShareExportDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Kind { kTiles, kWebMap };
  ShareExportDialog(Kind kind, QWidget* parent);

  // Runs the export as the Export button does (for tests); false when it
  // failed or was stopped, the reason shown in the dialog.
  bool RunExport();

 private:
  void Browse(bool mbtiles);
  // The colour of the marks: asked with the colour dialog, shown on its
  // button and remembered in the settings.
  void ChooseColour();
  void ShowColour(const QColor& colour);

  Kind kind_;
  QLineEdit* path_ = nullptr;      // "path"
  QSpinBox* zoomFirst_ = nullptr;  // "zoomFirst"
  QSpinBox* zoomLast_ = nullptr;   // "zoomLast"
  QPushButton* colour_ = nullptr;  // "colour": a swatch and "#rrggbb"
  QColor chosenColour_;
  QProgressBar* progress_ = nullptr;  // "progress"
  QLabel* status_ = nullptr;          // "status"
  QPushButton* export_ = nullptr;     // "export"
  QPushButton* close_ = nullptr;      // "close": "Stop" while running
  bool running_ = false;
  bool stop_ = false;
};

// The tile address of `roamgrid-cli serve` when one answers on this
// machine at its default port ("http://127.0.0.1:8745/{z}/{x}/{y}.png");
// asked within a fraction of a second.
std::optional<std::string> RunningServeLayerUrl();

// Adds "Copy layer URL" (enabled while serve runs), "Export tiles…" and
// "Export web map…" to `menu`, the dialogs over `window`.
void AddShareActions(QMenu* menu, QWidget* window);

}  // namespace roamgrid
