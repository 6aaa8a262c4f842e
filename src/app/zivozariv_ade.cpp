#include "app/zivozariv_ade.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QToolTip>
#include <QWheelEvent>

#include "app/app_icon.h"
#include "app/main_dialog_template.h"
#include "app/qt_platform.h"
#include "app/settings_dialog.h"
#include "app/template_font.h"
#include "app/user_settings.h"
#include "export/export_command.h"
#include "geo/coast_background.h"
#include "geo/map_scale.h"
#include "import/import_command.h"
#include "settings/home_command.h"
#include "settings/home_config.h"
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
  CreateControls();
  BindCommands();
  OnInitDialog();
}

// The recorder member, destroyed after this body, writes back a tile it
// still holds.
ZIvozarivAde::~ZIvozarivAde() = default;

void ZIvozarivAde::CreateControls() {
  setWindowTitle(QString::fromUtf8(kMainDialog.caption));
  // Caption and window menu with a close box; no minimise or maximise box,
  // no help button; not resizable.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(TemplateFont(kMainDialog));
  setFixedSize(DialogUnitsToPixelsX(kMainDialog.width), DialogUnitsToPixelsY(kMainDialog.height));
  // Created in template order, which makes it the tab order too.
  for (const ControlTemplate& control : kMainDialogControls) CreateControl(control, this);
  viewPlaceholder = qobject_cast<QLabel*>(GetDlgItem(kIdPlaceholder));
}

void ZIvozarivAde::BindCommands() {
  const auto bind = [this](int id, auto handler) {
    if (auto* button = qobject_cast<QPushButton*>(GetDlgItem(id))) {
      connect(button, &QPushButton::clicked, this, handler);
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
  // dialog), where the map data comes from, and the Settings dialog.
  mapMenu_ = new QMenu(this);
  backgroundAction_ = new QAction(QStringLiteral("Map background"), this);
  backgroundAction_->setCheckable(true);
  backgroundAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
  backgroundAction_->setShortcutContext(Qt::WindowShortcut);
  connect(backgroundAction_, &QAction::triggered, this, [this] { OnToggleBackground(); });
  addAction(backgroundAction_);
  mapMenu_->addAction(backgroundAction_);
  mapMenu_->addSeparator();
  mapMenu_->addAction(QStringLiteral("Map data..."), this, [this] { OnMapData(); });
  settingsAction_ = mapMenu_->addAction(QStringLiteral("Settings…"), this, [this] {
    // The background follows the saved choice at once; import options are
    // read at each import.
    if (EditUserSettings(this)) ShowBackground(LoadUserSettings().background != "none");
  });

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
  // "tiles" shows the offline background until a tile layer exists.
  ShowBackground(LoadUserSettings().background != QStringLiteral("none"));
  for (QLineEdit* edit : findChildren<QLineEdit*>()) edit->installEventFilter(this);

  // The first tab stop, "N", has the focus when the dialog shows; both zoom
  // buttons start enabled whatever the home zoom.
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
}

void ZIvozarivAde::ShowBackground(bool on) {
  backgroundOn_ = on;
  if (backgroundAction_) backgroundAction_->setChecked(on);
  viewWindow.SetBackground(on ? ViewChild::BackgroundPainter(
                                    [this](RgbImage& image) { return DrawBackground(image); })
                              : ViewChild::BackgroundPainter());
}

bool ZIvozarivAde::DrawBackground(RgbImage& image) {
  if (!gshhg_) gshhg_ = std::make_unique<GshhgStore>(GshhgFolderFromEnvironment());
  return DrawCoastBackground(*gshhg_, originLat, originLon, zoomIndex, image) > 0;
}

void ZIvozarivAde::OnToggleBackground() {
  ShowBackground(!backgroundOn_);
  UserSettings settings = LoadUserSettings();
  settings.background = backgroundOn_ ? QStringLiteral("coast") : QStringLiteral("none");
  SaveUserSettings(settings);  // unsaved, the choice still holds for this run
}

void ZIvozarivAde::OnMapData() {
  platform_->ShowMessage(kGshhgAttribution, "Roamgrid", MessageStyle::kInformationOk);
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

void ZIvozarivAde::OnDropFiles(const std::vector<std::string>& paths) { RunImport(&paths); }

void ZIvozarivAde::RunImport(const std::vector<std::string>* dropped) {
  // A drop handed on before an import began must not start a second one
  // inside it, while its progress window lets events through.
  if (importing_) return;
  importing_ = true;
  const auto endCommand = [this] { EndCommand(); };
  // The user's import settings, read afresh: the Settings dialog or another
  // instance may have changed them.
  const UserSettings settings = LoadUserSettings();
  ImportChoices choices;
  choices.options.anyTalker = settings.anyTalker;
  choices.options.connectMetres = settings.connect ? settings.connectMetres : 0;
  choices.options.maxSpeedKmh = settings.maxSpeedKmh;
  if (!settings.anyTalker) {
    choices.chooseAnyTalker = [] {
      UserSettings chosen = LoadUserSettings();
      chosen.anyTalker = true;
      SaveUserSettings(chosen);  // not saved: the choice holds for this import only
    };
  }
  if (dropped) {
    ImportLogFiles(recorder, *dropped, *platform_, endCommand, choices);
  } else {
    ImportLogs(recorder, *platform_, endCommand, choices);
  }
  importing_ = false;
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

void ZIvozarivAde::OnExport() { ExportBitmap(*this, viewWindow.raster(), *platform_); }

void ZIvozarivAde::OnSetHomePosition() { SaveHomePosition(*this, *platform_); }

void ZIvozarivAde::OnOK() {
  UpdateData(true);
  accept();
}

void ZIvozarivAde::OnSysCommand(unsigned id) {
  if ((id & 0xFFF0) == kAboutCommandId) return;  // the item has no effect
}

void ZIvozarivAde::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && modifiers == Qt::NoModifier) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
      button->click();
    } else {
      OnOK();
    }
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
