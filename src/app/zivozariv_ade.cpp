#include "app/zivozariv_ade.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPauseAnimation>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSequentialAnimationGroup>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>
#include <tuple>

#include "app/app_icon.h"
#include "app/main_dialog_template.h"
#include "app/map_window.h"
#include "app/qt_platform.h"
#include "app/settings_dialog.h"
#include "app/template_font.h"
#include "app/user_settings.h"
#include "common/number_text.h"
#include "common/task_progress.h"
#include "common/text.h"
#include "export/export_command.h"
#include "geo/coast_background.h"
#include "geo/map_scale.h"
#include "geo/rgb_image.h"
#include "home/home_command.h"
#include "home/home_config.h"
#include "import/import_command.h"
#include "import/import_run.h"
#include "store/store_check.h"
#include "view/navigation_tips.h"
#include "view/pasted_position.h"
#include "view/render_view.h"

namespace roamgrid {
namespace {

QRect PixelRect(const ControlTemplate& control) {
  return QRect(DialogUnitsToPixelsX(control.x), DialogUnitsToPixelsY(control.y),
               DialogUnitsToPixelsX(control.width), DialogUnitsToPixelsY(control.height));
}

QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) {
  const QString text = QString::fromUtf8(control.text);
  QWidget* widget = nullptr;
  switch (control.controlClass) {
    case ControlClass::kButton: {
      auto* button = new QPushButton(text, parent);
      // No push button is a default button: Enter in an edit ends the dialog.
      button->setAutoDefault(false);
      button->setDefault(false);
      widget = button;
      break;
    }
    case ControlClass::kEdit: {
      auto* edit = new QLineEdit(text, parent);
      edit->setReadOnly(control.style & kStyleReadOnly);
      edit->setAlignment(((control.style & kStyleEditRight) ? Qt::AlignRight : Qt::AlignLeft) |
                         Qt::AlignVCenter);
      widget = edit;
      break;
    }
    case ControlClass::kStatic: {
      auto* label = new QLabel(text, parent);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      if (control.style & kStyleStaticSunken) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      } else if (control.style & kStyleBorder) {
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
      }
      widget = label;
      break;
    }
  }
  widget->setObjectName(QString::number(control.id));
  widget->setFocusPolicy((control.style & kStyleTabStop) ? Qt::StrongFocus : Qt::NoFocus);
  widget->setGeometry(PixelRect(control));
  return widget;
}

// The local files among dropped URLs, in the order given.
std::vector<std::string> DroppedFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return paths;
}

constexpr int kWheelNotch = 120;  // angle delta of one wheel notch

// How long after an import Escape cannot end the dialog: keys a
// person meant for the progress window (a second Escape after Cancel) come
// in just after it has gone.
constexpr qint64 kCloseKeysHeldAfterImportMs = 500;

// The note of an import's new cells: shown, then faded out and gone.
constexpr int kNoteShownMs = 2500;
constexpr int kNoteFadeMs = 1500;
constexpr int kNoteMarginPx = 6;

}  // namespace

ZIvozarivAde::ZIvozarivAde() : ZIvozarivAde(static_cast<WindowingPlatform*>(nullptr)) {}

ZIvozarivAde::ZIvozarivAde(WindowingPlatform& platform) : ZIvozarivAde(&platform) {}

ZIvozarivAde::ZIvozarivAde(WindowingPlatform* platform)
    : QDialog(nullptr), appIcon(MakeAppIcon()), platform_(platform) {
  if (!platform_) {
    ownPlatform_ = std::make_unique<QtPlatform>(this);
    platform_ = ownPlatform_.get();
  }
  // The home defaults and the cleared pending move come with ViewState.
  connect(&storeWatcher_, &StoreWatcher::StoreChanged, this, &ZIvozarivAde::OnStoreChanged);
  CreateControls();
  BindCommands();
  OnInitDialog();
}

// The recorder member, destroyed after this body, writes back a tile it
// still holds. The Map window goes first, while the tile layer it shares
// still stands.
ZIvozarivAde::~ZIvozarivAde() { delete mapWindow_.data(); }

