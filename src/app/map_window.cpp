#include "app/map_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QToolBar>
#include <QWheelEvent>
#include <cmath>

#include "app/places_panel.h"
#include "app/share_dialogs.h"
#include "app/tile_layer.h"
#include "app/user_settings.h"
#include "geo/coast_background.h"
#include "geo/dcw_regions.h"
#include "geo/gshhg_store.h"
#include "map/map_layers.h"
#include "map/marks_map.h"
#include "map/places_map.h"

namespace roamgrid {
namespace {

constexpr int kDefaultWidth = 1024;
constexpr int kDefaultHeight = 720;
constexpr int kScaleBarMaxPx = 140;
constexpr int kCornerMarginPx = 8;
const QColor kInk(50, 50, 60);              // scale bar and its text
const QColor kHalo(255, 255, 255, 210);     // beneath them, over any tiles
const QColor kMainViewColour(20, 70, 190);  // the main dialog's view
constexpr double kMainViewMinSidePx = 9;    // a smaller square is drawn this big
constexpr char kStoreRoot[] = "RGD";

bool SameView(const MercatorView& a, const MercatorView& b) {
  return a.centerX == b.centerX && a.centerY == b.centerY && a.zoom == b.zoom &&
         a.width == b.width && a.height == b.height;
}

// Marks as an image: a set byte pure red, 0 see-through. Premultiplied
// ARGB is what the painter blends fastest, and every frame of a drag makes
// a new one.
QImage MarksImage(const MaskImage& mask) {
  QImage image(mask.width, mask.height, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < mask.height; ++y) {
    const uint8_t* in = mask.bytes.data() + size_t(y) * size_t(mask.width);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < mask.width; ++x) out[x] = in[x] ? qRgb(255, 0, 0) : 0;
  }
  return image;
}

// Text drawn dark on a light halo, legible over any background.
void HaloText(QPainter& painter, QPointF at, const QString& text) {
  QPainterPath path;
  path.addText(at, painter.font(), text);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.strokePath(path, QPen(kHalo, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.fillPath(path, kInk);
  painter.restore();
}

}  // namespace

// The map area: paints the map and hands the mouse and keys to the window.
class MapWindow::MapArea : public QWidget {
 public:
  explicit MapArea(MapWindow* window) : QWidget(window), window_(window) {
    setObjectName(QStringLiteral("mapArea"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setCursor(Qt::OpenHandCursor);
    setMinimumSize(64, 64);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    window_->Paint(painter);
  }
  void resizeEvent(QResizeEvent*) override {
    ResizeView(window_->view_, width(), height());
    window_->ViewChanged();
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    window_->zoomAnimation_.stop();  // the hand takes over where the zoom is
    window_->dragFrom_ = event->position();
    setCursor(Qt::ClosedHandCursor);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    const QPointF at = event->position();
    if (window_->dragFrom_ && (event->buttons() & Qt::LeftButton)) {
      const QPointF moved = at - *window_->dragFrom_;
      window_->dragFrom_ = at;
      PanView(window_->view_, moved.x(), moved.y());
      window_->ViewChanged();
    }
    window_->OnPointer(at);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    window_->dragFrom_.reset();
    setCursor(Qt::OpenHandCursor);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return QWidget::mouseDoubleClickEvent(event);
    window_->StartZoom(SteppedZoom(window_->view_.zoom, 1, 1.0), event->position());
  }
  void wheelEvent(QWheelEvent* event) override {
    window_->OnWheel(event->angleDelta().y(), event->position());
    event->accept();
  }
  void leaveEvent(QEvent*) override { window_->OnPointer(std::nullopt); }
  void contextMenuEvent(QContextMenuEvent* event) override {
    window_->OnContextMenu(event->pos(), event->globalPos());
    event->accept();
  }
  void keyPressEvent(QKeyEvent* event) override { window_->OnKey(event); }

 private:
  MapWindow* window_;
};

MapWindow::MapWindow(QWidget* owner, TileLayer* tiles)
    : QMainWindow(owner, Qt::Window), tiles_(tiles) {
  setObjectName(QStringLiteral("mapWindow"));
  setWindowTitle(QStringLiteral("Roamgrid Map"));
  area_ = new MapArea(this);
  setCentralWidget(area_);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("mapStatus"));
  statusBar()->addWidget(status_, 1);
  CreateActions();
  QToolBar* toolBar = addToolBar(QStringLiteral("Map"));
  toolBar->setObjectName(QStringLiteral("mapToolBar"));
  toolBar->setMovable(false);
  toolBar->setFloatable(false);
  toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
  toolBar->addAction(fit_);
  placesPanel_ = new PlacesPanel(this);
  addDockWidget(Qt::RightDockWidgetArea, placesPanel_);
  placesPanel_->hide();
  connect(placesPanel_, &PlacesPanel::placeChosen, this, &MapWindow::ShowPlace);
  resize(kDefaultWidth, kDefaultHeight);

  redraw_.setSingleShot(true);
  redraw_.setInterval(kRedrawRestMs);
  connect(&redraw_, &QTimer::timeout, this, [this] { RedrawPictures(); });
  zoomAnimation_.setDuration(kZoomAnimationMs);
  zoomAnimation_.setEasingCurve(QEasingCurve::OutCubic);
  connect(&zoomAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& zoom) {
    // Every frame starts from where the zoom began, so no error gathers.
    view_ = zoomFrom_;
    ZoomViewAbout(view_, zoom.toDouble(), zoomAnchor_.x(), zoomAnchor_.y());
    ViewChanged();
  });
  connect(&storeWatcher_, &StoreWatcher::StoreChanged, this, &MapWindow::OnStoreChanged);
  if (tiles_) {
    connect(tiles_, &TileLayer::tilesArrived, this, [this] {
      area_->update();
      ShowStatus();  // a failing source says so
    });
  }
  view_.width = kDefaultWidth;
  view_.height = kDefaultHeight;
  NormalizeView(view_);
}

MapWindow::~MapWindow() {
  if (opened_ && isVisible()) SaveState();
}

void MapWindow::CreateActions() {
  fit_ = new QAction(QStringLiteral("Fit to marks"), this);
  fit_->setShortcut(QKeySequence(Qt::Key_Home));
  fit_->setShortcutContext(Qt::WindowShortcut);
  fit_->setToolTip(QStringLiteral("Show all marks (Home)"));
  connect(fit_, &QAction::triggered, this, [this] { FitToMarks(); });
  addAction(fit_);

  showInMainView_ = new QAction(QStringLiteral("Show in main view"), this);
  connect(showInMainView_, &QAction::triggered, this, [this] {
    if (const std::optional<MapCentre> point = PointAt(view_, menuPoint_.x(), menuPoint_.y())) {
      emit showInMainViewRequested(point->lat, point->lon);
    }
  });

  backgroundGroup_ = new QActionGroup(this);
  backgroundGroup_->setExclusive(true);
  const std::pair<const char*, const char*> backgrounds[] = {
      {"none", "No background"}, {"coast", "Coast background"}, {"tiles", "Map tiles"}};
  for (const auto& [mode, text] : backgrounds) {
    QAction* action = backgroundGroup_->addAction(QString::fromUtf8(text));
    action->setCheckable(true);
    action->setData(QString::fromUtf8(mode));
    action->setChecked(backgroundMode_ == mode);
    connect(action, &QAction::triggered, this, [this, action] {
      const QString mode = action->data().toString();
      SetBackgroundMode(mode.toStdString());
      emit backgroundModeChosen(mode);
    });
  }
  explorer_ = new QAction(QStringLiteral("Explorer tiles"), this);
  explorer_->setCheckable(true);
  connect(explorer_, &QAction::toggled, this, [this](bool on) { SetExplorerLayer(on); });
  tileGrid_ = new QAction(QStringLiteral("Tile grid"), this);
  tileGrid_->setCheckable(true);
  connect(tileGrid_, &QAction::toggled, this, [this](bool on) { SetTileGridLayer(on); });
  places_ = new QAction(QStringLiteral("Places"), this);
  places_->setCheckable(true);
  places_->setToolTip(QStringLiteral("Visited countries and states, tinted by the share explored"));
  connect(places_, &QAction::toggled, this, [this](bool on) { SetPlacesLayer(on); });

  contextMenu_ = new QMenu(this);
  contextMenu_->addAction(showInMainView_);
  contextMenu_->addAction(fit_);
  contextMenu_->addSeparator();
  contextMenu_->addActions(backgroundGroup_->actions());
  contextMenu_->addSeparator();
  contextMenu_->addAction(explorer_);
  contextMenu_->addAction(tileGrid_);
  contextMenu_->addAction(places_);
  contextMenu_->addSeparator();
  contextMenu_->addAction(QStringLiteral("Import…"), this, [this] { emit importRequested(); });
  contextMenu_->addAction(QStringLiteral("Settings…"), this, [this] { emit settingsRequested(); });
  contextMenu_->addSeparator();
  AddShareActions(contextMenu_, this);
}

QWidget* MapWindow::mapArea() const { return area_; }

void MapWindow::Open(const std::optional<MapCentre>& first) {
  std::optional<MapCentre> start = first;
  if (!opened_) {
    opened_ = true;
    const UserSettings settings = LoadUserSettings();
    if (!settings.mapGeometry.isEmpty()) restoreGeometry(settings.mapGeometry);
    explorer_->setChecked(settings.mapExplorer);
    tileGrid_->setChecked(settings.mapTileGrid);
    places_->setChecked(settings.mapPlaces);
    if (!start) start = ParseMapView(settings.mapView.toStdString());
    // The first reading of a large store without an overview on disk takes
    // a moment.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    marks_ = std::make_unique<MarksMap>();
    marks_->Refresh();
    QApplication::restoreOverrideCursor();
  } else if (!isVisible()) {
    RefreshStore();  // what changed while the window was closed
  }
  show();
  raise();
  activateWindow();
  area_->setFocus();
  ApplyTileView();
  // Shown, the map area has its size: the view is placed for it.
  if (start) {
    SetView(*start);
  } else if (!placed_) {
    FitToMarks();
  }
  placed_ = true;
  WatchStore();
}

void MapWindow::SetView(const MapCentre& centre) {
  zoomAnimation_.stop();
  view_ = ViewOfCentre(centre, area_->width(), area_->height());
  ViewChanged();
}

void MapWindow::FitToMarks() {
  zoomAnimation_.stop();
  const std::optional<WorldBox> box = marks_ ? marks_->MarksBounds() : std::nullopt;
  view_ =
      box ? FitView(box->west, box->north, box->east, box->south, area_->width(), area_->height())
          : FitView(0, 0, 1, 1, area_->width(), area_->height());
  ViewChanged();
}

void MapWindow::SetMainViewSquare(int32_t originLat, int32_t originLon, int32_t spanGrid) {
  mainView_ = GridSquare{originLat, originLon, spanGrid};
  area_->update();
}

void MapWindow::SetBackgroundMode(const std::string& mode) {
  const std::string chosen = mode == "coast" || mode == "tiles" ? mode : "none";
  for (QAction* action : backgroundGroup_->actions()) {
    action->setChecked(action->data().toString().toStdString() == chosen);
  }
  if (chosen == backgroundMode_) return;
  backgroundMode_ = chosen;
  coast_.valid = false;
  ApplyTileView();
  area_->update();
}

void MapWindow::SetExplorerLayer(bool on) {
  if (explorer_->isChecked() != on) explorer_->setChecked(on);  // comes back here
  layers_.valid = false;
  area_->update();
  if (opened_) SaveState();
}

void MapWindow::SetTileGridLayer(bool on) {
  if (tileGrid_->isChecked() != on) tileGrid_->setChecked(on);  // comes back here
  layers_.valid = false;
  area_->update();
  if (opened_) SaveState();
}

void MapWindow::SetPlacesLayer(bool on) {
  if (places_->isChecked() != on) places_->setChecked(on);  // comes back here
  if (on && placesStale_ && opened_) CountPlaces();
  placesPanel_->setVisible(on);
  layers_.valid = false;
  area_->update();
  ShowStatus();
  if (opened_) SaveState();
}

void MapWindow::CountPlaces() {
  if (!placesLayer_) {
    placesLayer_ = std::make_unique<PlacesLayer>(DcwFolderFromEnvironment(), PlacesCachePath());
  }
  // The first count reads the outlines and builds the index: a while.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  placesLayer_->Refresh();
  QApplication::restoreOverrideCursor();
  placesStale_ = false;
  placesPanel_->SetRows(placesLayer_->ListRows(), placesLayer_->problem());
}

void MapWindow::ShowPlace(const PlaceLine& place) {
  zoomAnimation_.stop();
  view_ = FitPlace(place, area_->width(), area_->height());
  ViewChanged();
}

bool MapWindow::RefreshStore() {
  if (!marks_ || !marks_->Refresh()) return false;
  marksStale_ = true;
  placesStale_ = true;
  if (places_->isChecked()) CountPlaces();
  layers_.valid = false;  // explored tiles and the store's tiles may differ
  area_->update();
  return true;
}

bool MapWindow::zooming() const { return zoomAnimation_.state() == QAbstractAnimation::Running; }

void MapWindow::ViewChanged() {
  marksStale_ = true;
  redraw_.start();
  ApplyTileView();
  ShowStatus();
  area_->update();
}

void MapWindow::RedrawPictures() {
  coast_.valid = false;
  layers_.valid = false;
  area_->update();
}

void MapWindow::ApplyTileView() {
  if (!tiles_) return;
  // What the tile layer has at hand shows at once, the rest arrives through
  // tilesArrived; a closed window or another background asks for none.
  if (backgroundMode_ == "tiles" && opened_ && isVisible()) {
    tiles_->SetMercatorView(view_);
  } else if (tilesShown_) {
    tiles_->ClearMercatorView();
  }
  tilesShown_ = backgroundMode_ == "tiles" && opened_ && isVisible();
}

void MapWindow::StartZoom(double zoom, QPointF anchor) {
  zoomFrom_ = view_;
  zoomAnchor_ = anchor;
  zoomTarget_ = zoom;
  zoomAnimation_.stop();
  zoomAnimation_.setStartValue(view_.zoom);
  zoomAnimation_.setEndValue(zoom);
  zoomAnimation_.start();
}

void MapWindow::OnWheel(int angleDelta, QPointF at) {
  const int notches = TakeWheelNotches(wheelPending_, angleDelta);
  if (notches == 0) return;
  // Quick notches add up: each steps on from where the last one is going.
  const double from = zooming() ? zoomTarget_ : view_.zoom;
  StartZoom(SteppedZoom(from, notches, kWheelZoomStep), at);
}

void MapWindow::OnKey(QKeyEvent* event) {
  const double panX = area_->width() * kKeyPanShare;
  const double panY = area_->height() * kKeyPanShare;
  const QPointF centre(area_->width() / 2.0, area_->height() / 2.0);
  const double from = zooming() ? zoomTarget_ : view_.zoom;
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      zoomAnimation_.stop();
      PanView(view_,
              event->key() == Qt::Key_Left    ? panX
              : event->key() == Qt::Key_Right ? -panX
                                              : 0,
              event->key() == Qt::Key_Up     ? panY
              : event->key() == Qt::Key_Down ? -panY
                                             : 0);
      ViewChanged();
      break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:  // + without Shift on most layouts
      StartZoom(SteppedZoom(from, 1, 1.0), centre);
      break;
    case Qt::Key_Minus:
      StartZoom(SteppedZoom(from, -1, 1.0), centre);
      break;
    case Qt::Key_Escape:
      break;  // the map stays open; the close box closes it
    default:
      event->ignore();
      return;
  }
  event->accept();
}

void MapWindow::keyPressEvent(QKeyEvent* event) { OnKey(event); }

void MapWindow::OnPointer(std::optional<QPointF> at) {
  pointer_ = at;
  ShowStatus();
}

void MapWindow::OnContextMenu(QPoint local, QPoint global) {
  menuPoint_ = local;
  showInMainView_->setEnabled(PointAt(view_, local.x(), local.y()).has_value());
  contextMenu_->popup(global);
}

void MapWindow::WatchStore() {
  // Every folder of the store: the map shows all of them, and a new one
  // turns up as a change of RGD itself.
  std::vector<std::string> folders;
  const QDir root(QString::fromLatin1(kStoreRoot));
  for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
    folders.push_back(std::string(kStoreRoot) + "/" + QFile::encodeName(name).toStdString());
  }
  storeWatcher_.Watch(folders);
}

