// The main dialog: built from template 102, it carries the view state and
// the home position, the import recorder, the view window with its raster
// and the three status texts, and binds each button to its command. The
// commands themselves are core functions; this class only moves texts
// between edits and strings, applies the zoom buttons' state and repaints.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/store_watcher.h"
#include "app/tile_layer.h"
#include "app/view_child.h"
#include "common/windowing_platform.h"
#include "export/region_choice.h"
#include "geo/gshhg_store.h"
#include "geo/map_viewport.h"
#include "tiles/track_recorder.h"
#include "view/navigation.h"
#include "view/view_state.h"

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;

namespace roamgrid {

class MapWindow;
class QtPlatform;

class ZIvozarivAde : public QDialog, public ViewState {
  Q_OBJECT

 public:
  // The desktop dialog: its questions go to real Qt dialogs it owns.
  ZIvozarivAde();
  // The same dialog asking `platform` instead (tests script it). The
  // platform must outlive the dialog.
  explicit ZIvozarivAde(WindowingPlatform& platform);
  // Releases a tile the recorder still holds, writing it when changed.
  ~ZIvozarivAde() override;

  // Rebuilds the raster from the tiles, commits the pending move and shows
  // the three texts in edits 1012, 1005 and 1006.
  void RenderView();

  // How often the view was rebuilt because the store changed on disk (the
  // watched tile folders of the view), not by a command.
  int storeRefreshes() const { return storeRefreshes_; }
  const StoreWatcher& storeWatcher() const { return storeWatcher_; }

  // The control with template identifier `id` (its objectName), or null.
  QWidget* GetDlgItem(int id) const;

  // The window menu's own item, offered as the dialog's context menu (the
  // window manager keeps the window commands in its own menu): a separator
  // and string 101, which has no effect. A menu shows no separator at its top.
  QMenu* systemMenu() const { return systemMenu_; }

  // The map's own context menu (right-click on the view window): the
  // background switch, "Large map", the map data's origin and "Settings…",
  // which opens the Settings dialog. Items are added with one addAction each.
  QMenu* mapMenu() const { return mapMenu_; }
  QAction* settingsAction() const { return settingsAction_; }

  // Shows the offline map background beneath the marks (on) or today's
  // red-on-white view (off), for this run; the per-user setting is left alone.
  void ShowBackground(bool on);
  bool backgroundOn() const { return backgroundOn_; }
  // The map background for this run: "none", "coast" or "tiles" (the map
  // tiles over the coast lines, which show where a tile is missing); the
  // per-user setting is left alone.
  void SetBackgroundMode(const std::string& mode);
  std::string backgroundMode() const;
  // The tile source and attribution for this run (see TileLayer::SetSource);
  // the per-user setting is left alone.
  void SetTileSource(const TileSourceChoice& choice);
  TileLayer& tileLayer() { return tileLayer_; }

  // The map menu's "Large map" (Ctrl+M): opens the Map window, or brings it
  // to the front, at `view` when given (see MapWindow::Open). The window
  // belongs to the dialog and outlines its view.
  MapWindow* OpenMapWindow(const std::optional<MapCentre>& view = std::nullopt);
  MapWindow* mapWindow() const;  // null before the first opening
  QAction* largeMapAction() const { return largeMapAction_; }
  // The Map window's "Show in main view": centres the view near (lat, lon)
  // degrees by the Jump rules, as if they had been typed into edits 1005
  // and 1006, at the current zoom.
  void ShowInMainView(double lat, double lon);

  // Members in the order the dialog declares them after the view state.
  TrackRecorder recorder;
  ViewChild viewWindow;
  QIcon appIcon;
  QLabel* viewPlaceholder = nullptr;  // control 1010, hidden once the view window is placed
  std::string spanText;               // edit 1012
  std::string centerLatText;          // edit 1005
  std::string centerLonText;          // edit 1006
  ZoomButtons zoomButtons;            // state applied to buttons 1007 and 1008