void ZIvozarivAde::CreateControls() {
  setWindowTitle(QString::fromUtf8(kMainDialog.caption));
  // Caption and window menu with a close box; no minimise or maximise box,
  // no help button; not resizable.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(TemplateFont(kMainDialog));
  setFixedSize(DialogUnitsToPixelsX(kMainDialog.width), DialogUnitsToPixelsY(kMainDialog.height));
  // Created in template order; the tab order is the visual one: top to
  // bottom, then left to right within a row.
  std::vector<const ControlTemplate*> tabStops;
  for (const ControlTemplate& control : kMainDialogControls) {
    CreateControl(control, this);
    if (control.style & kStyleTabStop) tabStops.push_back(&control);
  }
  std::stable_sort(tabStops.begin(), tabStops.end(), [](const auto* a, const auto* b) {
    return std::tie(a->y, a->x) < std::tie(b->y, b->x);
  });
  for (size_t i = 1; i < tabStops.size(); ++i) {
    setTabOrder(GetDlgItem(tabStops[i - 1]->id), GetDlgItem(tabStops[i]->id));
  }
  viewPlaceholder = qobject_cast<QLabel*>(GetDlgItem(kIdPlaceholder));
}

void ZIvozarivAde::BindCommands() {
  const auto bind = [this](int id, auto handler) {
    if (auto* button = qobject_cast<QPushButton*>(GetDlgItem(id))) {
      connect(button, &QPushButton::clicked, this, [this, handler] {
        handler();
        ApplyZoomButtons();  // also after a command that changed nothing
      });
    }
  };
  bind(kIdImport, [this] { OnImport(); });
  bind(kIdNorth, [this] { Navigate(PanNorth); });
  bind(kIdSouth, [this] { Navigate(PanSouth); });
  bind(kIdWest, [this] { Navigate(PanWest); });
  bind(kIdEast, [this] { Navigate(PanEast); });
  bind(kIdZoomUp, [this] { OnZoomUp(); });
  bind(kIdZoomDown, [this] { OnZoomDown(); });
  bind(kIdJump, [this] { OnJump(); });
  bind(kIdExport, [this] { OnExport(); });
  bind(kIdTileWest, [this] { Navigate(StepTileWest); });
  bind(kIdTileNorth, [this] { Navigate(StepTileNorth); });
  bind(kIdTileEast, [this] { Navigate(StepTileEast); });
  bind(kIdTileSouth, [this] { Navigate(StepTileSouth); });
  bind(kIdSetHome, [this] { OnSetHomePosition(); });
  bind(kIdHome, [this] { Navigate(GoHome); });
}