void MapWindow::OnStoreChanged() {
  if (!isVisible()) return;  // read when the window opens again
  ++storeRefreshes_;
  WatchStore();
  RefreshStore();
}

void MapWindow::ShowStatus() {
  std::optional<MapCentre> at;
  if (pointer_) at = PointAt(view_, pointer_->x(), pointer_->y());
  QString text = QString::fromStdString(MapStatusText(view_, at));
  if (places_->isChecked() && placesLayer_) {
    const std::string place = !placesLayer_->problem().empty() ? placesLayer_->problem()
                              : at ? placesLayer_->NameAt(at->lon, at->lat, view_.zoom)
                                   : std::string();
    if (!place.empty()) text += QStringLiteral("   ") + QString::fromStdString(place);
  }
  if (tiles_ && backgroundMode_ == "tiles" && !tiles_->status().isEmpty()) {
    text += QStringLiteral("   ") + tiles_->status();
  }
  status_->setText(text);
}

QString MapWindow::statusText() const { return status_->text(); }

void MapWindow::SaveState() const {
  UserSettings settings = LoadUserSettings();
  settings.mapGeometry = saveGeometry();
  if (placed_) settings.mapView = QString::fromStdString(FormatMapView(CentreOfView(view_)));
  settings.mapExplorer = explorer_->isChecked();
  settings.mapTileGrid = tileGrid_->isChecked();
  settings.mapPlaces = places_->isChecked();
  SaveUserSettings(settings);  // unsaved, the window opens as the first time
}