 protected:
  // Enter on a push button clicks it (none is a default button), Enter in
  // edit 1005 or 1006 runs Jump, and Enter anywhere else does nothing.
  // Escape is OnCancel, except for a moment after an import, when it was
  // meant for the progress window.
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // The map's gestures and dropped files: a wheel notch over the view
  // window clicks Zoom Up (forward) or Zoom Down (back), a double-click in
  // it centres the view there, and files dropped on the dialog (an edit or
  // the view included) are imported in the order given.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  explicit ZIvozarivAde(WindowingPlatform* platform);
  void CreateControls();
  void BindCommands();
  void OnInitDialog();
  // Texts to the edits (saveAndValidate false) or from them (true).
  void UpdateData(bool saveAndValidate);
  void OnSysCommand(unsigned id);
  // A command's common ending: rebuild the view, then repaint it.
  void EndCommand();
  void Navigate(bool (*command)(ViewState&));
  void OnZoomUp();
  void OnZoomDown();
  void OnJump();
  void OnImport();
  void OnImportFolder();
  void OnDropFiles(const std::vector<std::string>& paths);
  // Imports the dropped logs, or when `dropped` is null those chosen in the
  // Import dialog (with `folder`, the folder chosen in the folder dialog).
  void RunImport(const std::vector<std::string>* dropped, bool folder = false);
  // Shows briefly over the map how many cells an import newly marked, "no
  // new cells" for none (object name "newCellsNote"), fading out by itself;
  // no modal box.
  void ShowNewCellsNote(long long cells);
  // The command buttons' tooltips, which tell the zoom's steps.
  void ApplyButtonTips();
  // Text put into edit 1005 at once (pasted or dropped) that holds a
  // latitude and a longitude fills edit 1005 and 1006 with one each.
  void OnLatEdited(const QString& text);
  void OnDoubleClick(QPoint viewPixel);
  void OnWheel(int angleDelta);
  // Enables the zoom buttons that can act at the current zoom, disables the
  // other; run after every command.
  void ApplyZoomButtons();
  // Whether Escape is kept from ending the dialog: just after an import,
  // when it was meant for its progress window.
  bool CloseKeysHeld() const;
  void OnExport();
  void OnExportRegion();  // the map menu's "Export region…"
  void OnSetHomePosition();
  // The context menu's switch and Ctrl+B: flips the background and keeps
  // the choice in the per-user settings.
  void OnToggleBackground();
  void OnMapData();
  // The pointer's position in degrees as the view window's tooltip.
  void OnPointerMove(QPoint windowPixel, QPoint globalPixel);
  bool DrawBackground(RgbImage& image);
  // Shows the tile layer for the current view when the background is on
  // and tiles are wanted, else hides it.
  void ApplyTiles();
  // The context menu's "Map tiles" switch and "Tile source..." dialog;
  // both keep the choice in the per-user settings.
  void OnToggleTiles();
  void OnTileSource();
  void SaveBackgroundMode();
  // "Settings…": the Settings dialog over `over`; the saved choices take
  // effect at once.
  void OnSettings(QWidget* over);
  // Outlines the view on the Map window, when it is open.
  void OutlineViewOnMap();
  // A tile of the view (or a folder of the store) changed on disk.
  void OnStoreChanged();
  // Shows over the map how many conflict copies of tiles a file sync tool
  // left in the store ("2 copies from another computer: fold them in?",
  // object name "conflictNote"), with Yes, which folds them in, and "Not
  // now", which hides the note until their number changes; none: no note.
  void CheckConflictCopies();
  // Yes: folds every copy into its tile under the store lock, as `check
  // --fold-conflicts` does, with the task progress; names the copies left
  // and shows the new cells.
  void OnFoldConflicts();

  std::unique_ptr<QtPlatform> ownPlatform_;
  WindowingPlatform* platform_;
  QMenu* systemMenu_ = nullptr;
  QAction* settingsAction_ = nullptr;
  QMenu* mapMenu_ = nullptr;
  QAction* backgroundAction_ = nullptr;
  bool backgroundOn_ = false;
  bool tilesWanted_ = false;  // tiles over the background while it is on
  QAction* tilesAction_ = nullptr;
  TileLayer tileLayer_;
  // Opened at the first paint with a background, never before.
  std::unique_ptr<GshhgStore> gshhg_;
  // The view the background was last drawn for: origin and zoom index.
  std::tuple<int32_t, int32_t, int32_t> backgroundView_{0, 0, -1};
  bool importing_ = false;  // an import runs
  QPointer<QLabel> newCellsNote_;  // the note of the last import, while shown
  QPointer<QFrame> conflictNote_;  // the note of conflict copies, while shown
  size_t conflictsPassed_ = 0;     // copies the user said "Not now" to
  std::optional<RegionExportChoice> regionChoice_;  // the last answer of "Export region…"
  QLineEdit* latEdit_ = nullptr;                    // edit 1005
  QString latTextBefore_;                           // its text before the event now being handled
  int wheelDelta_ = 0;      // wheel turn not yet worth a notch (1/8 degree units)
  // Runs from the end of the last import; invalid before the first.
  QElapsedTimer importEnded_;
  StoreWatcher storeWatcher_;
  int storeRefreshes_ = 0;
  QAction* largeMapAction_ = nullptr;
  QPointer<MapWindow> mapWindow_;  // made at its first opening, a child of the dialog
};

}  // namespace roamgrid