void ZIvozarivAde::OnInitDialog() {
  UpdateData(false);

  // The window menu item: Linux window managers own their window menus, so
  // the dialog offers it as its context menu.
  systemMenu_ = new QMenu(this);
  const QString aboutText = QString::fromUtf8(kAboutItemText);
  if (!aboutText.isEmpty()) {
    systemMenu_->addSeparator();
    QAction* about = systemMenu_->addAction(aboutText);
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommandId); });
  }

  // The map's context menu: the background switch (Ctrl+B anywhere in the
  // dialog), the Map window (Ctrl+M), where the map data comes from, and
  // the Settings dialog.
  mapMenu_ = new QMenu(this);
  largeMapAction_ = new QAction(QStringLiteral("Large map"), this);
  largeMapAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  largeMapAction_->setShortcutContext(Qt::WindowShortcut);
  connect(largeMapAction_, &QAction::triggered, this, [this] { OpenMapWindow(); });
  addAction(largeMapAction_);
  backgroundAction_ = new QAction(QStringLiteral("Map background"), this);
  backgroundAction_->setCheckable(true);
  backgroundAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
  backgroundAction_->setShortcutContext(Qt::WindowShortcut);
  connect(backgroundAction_, &QAction::triggered, this, [this] { OnToggleBackground(); });
  addAction(backgroundAction_);
  mapMenu_->addAction(backgroundAction_);
  tilesAction_ = new QAction(QStringLiteral("Map tiles"), this);
  tilesAction_->setCheckable(true);
  connect(tilesAction_, &QAction::triggered, this, [this] { OnToggleTiles(); });
  mapMenu_->addAction(tilesAction_);
  mapMenu_->addAction(QStringLiteral("Tile source..."), this, [this] { OnTileSource(); });
  mapMenu_->addSeparator();
  mapMenu_->addAction(QStringLiteral("Import folder…"), this, [this] { OnImportFolder(); });
  mapMenu_->addAction(largeMapAction_);
  mapMenu_->addAction(QStringLiteral("Export region…"), this, [this] { OnExportRegion(); });
  mapMenu_->addSeparator();
  mapMenu_->addAction(QStringLiteral("Map data..."), this, [this] { OnMapData(); });
  settingsAction_ =
      mapMenu_->addAction(QStringLiteral("Settings…"), this, [this] { OnSettings(this); });

  LoadHomeConfig(*this);  // an invalid or missing file keeps the default home
  originLat = homeLat;
  originLon = homeLon;
  zoomIndex = homeZoom;

  setWindowIcon(appIcon);
  RenderView();

  // The view window takes the placeholder's place and rectangle.
  viewWindow.setParent(this);
  viewWindow.setGeometry(viewPlaceholder
                             ? viewPlaceholder->geometry()
                             : QRect(DialogUnitsToPixelsX(7), DialogUnitsToPixelsY(7),
                                     DialogUnitsToPixelsX(258), DialogUnitsToPixelsY(301)));
  viewWindow.show();
  if (viewPlaceholder) viewPlaceholder->hide();

  // Logs may be dropped anywhere on the dialog; edits would take them as text.
  setAcceptDrops(true);
  installEventFilter(this);
  viewWindow.installEventFilter(this);
  viewWindow.setMouseTracking(true);  // the pointer's position as the tooltip
  // New tiles repaint the view from its raster, never from the store.
  connect(&tileLayer_, &TileLayer::tilesArrived, &viewWindow, qOverload<>(&QWidget::update));
  const UserSettings settings = LoadUserSettings();
  tileLayer_.SetCacheLimitMiB(settings.tileCacheMiB);
  tileLayer_.SetSource(settings.tileSource, settings.tileAttribution);
  SetBackgroundMode(settings.background.toStdString());
  for (QLineEdit* edit : findChildren<QLineEdit*>()) edit->installEventFilter(this);
  latEdit_ = qobject_cast<QLineEdit*>(GetDlgItem(kIdCenterLat));
  if (latEdit_) connect(latEdit_, &QLineEdit::textEdited, this, &ZIvozarivAde::OnLatEdited);

  // Copies a sync tool left are offered to be folded in from the start.
  CheckConflictCopies();

  // "N" has the focus when the dialog shows; both zoom buttons start enabled
  // whatever the home zoom.
  if (QWidget* north = GetDlgItem(kIdNorth)) north->setFocus();
}

QWidget* ZIvozarivAde::GetDlgItem(int id) const {
  return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void ZIvozarivAde::UpdateData(bool saveAndValidate) {
  struct Binding {
    int id;
    std::string* text;
  };
  const Binding bindings[] = {
      {kIdSpan, &spanText}, {kIdCenterLat, &centerLatText}, {kIdCenterLon, &centerLonText}};
  for (const Binding& binding : bindings) {
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(binding.id));
    if (!edit) continue;
    if (saveAndValidate) {
      *binding.text = edit->text().toStdString();
    } else {
      edit->setText(QString::fromStdString(*binding.text));
    }
  }
}

void ZIvozarivAde::RenderView() {
  const ViewTexts texts = RebuildView(*this, viewWindow.raster());
  spanText = texts.spanText;
  centerLatText = texts.centerLatText;
  centerLonText = texts.centerLonText;
  UpdateData(false);
  const std::tuple<int32_t, int32_t, int32_t> view{originLat, originLon, zoomIndex};
  if (view != backgroundView_) {
    backgroundView_ = view;
    viewWindow.SetScaleBar(ChooseScaleBar(originLat, zoomIndex, kRasterSide, kRasterSide / 4));
    viewWindow.InvalidateBackground();
  }
  if (backgroundOn_ && tilesWanted_) tileLayer_.SetView(originLat, originLon, zoomIndex);
  ApplyButtonTips();
  // Every navigation ends here: the watch follows the view, the Map window
  // the outline.
  storeWatcher_.Watch(ViewTileFolders(*this));
  OutlineViewOnMap();
}

