// The "Roamgrid Map" window: a resizable top-level window that shows the
// whole store on a Web Mercator map, from the world down to single cells.
// Dragging pans, the wheel zooms about the pointer in half-zoom steps, a
// double-click zooms in about the pointer, the arrow keys pan, + and - zoom,
// and Home or "Fit to marks" shows all marks. The status line tells the
// pointer's position, the zoom and the visible width; a scale bar and the
// background's attribution sit in the corners beneath the marks, which are
// drawn last. The "Places" layer tints the visited countries (states when
// zoomed in) by the share explored, names the place under the pointer in
// the status line and lists the places beside the map, a click showing
// one. The main dialog's view is outlined, and "Show in main view"
// on the context menu moves it to the clicked point.
//
// The window only translates: the view arithmetic is the core's
// (geo/map_viewport), the marks, the layers and the coast are drawn by the
// core into plain buffers, and what the main dialog does (its view, the
// background choice, Import, Settings) is asked of it through the signals.
// It belongs to the main dialog, whose modal run would otherwise block it,
// and follows the store as the main view does: a change by any program
// shows within a second.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QTimer>
#include <QVariantAnimation>
#include <memory>
#include <optional>
#include <string>

#include "app/store_watcher.h"
#include "geo/map_viewport.h"
#include "geo/web_mercator.h"
#include "map/map_image.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPainter;

namespace roamgrid {

class GshhgStore;
class MarksMap;
class PlacesLayer;
class PlacesPanel;
struct PlaceLine;
class TileLayer;

class MapWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Distance an arrow key pans, as a share of the map area's side.
  static constexpr double kKeyPanShare = 0.2;
  // Length of the smooth wheel and double-click zoom.
  static constexpr int kZoomAnimationMs = 160;
  // How long the background and layers may lag behind a moving view: they
  // are drawn again once it has rested this long, and shifted or stretched
  // from their last drawing meanwhile.
  static constexpr int kRedrawRestMs = 120;

  // The window as a top-level window owned by `owner` (the main dialog;
  // null for a window of its own). `tiles`, when given, is the main
  // dialog's tile layer, shared so that one polite client fetches for both
  // views; it must outlive the window. Nothing is read before Open.
  explicit MapWindow(QWidget* owner = nullptr, TileLayer* tiles = nullptr);
  ~MapWindow() override;

  // Shows the window and brings it to the front. The first time, its
  // remembered size and place are restored and the store is read; the view
  // is `first` when given, else the one shown last (this run or a
  // remembered one), else all marks.
  void Open(const std::optional<MapCentre>& first = std::nullopt);

  const MercatorView& view() const { return view_; }
  // Moves the map to `centre` at once (no animation).
  void SetView(const MapCentre& centre);
  // "Fit to marks": all marks in view, or the whole world without any.
  void FitToMarks();

  // The main dialog's view, outlined on the map: the square of `spanGrid`
  // grid units whose south-west corner is (originLat, originLon).
  void SetMainViewSquare(int32_t originLat, int32_t originLon, int32_t spanGrid);
  // The background beneath the marks: "none", "coast" or "tiles".
  void SetBackgroundMode(const std::string& mode);
  std::string backgroundMode() const { return backgroundMode_; }
  // The layers over the background; each choice is kept per user.
  void SetExplorerLayer(bool on);
  void SetTileGridLayer(bool on);
  // The Places layer and its list; the store is counted by place when it
  // is first shown and again after the store changed.
  void SetPlacesLayer(bool on);
  // Shows `place` whole.
  void ShowPlace(const PlaceLine& place);
  PlacesPanel* placesPanel() const { return placesPanel_; }
  QAction* placesAction() const { return places_; }

  // Reads what changed in the store; true when the map may look different.
  bool RefreshStore();
  // How often the store was read again because it changed on disk.
  int storeRefreshes() const { return storeRefreshes_; }
  const StoreWatcher& storeWatcher() const { return storeWatcher_; }