void MapWindow::closeEvent(QCloseEvent* event) {
  zoomAnimation_.stop();
  SaveState();
  if (marks_) marks_->SaveCache();
  QMainWindow::closeEvent(event);
  if (event->isAccepted() && tiles_ && tilesShown_) {
    tiles_->ClearMercatorView();
    tilesShown_ = false;
  }
}

void MapWindow::Paint(QPainter& painter) {
  painter.fillRect(area_->rect(), Qt::white);
  if (backgroundMode_ != "none") {
    // Beneath tiles the coast shows only where a tile is missing: it is not
    // drawn while the tiles of the view covered it all.
    if (!coast_.valid && !(backgroundMode_ == "tiles" && tilesCover_)) DrawCoast(coast_);
    PaintPicture(painter, coast_);
  }
  if (backgroundMode_ == "tiles") PaintTiles(painter);
  if (explorer_->isChecked() || tileGrid_->isChecked() || places_->isChecked()) {
    if (!layers_.valid) DrawLayers(layers_);
    PaintPicture(painter, layers_);
  }
  PaintMainViewSquare(painter);
  PaintScaleBar(painter);
  const QRect corner = area_->rect().adjusted(0, 0, -1, -1);
  if (backgroundMode_ == "tiles" && tiles_) {
    tiles_->PaintNotes(painter, corner);
  } else if (backgroundMode_ != "none" && coastDrawn_) {
    // As the tile layer writes its attribution: dark on a light box.
    painter.save();
    QFont small = painter.font();
    small.setPixelSize(10);
    painter.setFont(small);
    const QString text = QStringLiteral("Coast: GSHHG");
    const QFontMetrics metrics(small);
    QRect box(0, 0, metrics.horizontalAdvance(text) + 6, metrics.height() + 2);
    box.moveBottomRight(corner.bottomRight());
    painter.fillRect(box, kHalo);
    painter.setPen(kInk);
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
  }
  PaintMarks(painter);  // last: nothing covers a mark
}