void ZIvozarivAde::OutlineViewOnMap() {
  if (!mapWindow_) return;
  mapWindow_->SetMainViewSquare(originLat, originLon,
                                kZoomSpans[std::clamp(zoomIndex, kMinZoomIndex, kMaxZoomIndex)]);
}

MapWindow* ZIvozarivAde::OpenMapWindow(const std::optional<MapCentre>& view) {
  if (!mapWindow_) {
    mapWindow_ = new MapWindow(this, &tileLayer_);
    connect(mapWindow_, &MapWindow::showInMainViewRequested, this, &ZIvozarivAde::ShowInMainView);
    connect(mapWindow_, &MapWindow::backgroundModeChosen, this, [this](const QString& mode) {
      SetBackgroundMode(mode.toStdString());
      SaveBackgroundMode();
    });
    connect(mapWindow_, &MapWindow::importRequested, this, [this] { OnImport(); });
    connect(mapWindow_, &MapWindow::settingsRequested, this, [this] { OnSettings(mapWindow_); });
    mapWindow_->SetBackgroundMode(backgroundMode());
    OutlineViewOnMap();
  }
  mapWindow_->Open(view);
  return mapWindow_;
}

MapWindow* ZIvozarivAde::mapWindow() const { return mapWindow_; }

void ZIvozarivAde::ShowInMainView(double lat, double lon) {
  if (Jump(*this, FormatFixed(lat, 0, 6), FormatFixed(lon, 0, 6))) EndCommand();
}

void ZIvozarivAde::OnSettings(QWidget* over) {
  // The map follows the saved choices at once; import options are read at
  // each import.
  if (!EditUserSettings(over)) return;
  const UserSettings saved = LoadUserSettings();
  SetTileSource({saved.tileSource.toStdString(), saved.tileAttribution.toStdString()});
  SetBackgroundMode(saved.background.toStdString());
}

void ZIvozarivAde::ApplyButtonTips() {
  for (const ControlTemplate& control : kMainDialogControls) {
    if (control.controlClass != ControlClass::kButton) continue;
    if (QWidget* button = GetDlgItem(control.id)) {
      button->setToolTip(QString::fromStdString(NavigationTip(control.text, zoomIndex)));
    }
  }
}

void ZIvozarivAde::OnLatEdited(const QString& text) {
  // What one edit put in: the text between what stayed before and after
  // it. A typed character is one; a paste or a drop is the whole pasted text.
  const QString& before = latTextBefore_;
  qsizetype head = 0;
  while (head < before.size() && head < text.size() && before[head] == text[head]) ++head;
  qsizetype tail = 0;
  while (tail < before.size() - head && tail < text.size() - head &&
         before[before.size() - 1 - tail] == text[text.size() - 1 - tail]) {
    ++tail;
  }
  const QString inserted = text.mid(head, text.size() - head - tail);
  latTextBefore_ = text;
  if (inserted.size() < 2) return;
  const std::optional<PastedPosition> position = SplitPastedPosition(inserted.toStdString());
  if (!position) return;
  latEdit_->setText(QString::fromStdString(position->lat));
  if (auto* lon = qobject_cast<QLineEdit*>(GetDlgItem(kIdCenterLon))) {
    lon->setText(QString::fromStdString(position->lon));
  }
  latTextBefore_ = latEdit_->text();
}

void ZIvozarivAde::ShowBackground(bool on) {
  backgroundOn_ = on;
  if (backgroundAction_) backgroundAction_->setChecked(on);
  viewWindow.SetBackground(on ? ViewChild::BackgroundPainter(
                                    [this](RgbImage& image) { return DrawBackground(image); })
                              : ViewChild::BackgroundPainter());
  ApplyTiles();
  if (mapWindow_) mapWindow_->SetBackgroundMode(backgroundMode());
}