  // The map area (the window's central widget) and its context menu.
  QWidget* mapArea() const;
  QMenu* contextMenu() const { return contextMenu_; }
  // The context menu's "Show in main view", for the last right-click.
  QAction* showInMainViewAction() const { return showInMainView_; }
  QAction* fitAction() const { return fit_; }
  QString statusText() const;
  // Whether a wheel or double-click zoom is still moving the view.
  bool zooming() const;

 signals:
  // "Show in main view": the point (degrees) the main view should centre.
  void showInMainViewRequested(double lat, double lon);
  // A background chosen on the map's menu.
  void backgroundModeChosen(const QString& mode);
  void importRequested();
  void settingsRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class MapArea;
  friend class MapArea;

  // A picture of the background or the layers with the view it was drawn
  // for; it stands in, moved and stretched, while the view moves on.
  struct Picture {
    QImage image;
    MercatorView view;
    bool valid = false;
  };

  void CreateActions();
  void ApplyTileView();
  // The view changed: the marks are drawn afresh at the next paint, the
  // background and layers once the view rests.
  void ViewChanged();
  void RedrawPictures();
  void StartZoom(double zoom, QPointF anchor);
  void OnWheel(int angleDelta, QPointF at);
  void OnKey(QKeyEvent* event);
  void OnPointer(std::optional<QPointF> at);
  void OnContextMenu(QPoint local, QPoint global);
  void OnStoreChanged();
  void WatchStore();
  void ShowStatus();
  void SaveState() const;
  void Paint(QPainter& painter);
  void PaintPicture(QPainter& painter, const Picture& picture) const;
  void PaintTiles(QPainter& painter);
  void PaintMainViewSquare(QPainter& painter) const;
  void PaintScaleBar(QPainter& painter) const;
  void PaintMarks(QPainter& painter);
  bool DrawCoast(Picture& picture);
  bool DrawLayers(Picture& picture);
  void CountPlaces();

  MapArea* area_ = nullptr;
  QLabel* status_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  QAction* fit_ = nullptr;
  QAction* showInMainView_ = nullptr;
  QActionGroup* backgroundGroup_ = nullptr;
  QAction* explorer_ = nullptr;
  QAction* tileGrid_ = nullptr;
  QAction* places_ = nullptr;
  PlacesPanel* placesPanel_ = nullptr;
  std::unique_ptr<PlacesLayer> placesLayer_;
  bool placesStale_ = true;  // the store changed since it was counted by place

  MercatorView view_;
  bool opened_ = false;
  bool placed_ = false;  // the view was set for the window's size
  std::unique_ptr<MarksMap> marks_;
  MaskImage mask_;
  QImage marksImage_;  // mask_ as painted
  bool marksStale_ = true;
  MercatorView maskView_;
  std::unique_ptr<GshhgStore> gshhg_;
  std::string backgroundMode_ = "none";
  bool coastDrawn_ = false;  // the coast picture holds something
  Picture coast_;
  Picture layers_;
  QTimer redraw_;
  TileLayer* tiles_ = nullptr;
  bool tilesShown_ = false;  // the tile layer holds this window's view
  bool tilesCover_ = false;  // the last paint's tiles hid the coast entirely

  // The wheel and double-click zoom: from `zoomFrom_` to the animation's
  // end value about `zoomAnchor_` (screen pixels).
  QVariantAnimation zoomAnimation_;
  MercatorView zoomFrom_;
  QPointF zoomAnchor_;
  double zoomTarget_ = 0;
  int wheelPending_ = 0;

  std::optional<QPointF> dragFrom_;
  std::optional<QPointF> pointer_;
  QPointF menuPoint_;  // where the context menu was asked for

  struct GridSquare {
    int32_t originLat, originLon, spanGrid;
  };
  std::optional<GridSquare> mainView_;
  StoreWatcher storeWatcher_;
  int storeRefreshes_ = 0;
};

}  // namespace roamgrid