bool MapWindow::DrawCoast(Picture& picture) {
  if (!gshhg_) gshhg_ = std::make_unique<GshhgStore>(GshhgFolderFromEnvironment());
  RgbImage image(view_.width, view_.height);
  const CoastDrawing drawn = DrawCoastMercator(*gshhg_, view_, image);
  coastDrawn_ = drawn.filled || drawn.pixels > 0;
  // Converted once here rather than at every frame that shows it.
  picture.image =
      QImage(image.bytes.data(), image.width, image.height, image.width * 3, QImage::Format_RGB888)
          .convertToFormat(QImage::Format_RGB32);
  picture.view = view_;
  picture.valid = true;
  return coastDrawn_;
}

bool MapWindow::DrawLayers(Picture& picture) {
  RgbaImage image(view_.width, view_.height);
  // Places beneath the finer layers.
  if (placesLayer_ && places_->isChecked()) placesLayer_->Draw(view_, image);
  if (marks_ && explorer_->isChecked()) DrawExplorerLayer(view_, *marks_, image);
  if (marks_ && tileGrid_->isChecked()) DrawStoreTileGrid(view_, *marks_, image);
  picture.image = QImage(image.bytes.data(), image.width, image.height, image.width * 4,
                         QImage::Format_RGBA8888)
                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  picture.view = view_;
  picture.valid = true;
  return true;
}

