#include "app/share_dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpSocket>
#include <QVBoxLayout>

#include "app/user_settings.h"
#include "export/map_tiles_export.h"
#include "export/web_page.h"
#include "geo/gshhg_store.h"
#include "geo/tile_source.h"
#include "geo/web_mercator.h"
#include "map/marks_map.h"

namespace roamgrid {

namespace {

constexpr int kServePort = 8745;
constexpr int kServeAnswerMs = 300;
// The bar and the window are brought up to date every this many tiles.
constexpr long long kTilesPerRedraw = 16;

}  // namespace

ShareExportDialog::ShareExportDialog(Kind kind, QWidget* parent) : QDialog(parent), kind_(kind) {
  const bool tiles = kind == Kind::kTiles;
  setWindowTitle(tiles ? QStringLiteral("Export tiles") : QStringLiteral("Export web map"));
  auto* form = new QFormLayout;
  path_ = new QLineEdit;
  path_->setObjectName(QStringLiteral("path"));
  path_->setMinimumWidth(360);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(path_);
  auto* folder = new QPushButton(QStringLiteral("Folder…"));
  connect(folder, &QPushButton::clicked, this, [this] { Browse(false); });
  pathRow->addWidget(folder);
  if (tiles) {
    auto* file = new QPushButton(QStringLiteral("MBTiles file…"));
    connect(file, &QPushButton::clicked, this, [this] { Browse(true); });
    pathRow->addWidget(file);
  }
  form->addRow(tiles ? QStringLiteral("Folder or file") : QStringLiteral("Folder"), pathRow);
  const auto zoomBox = [](const char* name, int value) {
    auto* box = new QSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setRange(0, kMaxMapTileZoom);
    box->setValue(value);
    return box;
  };
  zoomFirst_ = zoomBox("zoomFirst", 0);
  zoomLast_ = zoomBox("zoomLast", 16);
  auto* zooms = new QHBoxLayout;
  zooms->addWidget(zoomFirst_);
  zooms->addWidget(new QLabel(QStringLiteral("to")));
  zooms->addWidget(zoomLast_);
  zooms->addStretch();
  form->addRow(QStringLiteral("Zooms"), zooms);
  colour_ = new QPushButton;
  colour_->setObjectName(QStringLiteral("colour"));
  colour_->setToolTip(QStringLiteral("The colour of the visited cells"));
  connect(colour_, &QPushButton::clicked, this, [this] { ChooseColour(); });
  ShowColour(QColor(LoadUserSettings().shareColour));
  auto* colourRow = new QHBoxLayout;
  colourRow->addWidget(colour_);
  colourRow->addStretch();
  form->addRow(QStringLiteral("Marks"), colourRow);
  progress_ = new QProgressBar;
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setValue(0);
  status_ = new QLabel(tiles ? QStringLiteral("Tiles of 256 x 256 pixels, transparent where "
                                              "nothing is visited; only tiles with marks.")
                             : QStringLiteral("The tiles and index.html, to open from the disk "
                                              "or put on any web host."));
  status_->setObjectName(QStringLiteral("status"));
  status_->setWordWrap(true);
  export_ = new QPushButton(QStringLiteral("Export"));
  export_->setObjectName(QStringLiteral("export"));
  export_->setDefault(true);
  close_ = new QPushButton(QStringLiteral("Close"));
  close_->setObjectName(QStringLiteral("close"));
  connect(export_, &QPushButton::clicked, this, [this] { RunExport(); });
  connect(close_, &QPushButton::clicked, this, [this] {
    if (running_) {
      stop_ = true;
    } else {
      reject();
    }
  });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(export_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  layout->addLayout(buttons);
}

void ShareExportDialog::Browse(bool mbtiles) {
  const QString chosen =
      mbtiles ? QFileDialog::getSaveFileName(this, QStringLiteral("MBTiles file"), path_->text(),
                                             QStringLiteral("MBTiles (*.mbtiles)"))
              : QFileDialog::getExistingDirectory(this, QStringLiteral("Folder"), path_->text());
  if (chosen.isEmpty()) return;
  path_->setText(mbtiles && !IsMbTilesPath(chosen.toStdString()) ? chosen + ".mbtiles" : chosen);
}

void ShareExportDialog::ShowColour(const QColor& colour) {
  chosenColour_ = colour;
  QPixmap swatch(16, 16);
  swatch.fill(colour);
  colour_->setIcon(QIcon(swatch));
  colour_->setText(colour.name());
}

void ShareExportDialog::ChooseColour() {
  const QColor chosen =
      QColorDialog::getColor(chosenColour_, this, QStringLiteral("Colour of the marks"));
  if (!chosen.isValid()) return;
  ShowColour(chosen);
  // Remembered for the next export.
  UserSettings settings = LoadUserSettings();
  settings.shareColour = chosen.name();
  SaveUserSettings(settings);
}

bool ShareExportDialog::RunExport() {
  const std::string path = path_->text().trimmed().toStdString();
  if (path.empty() || zoomFirst_->value() > zoomLast_->value()) {
    status_->setText(path.empty() ? QStringLiteral("Choose a folder first.")
                                  : QStringLiteral("The first zoom is above the last."));
    return false;
  }
  if (kind_ == Kind::kWebMap && IsMbTilesPath(path)) {
    status_->setText(QStringLiteral("A web map is written into a folder."));
    return false;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  MarksMap marks;
  marks.Refresh();
  QApplication::restoreOverrideCursor();
  MapTilesRequest tiles;
  tiles.path = path;
  tiles.zoomFirst = zoomFirst_->value();
  tiles.zoomLast = zoomLast_->value();
  tiles.colour = Rgb{uint8_t(chosenColour_.red()), uint8_t(chosenColour_.green()),
                     uint8_t(chosenColour_.blue())};
  const long long count = CountMapTiles(marks, tiles);
  progress_->setRange(0, int(std::min<long long>(count, INT_MAX)));
  progress_->setValue(0);
  status_->setText(QStringLiteral("Exporting…"));
  running_ = true;
  stop_ = false;
  export_->setEnabled(false);
  close_->setText(QStringLiteral("Stop"));
  const MapTilesProgress progress = [this](int, long long looked, long long) {
    if (looked % kTilesPerRedraw == 0) {
      progress_->setValue(int(std::min<long long>(looked, INT_MAX)));
      QApplication::processEvents();
    }
    return !stop_;
  };
  MapTilesResult result;
  if (kind_ == Kind::kTiles) {
    result = ExportMapTiles(marks, tiles, progress);
  } else {
    WebMapRequest web;
    web.tiles = tiles;
    const UserSettings settings = LoadUserSettings();
    TileSource source;
    std::string ignored;
    if (ParseTileSource(settings.tileSource.toStdString(), source, ignored) &&
        source.kind == TileSource::Kind::kUrlTemplate) {
      web.baseUrl = source.text;
      web.baseSubdomains = source.subdomains;
      web.baseAttribution = settings.tileAttribution.toStdString();
    }
    web.gshhgFolder = GshhgFolderFromEnvironment();
    result = ExportWebMap(marks, web, progress);
  }
  running_ = false;
  export_->setEnabled(true);
  close_->setText(QStringLiteral("Close"));
  progress_->setValue(progress_->maximum());
  if (!result.ok) {
    progress_->setValue(0);
    status_->setText(
        result.error == "stopped"
            ? QStringLiteral("Stopped.")
            : QStringLiteral("Not exported: %1").arg(QString::fromStdString(result.error)));
    return false;
  }
  status_->setText(
      QStringLiteral("%1 tiles written to %2%3")
          .arg(result.tiles)
          .arg(QString::fromStdString(path))
          .arg(kind_ == Kind::kWebMap ? QStringLiteral(" with index.html") : QString()));
  return true;
}

std::optional<std::string> RunningServeLayerUrl() {
  QTcpSocket socket;
  socket.connectToHost(QStringLiteral("127.0.0.1"), kServePort);
  if (!socket.waitForConnected(kServeAnswerMs)) return std::nullopt;
  socket.write("GET /tiles.json HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  QByteArray answer;
  // Only the first few kilobytes are looked at.
  while (answer.size() < 4096 && socket.waitForReadyRead(kServeAnswerMs))
    answer += socket.read(4096 - answer.size());
  if (!answer.startsWith("HTTP/1.1 200") || !answer.contains("\"tilejson\"")) return std::nullopt;
  return "http://127.0.0.1:" + std::to_string(kServePort) + "/{z}/{x}/{y}.png";
}

void AddShareActions(QMenu* menu, QWidget* window) {
  QAction* copy = menu->addAction(QStringLiteral("Copy layer URL"), window, [] {
    if (const std::optional<std::string> url = RunningServeLayerUrl())
      QApplication::clipboard()->setText(QString::fromStdString(*url));
  });
  copy->setObjectName(QStringLiteral("copyLayerUrl"));
  copy->setToolTip(
      QStringLiteral("The tile address of roamgrid-cli serve, for a map app or a GIS "
                     "layer (while it runs)"));
  QObject::connect(menu, &QMenu::aboutToShow, copy,
                   [copy] { copy->setEnabled(RunningServeLayerUrl().has_value()); });
  const auto open = [window](ShareExportDialog::Kind kind) {
    ShareExportDialog dialog(kind, window);
    dialog.exec();
  };
  menu->addAction(QStringLiteral("Export tiles…"), window,
                  [open] { open(ShareExportDialog::Kind::kTiles); })
      ->setObjectName(QStringLiteral("exportTiles"));
  menu->addAction(QStringLiteral("Export web map…"), window,
                  [open] { open(ShareExportDialog::Kind::kWebMap); })
      ->setObjectName(QStringLiteral("exportWebMap"));
}

}  // namespace roamgrid
