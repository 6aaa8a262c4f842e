#include "export/over_write_dlg.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRect>

namespace roamgrid {

namespace {

// Template 129: its controls in template (tab) order, in dialog units.
struct TemplateItem {
  int id;
  bool isButton;
  const char* text;
  int x, y, width, height;
};

constexpr int kTemplateWidth = 186;
constexpr int kTemplateHeight = 45;
constexpr int kOverWriteId = 1;
constexpr int kCancelId = 2;
constexpr int kMargeId = 3;
constexpr int kPathStaticId = 1011;

constexpr TemplateItem kTemplate129[] = {
    {kOverWriteId, true, "OverWrite", 7, 24, 50, 14},
    {kCancelId, true, "Cancel", 129, 24, 50, 14},
    {kMargeId, true, "Marge", 68, 24, 50, 14},
    {kPathStaticId, false, "スタティック", 7, 7, 172, 16},
};

// Dialog units to pixels at dialog base units of 7 x 12 pixels: a
// horizontal unit is a quarter, a vertical one an eighth of a base unit.
int UnitsToPixelsX(int units) { return units * 7 / 4; }
int UnitsToPixelsY(int units) { return units * 12 / 8; }

}  // namespace

OverWriteDlg::OverWriteDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Export"));
  // Caption, system menu and close box; no minimise, maximise or help.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(UnitsToPixelsX(kTemplateWidth), UnitsToPixelsY(kTemplateHeight));
  for (const TemplateItem& item : kTemplate129) {
    QWidget* control;
    if (item.isButton) {
      auto* button = new QPushButton(QString::fromUtf8(item.text), this);
      if (item.id == kOverWriteId) {
        overWriteButton_ = button;
        connect(button, &QPushButton::clicked, this, &OverWriteDlg::OnOverWrite);
      } else if (item.id == kMargeId) {
        connect(button, &QPushButton::clicked, this, &OverWriteDlg::OnMarge);
      } else {
        connect(button, &QPushButton::clicked, this, &QDialog::reject);
      }
      control = button;
    } else {
      pathLabel_ = new QLabel(QString::fromUtf8(item.text), this);
      pathLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      pathLabel_->setWordWrap(true);  // a left-aligned static wraps at blanks
      control = pathLabel_;
    }
    control->setObjectName(QString::number(item.id));
    control->setGeometry(QRect(UnitsToPixelsX(item.x), UnitsToPixelsY(item.y),
                               UnitsToPixelsX(item.width), UnitsToPixelsY(item.height)));
  }
  overWriteButton_->setDefault(true);  // Enter answers OverWrite, as command 1
  overWriteButton_->setFocus();
}

OverwriteAnswer OverWriteDlg::Ask(const std::string& path, QWidget* owner) {
  OverWriteDlg prompt(owner);
  prompt.pathText = QFile::decodeName(path.c_str());
  if (prompt.exec() != QDialog::Accepted) return OverwriteAnswer::kCancel;
  return prompt.mergeFlag ? OverwriteAnswer::kMerge : OverwriteAnswer::kOverwrite;
}

void OverWriteDlg::showEvent(QShowEvent* event) {
  pathLabel_->setText(QStringLiteral("\"%1\" exists").arg(pathText));
  overWriteButton_->setFocus();
  QDialog::showEvent(event);
}

void OverWriteDlg::OnOverWrite() {
  mergeFlag = false;
  accept();
}

void OverWriteDlg::OnMarge() {
  mergeFlag = true;
  accept();
}

}  // namespace roamgrid