void ZIvozarivAde::SetBackgroundMode(const std::string& mode) {
  tilesWanted_ = mode == "tiles";
  ShowBackground(mode != "none");
}

std::string ZIvozarivAde::backgroundMode() const {
  return !backgroundOn_ ? "none" : tilesWanted_ ? "tiles" : "coast";
}

void ZIvozarivAde::SetTileSource(const TileSourceChoice& choice) {
  tileLayer_.SetSource(QString::fromStdString(choice.source),
                       QString::fromStdString(choice.attribution));
  ApplyTiles();
}

void ZIvozarivAde::ApplyTiles() {
  const bool shown = backgroundOn_ && tilesWanted_;
  if (tilesAction_) tilesAction_->setChecked(shown);
  if (shown) tileLayer_.SetView(originLat, originLon, zoomIndex);
  viewWindow.SetTileLayer(shown ? &tileLayer_ : nullptr);
}

void ZIvozarivAde::SaveBackgroundMode() {
  UserSettings settings = LoadUserSettings();
  settings.background = QString::fromStdString(backgroundMode());
  SaveUserSettings(settings);  // unsaved, the choice still holds for this run
}

void ZIvozarivAde::OnToggleTiles() {
  SetBackgroundMode(backgroundMode() == "tiles" ? "coast" : "tiles");
  SaveBackgroundMode();
}

void ZIvozarivAde::OnTileSource() {
  UserSettings settings = LoadUserSettings();
  const std::optional<TileSourceChoice> choice = platform_->ChooseTileSource(
      {settings.tileSource.toStdString(), settings.tileAttribution.toStdString()});
  if (!choice) return;
  settings.tileSource = QString::fromStdString(choice->source);
  settings.tileAttribution = QString::fromStdString(choice->attribution);
  SaveUserSettings(settings);
  SetTileSource(*choice);
  // A new source is there to be seen; no source leaves the coast lines.
  SetBackgroundMode(choice->source.empty() ? (backgroundOn_ ? "coast" : "none") : "tiles");
  SaveBackgroundMode();
}

bool ZIvozarivAde::DrawBackground(RgbImage& image) {
  if (!gshhg_) gshhg_ = std::make_unique<GshhgStore>(GshhgFolderFromEnvironment());
  // A view where no line falls (inland, open sea) is still filled: it has a
  // background and its scale bar shows. Only missing data means none.
  const CoastDrawing drawing = DrawCoastBackground(*gshhg_, originLat, originLon, zoomIndex, image);
  return drawing.filled || drawing.pixels > 0;
}

void ZIvozarivAde::OnToggleBackground() {
  ShowBackground(!backgroundOn_);
  SaveBackgroundMode();
}

void ZIvozarivAde::OnMapData() {
  // The box wraps the text to its own width.
  platform_->ShowMessage(FlowingText(kGshhgAttribution), "Roamgrid", MessageStyle::kInformationOk);
}

void ZIvozarivAde::OnPointerMove(QPoint windowPixel, QPoint globalPixel) {
  const QPoint p = windowPixel - viewWindow.contentsRect().topLeft();
  if (p.x() < 0 || p.y() < 0 || p.x() >= kRasterSide || p.y() >= kRasterSide) {
    QToolTip::hideText();
    return;
  }
  QToolTip::showText(globalPixel,
                     QString::fromStdString(PixelPositionText(originLat, originLon, zoomIndex,
                                                              kRasterSide, p.x(), p.y())),
                     &viewWindow);
}

void ZIvozarivAde::OnStoreChanged() {
  // This program's own import rebuilds the view when it ends; rebuilding
  // between its saves would only slow it down.
  if (importing_) return;
  ++storeRefreshes_;
  RenderView();
  viewWindow.update();
  CheckConflictCopies();
}

