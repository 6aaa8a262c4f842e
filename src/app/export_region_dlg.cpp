#include "app/export_region_dlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "view/view_state.h"

namespace roamgrid {

namespace {

// The ground a pixel covers at each zoom, about (a cell is 1/17920 degree,
// 6.2 m north to south).
constexpr const char* kPixelGround[] = {"6 m",   "12 m",  "25 m",  "50 m",
                                        "100 m", "200 m", "400 m", "800 m"};
static_assert(std::size(kPixelGround) == kMaxZoomIndex + 1);

QString DetailText(int zoom) {
  const int cells = 1 << zoom;
  const QString ground = QString::fromUtf8(kPixelGround[zoom]);
  return cells == 1 ? QStringLiteral("1 cell a pixel (%1)").arg(ground)
                    : QStringLiteral("%1 x %1 cells a pixel (%2)").arg(cells).arg(ground);
}

}  // namespace

ExportRegionDlg::ExportRegionDlg(const RegionExportChoice& current, QWidget* parent)
    : QDialog(parent), format_(new QComboBox), detail_(new QComboBox) {
  setWindowTitle(QStringLiteral("Export region"));
  auto* group = new QButtonGroup(this);
  const char* areaNames[] = {"Current view", "All marks", "South, west, north, east:"};
  const char* areaObjects[] = {"areaView", "areaAllMarks", "areaBox"};
  for (size_t i = 0; i < areas_.size(); ++i) {
    areas_[i] = new QRadioButton(QString::fromUtf8(areaNames[i]));
    areas_[i]->setObjectName(QString::fromUtf8(areaObjects[i]));
    group->addButton(areas_[i]);
  }
  areas_[size_t(current.area)]->setChecked(true);
  const std::string* texts[] = {&current.south, &current.west, &current.north, &current.east};
  const char* edgeNames[] = {"south", "west", "north", "east"};
  const char* edgeTips[] = {
      "South edge, degrees north (negative: south)", "West edge, degrees east (negative: west)",
      "North edge, degrees north (negative: south)", "East edge, degrees east (negative: west)"};
  auto* box = new QHBoxLayout;
  box->setContentsMargins(24, 0, 0, 0);
  for (size_t i = 0; i < edges_.size(); ++i) {
    edges_[i] = new QLineEdit(QString::fromStdString(*texts[i]));
    edges_[i]->setObjectName(QString::fromUtf8(edgeNames[i]));
    edges_[i]->setToolTip(QString::fromUtf8(edgeTips[i]));
    edges_[i]->setPlaceholderText(QString::fromUtf8(edgeNames[i]));
    edges_[i]->setMinimumWidth(80);
    box->addWidget(edges_[i]);
  }

  format_->setObjectName(QStringLiteral("format"));
  for (const ExportFormatEntry& format : ExportFormats()) {
    if (format.region) format_->addItem(QString::fromUtf8(format.name), int(format.format));
  }
  format_->setCurrentIndex(std::max(0, format_->findData(int(current.format))));
  detail_->setObjectName(QStringLiteral("detail"));
  detail_->addItem(QStringLiteral("The finest that fits"), RegionExportChoice::kFinestDetail);
  for (int zoom = kMinZoomIndex; zoom <= kMaxZoomIndex; ++zoom) {
    detail_->addItem(DetailText(zoom), zoom);
  }
  detail_->setCurrentIndex(std::max(0, detail_->findData(current.detail)));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Format:"), format_);
  form->addRow(QStringLiteral("Image detail:"), detail_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Save as…"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Write the visited cells of")));
  for (QRadioButton* area : areas_) layout->addWidget(area);
  layout->addLayout(box);
  layout->addSpacing(8);
  layout->addLayout(form);
  layout->addWidget(buttons);

  connect(group, &QButtonGroup::buttonToggled, this, [this] { EnableChoices(); });
  connect(format_, &QComboBox::currentIndexChanged, this, [this] { EnableChoices(); });
  EnableChoices();
}

std::optional<RegionExportChoice> ExportRegionDlg::Ask(const RegionExportChoice& current,
                                                       QWidget* parent) {
  ExportRegionDlg dialog(current, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.choice();
}

RegionExportChoice ExportRegionDlg::choice() const {
  RegionExportChoice choice;
  for (size_t i = 0; i < areas_.size(); ++i) {
    if (areas_[i]->isChecked()) choice.area = RegionArea(i);
  }
  std::string* texts[] = {&choice.south, &choice.west, &choice.north, &choice.east};
  for (size_t i = 0; i < edges_.size(); ++i) *texts[i] = edges_[i]->text().trimmed().toStdString();
  choice.format = ExportFormat(format_->currentData().toInt());
  choice.detail = detail_->currentData().toInt();
  return choice;
}

void ExportRegionDlg::EnableChoices() {
  const bool typed = areas_[size_t(RegionArea::kBox)]->isChecked();
  for (QLineEdit* edge : edges_) edge->setEnabled(typed);
  detail_->setEnabled(ExportFormatOf(ExportFormat(format_->currentData().toInt())).raster);
}

}  // namespace roamgrid