void MapWindow::PaintPicture(QPainter& painter, const Picture& picture) const {
  if (!picture.valid || picture.image.isNull()) return;
  if (SameView(picture.view, view_)) {
    painter.drawImage(QPoint(0, 0), picture.image);
    return;
  }
  const ScreenBox box = PictureOnScreen(picture.view, view_);
  if (picture.view.zoom == view_.zoom) {
    // Moved only: copied to the nearest whole pixel, no resampling.
    painter.drawImage(QPoint(int(std::lround(box.left)), int(std::lround(box.top))), picture.image);
    return;
  }
  // Stretched while the zoom moves, until the picture is drawn afresh: the
  // nearest pixel is several times cheaper than a filter, and no one reads
  // a map in mid-zoom.
  painter.drawImage(QRectF(box.left, box.top, box.right - box.left, box.bottom - box.top),
                    picture.image);
}

void MapWindow::PaintTiles(QPainter& painter) {
  if (!tiles_ || !tilesShown_) return;
  tiles_->SetMercatorView(view_);  // cheap when the view is the same
  tilesCover_ = tiles_->PaintMercatorTiles(painter);
  // The coast was left out for tiles that no longer cover the view: it is
  // drawn at the next paint, which need not wait for a tile to arrive.
  if (!tilesCover_ && !coast_.valid) area_->update();
}