void ZIvozarivAde::CheckConflictCopies() {
  const size_t copies = FindConflictCopies().size();
  if (copies == 0 || copies == conflictsPassed_) {
    delete conflictNote_;
    if (copies == 0) conflictsPassed_ = 0;
    return;
  }
  const QString text =
      copies == 1 ? QStringLiteral("1 copy from another computer: fold it in?")
                  : QStringLiteral("%1 copies from another computer: fold them in?").arg(copies);
  if (!conflictNote_) {
    auto* note = new QFrame(this);
    conflictNote_ = note;
    note->setObjectName(QStringLiteral("conflictNote"));
    note->setStyleSheet(QStringLiteral(
        "#conflictNote { background: rgba(255, 248, 215, 235); border: 1px solid #b9a66a; }"));
    auto* label = new QLabel(note);
    label->setObjectName(QStringLiteral("conflictText"));
    label->setWordWrap(true);
    label->setToolTip(QStringLiteral(
        "A file sync tool kept the other computer's version of some tiles beside them. "
        "Folding adds their marks to the tiles (marks only add up) and removes the copies."));
    auto* yes = new QPushButton(QStringLiteral("Yes"), note);
    yes->setObjectName(QStringLiteral("conflictYes"));
    yes->setAutoDefault(false);
    auto* later = new QPushButton(QStringLiteral("Not now"), note);
    later->setObjectName(QStringLiteral("conflictNotNow"));
    later->setAutoDefault(false);
    auto* row = new QHBoxLayout(note);
    row->setContentsMargins(6, 3, 3, 3);
    row->addWidget(label, 1);
    row->addWidget(yes);
    row->addWidget(later);
    connect(yes, &QPushButton::clicked, this, [this] { OnFoldConflicts(); });
    connect(later, &QPushButton::clicked, this, [this, copies] {
      conflictsPassed_ = copies;  // asked again when their number changes
      conflictNote_->deleteLater();
    });
  }
  conflictNote_->findChild<QLabel*>(QStringLiteral("conflictText"))->setText(text);
  // Within the map, the text wrapped beside the buttons where it must.
  const int width = viewWindow.width() - 2 * kNoteMarginPx;
  conflictNote_->setFixedWidth(width);
  conflictNote_->setFixedHeight(conflictNote_->layout()->heightForWidth(width));
  conflictNote_->move(viewWindow.geometry().topLeft() + QPoint(kNoteMarginPx, kNoteMarginPx));
  conflictNote_->show();
  conflictNote_->raise();
}

void ZIvozarivAde::OnFoldConflicts() {
  ConflictFold fold;
  {
    const std::unique_ptr<TaskProgress> progress =
        platform_->StartTaskProgress("Fold copies", "Folding in the copies from another computer");
    fold = FoldConflictCopies(progress.get());
  }
  RenderView();
  viewWindow.update();
  if (!fold.left.empty()) {
    std::string text;
    for (const ConflictCopyFound& copy : fold.left) {
      text += copy.path + ": " + NotFoldedReason(copy) + "\n";
    }
    text.pop_back();
    platform_->ShowMessage(text, "", MessageStyle::kExclamationOk);
  }
  conflictsPassed_ = 0;
  CheckConflictCopies();
  if (!fold.stopped) ShowNewCellsNote(fold.newCells);
}

void ZIvozarivAde::EndCommand() {
  ApplyZoomButtons();
  RenderView();
  viewWindow.update();
}

void ZIvozarivAde::ApplyZoomButtons() {
  EnableZoomButtons(*this, zoomButtons);
  GetDlgItem(kIdZoomUp)->setEnabled(zoomButtons.upEnabled);
  GetDlgItem(kIdZoomDown)->setEnabled(zoomButtons.downEnabled);
}

void ZIvozarivAde::Navigate(bool (*command)(ViewState&)) {
  if (command(*this)) EndCommand();
}

void ZIvozarivAde::OnZoomUp() {
  if (ZoomUp(*this, zoomButtons)) EndCommand();  // at the bound: nothing changes
}

void ZIvozarivAde::OnZoomDown() {
  if (ZoomDown(*this, zoomButtons)) EndCommand();  // at the bound: nothing changes
}

void ZIvozarivAde::OnJump() {
  UpdateData(true);
  if (Jump(*this, centerLatText, centerLonText)) EndCommand();
}

void ZIvozarivAde::OnImport() { RunImport(nullptr); }

void ZIvozarivAde::OnImportFolder() { RunImport(nullptr, true); }

void ZIvozarivAde::OnDropFiles(const std::vector<std::string>& paths) { RunImport(&paths); }

void ZIvozarivAde::RunImport(const std::vector<std::string>* dropped, bool folder) {
  // A drop handed on before an import began must not start a second one
  // inside it, while its progress window lets events through.
  if (importing_) return;
  importing_ = true;
  const auto endCommand = [this] { EndCommand(); };
  std::vector<ImportReport> reports;
  bool imported = true;
  // The user's import settings, read afresh: the Settings dialog or another
  // instance may have changed them.
  const UserSettings settings = LoadUserSettings();
  ImportChoices choices;
  choices.options.anyTalker = settings.anyTalker;
  choices.options.connectMetres = settings.connect ? settings.connectMetres : 0;
  choices.options.maxSpeedKmh = settings.maxSpeedKmh;
  choices.options.maxAccuracyM = settings.maxAccuracyM;
  choices.options.skipInvalid = settings.skipInvalid;
  if (!settings.anyTalker) {
    choices.chooseAnyTalker = [] {
      UserSettings chosen = LoadUserSettings();
      chosen.anyTalker = true;
      SaveUserSettings(chosen);  // not saved: the choice holds for this import only
    };
  }
  if (!settings.skipInvalid) {
    choices.chooseSkipInvalid = [] {
      UserSettings chosen = LoadUserSettings();
      chosen.skipInvalid = true;
      SaveUserSettings(chosen);  // not saved: nothing changes from the next import on
    };
  }
  if (dropped) {
    reports = ImportLogFiles(recorder, *dropped, *platform_, endCommand, choices);
  } else {
    imported = ImportLogs(recorder, *platform_, endCommand, &reports, choices, folder);
  }
  if (imported) importEnded_.start();
  importing_ = false;
  // Every import that read a log is acknowledged, one that added nothing
  // too.
  if (!reports.empty()) ShowNewCellsNote(NewCells(reports));
}

void ZIvozarivAde::ShowNewCellsNote(long long cells) {
  delete newCellsNote_;  // an earlier note still fading
  auto* note = new QLabel(
      cells == 0 ? QStringLiteral("no new cells") : QString::fromStdString(NewCellsText(cells)),
      this);
  newCellsNote_ = note;
  note->setObjectName(QStringLiteral("newCellsNote"));
  note->setStyleSheet(QStringLiteral(
      "background: rgba(255, 255, 255, 220); border: 1px solid gray; padding: 3px;"));
  note->setAttribute(Qt::WA_TransparentForMouseEvents);
  note->adjustSize();
  // Below the note of conflict copies while that stands.
  const int below = conflictNote_ ? conflictNote_->height() + kNoteMarginPx : 0;
  note->move(viewWindow.geometry().topLeft() + QPoint(kNoteMarginPx, kNoteMarginPx + below));
  note->show();
  note->raise();
  auto* opacity = new QGraphicsOpacityEffect(note);
  note->setGraphicsEffect(opacity);
  auto* fade = new QPropertyAnimation(opacity, "opacity", note);
  fade->setDuration(kNoteFadeMs);
  fade->setStartValue(1.0);
  fade->setEndValue(0.0);
  auto* sequence = new QSequentialAnimationGroup(note);
  sequence->addPause(kNoteShownMs);
  sequence->addAnimation(fade);
  connect(sequence, &QAbstractAnimation::finished, note, &QObject::deleteLater);
  sequence->start();
}

void ZIvozarivAde::OnDoubleClick(QPoint viewPixel) {
  // The raster is painted from the top-left corner inside the border,
  // south at the bottom; a click on the border or beyond the raster is none.
  const QPoint p = viewPixel - viewWindow.contentsRect().topLeft();
  if (p.x() < 0 || p.y() < 0 || p.x() >= kRasterSide || p.y() >= kRasterSide) return;
  if (CentreOnPixel(*this, p.x(), kRasterSide - 1 - p.y())) EndCommand();
}