void MapWindow::PaintMainViewSquare(QPainter& painter) const {
  if (!mainView_) return;
  const ScreenBox box =
      GridSquareOnScreen(view_, mainView_->originLat, mainView_->originLon, mainView_->spanGrid);
  QRectF square(QPointF(box.left, box.top), QPointF(box.right, box.bottom));
  // Far out the square is a speck: drawn big enough to be found.
  if (square.width() < kMainViewMinSidePx || square.height() < kMainViewMinSidePx) {
    const QPointF centre = square.center();
    square = QRectF(centre.x() - kMainViewMinSidePx / 2, centre.y() - kMainViewMinSidePx / 2,
                    kMainViewMinSidePx, kMainViewMinSidePx);
  }
  if (!square.intersects(QRectF(area_->rect()))) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(kHalo, 4));
  painter.drawRect(square);
  painter.setPen(QPen(kMainViewColour, 2));
  painter.drawRect(square);
  painter.restore();
}

void MapWindow::PaintScaleBar(QPainter& painter) const {
  const ScaleBar bar = MercatorScaleBar(view_, std::min(kScaleBarMaxPx, view_.width / 3));
  if (bar.pixels <= 0) return;
  const double left = kCornerMarginPx + 0.5;
  const double bottom = view_.height - kCornerMarginPx - 0.5;
  const double right = left + bar.pixels;
  QPainterPath path;
  path.moveTo(left, bottom - 5);
  path.lineTo(left, bottom);
  path.lineTo(right, bottom);
  path.lineTo(right, bottom - 5);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.strokePath(path, QPen(kHalo, 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  painter.strokePath(path, QPen(kInk, 1.5, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  QFont small = painter.font();
  small.setPixelSize(11);
  painter.setFont(small);
  HaloText(painter, QPointF(left + 4, bottom - 5), QString::fromStdString(bar.text));
  painter.restore();
}

void MapWindow::PaintMarks(QPainter& painter) {
  if (!marks_) return;
  if (marksStale_ || !SameView(maskView_, view_)) {
    marks_->RenderMarks(view_, mask_);
    maskView_ = view_;
    marksStale_ = false;
    marksImage_ = MarksImage(mask_);
  }
  painter.drawImage(QPoint(0, 0), marksImage_);
}

}  // namespace roamgrid