void ZIvozarivAde::OnWheel(int angleDelta) {
  // Each notch clicks a zoom button, which does nothing while disabled.
  wheelDelta_ += angleDelta;
  for (; wheelDelta_ >= kWheelNotch; wheelDelta_ -= kWheelNotch) {
    qobject_cast<QPushButton*>(GetDlgItem(kIdZoomUp))->click();
  }
  for (; wheelDelta_ <= -kWheelNotch; wheelDelta_ += kWheelNotch) {
    qobject_cast<QPushButton*>(GetDlgItem(kIdZoomDown))->click();
  }
}

void ZIvozarivAde::OnExport() {
  // What the map shows inside its border, background and attribution
  // included, for a PNG.
  const QImage shown = viewWindow.Picture().convertToFormat(QImage::Format_RGB888);
  RgbImage picture(shown.width(), shown.height());
  for (int y = 0; y < shown.height(); ++y) {
    std::memcpy(picture.bytes.data() + size_t(y) * size_t(shown.width()) * 3, shown.constScanLine(y),
                size_t(shown.width()) * 3);
  }
  ExportBitmap(*this, viewWindow.raster(), *platform_, &picture);
}

void ZIvozarivAde::OnExportRegion() {
  // The first time the view at its own zoom; then what was chosen last.
  if (!regionChoice_) regionChoice_ = ViewRegionChoice(*this);
  ExportChosenRegion(*this, *platform_, *regionChoice_);
}

void ZIvozarivAde::OnSetHomePosition() { SaveHomePosition(*this, *platform_); }

void ZIvozarivAde::OnSysCommand(unsigned id) {
  if ((id & 0xFFF0) == kAboutCommandId) return;  // the item has no effect
}

bool ZIvozarivAde::CloseKeysHeld() const {
  return importEnded_.isValid() && importEnded_.elapsed() < kCloseKeysHeldAfterImportMs;
}

void ZIvozarivAde::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && modifiers == Qt::NoModifier) {
    QWidget* focus = focusWidget();
    if (auto* button = qobject_cast<QPushButton*>(focus)) {
      button->click();
    } else if (focus && (focus == GetDlgItem(kIdCenterLat) || focus == GetDlgItem(kIdCenterLon))) {
      OnJump();  // a typed position is meant to be shown, not to end the program
    }
    // Enter anywhere else does nothing: a key pressed in an edit never ends
    // the program and loses the view; Escape and the close box do.
    event->accept();
    return;
  }
  if (event->matches(QKeySequence::Cancel) && CloseKeysHeld()) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);  // Escape: reject, as OnCancel
}

void ZIvozarivAde::contextMenuEvent(QContextMenuEvent* event) {
  systemMenu_->popup(event->globalPos());
  event->accept();
}

bool ZIvozarivAde::eventFilter(QObject* watched, QEvent* event) {
  // Every edit of the latitude edit comes with an event to it (a key, a
  // drop, a click, its menu): the text before it is what OnLatEdited
  // compares with.
  if (latEdit_ && watched == latEdit_) latTextBefore_ = latEdit_->text();
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (DroppedFiles(drag->mimeData()).empty()) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const std::vector<std::string> paths = DroppedFiles(drop->mimeData());
      if (paths.empty()) return false;
      drop->acceptProposedAction();
      // Read after the drop has ended, so that the program the files came
      // from is not kept waiting for the import.
      QMetaObject::invokeMethod(
          this, [this, paths] { OnDropFiles(paths); }, Qt::QueuedConnection);
      return true;
    }
    case QEvent::Wheel:
      if (watched != &viewWindow) return false;
      OnWheel(static_cast<QWheelEvent*>(event)->angleDelta().y());
      return true;
    case QEvent::ContextMenu:
      if (watched != &viewWindow) return false;
      mapMenu_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
      return true;
    case QEvent::MouseMove: {
      if (watched != &viewWindow) return false;
      auto* mouse = static_cast<QMouseEvent*>(event);
      OnPointerMove(mouse->position().toPoint(), mouse->globalPosition().toPoint());
      return false;
    }
    case QEvent::MouseButtonDblClick: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (watched != &viewWindow || mouse->button() != Qt::LeftButton) return false;
      OnDoubleClick(mouse->position().toPoint());
      return true;
    }
    default:
      return QDialog::eventFilter(watched, event);
  }
}

}  // namespace roamgrid
