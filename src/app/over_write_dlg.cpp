#include "app/over_write_dlg.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRect>
#include <QStyle>
#include <array>

#include "app/main_dialog_template.h"  // template records, dialog units
#include "app/template_font.h"

namespace roamgrid {

namespace {

constexpr int kIdOverWrite = 1;
constexpr int kIdCancel = 2;
constexpr int kIdMarge = 3;
constexpr int kIdPathText = 1011;

constexpr uint32_t kDefPushButtonStyle = 0x50010001;  // child, visible, tab stop, default

// Dialog template 129, the overwrite/merge prompt.
constexpr DialogTemplate kOverWriteDialog = {
    "Export", 0x80C800C8, 0, 186, 45, "MS Shell Dlg", 8,
};

constexpr std::array<ControlTemplate, 4> kOverWriteControls = {{
    {kIdOverWrite, ControlClass::kButton, "OverWrite", 7, 24, 50, 14, kDefPushButtonStyle},
    {kIdCancel, ControlClass::kButton, "Cancel", 129, 24, 50, 14, kPushButtonStyle},
    {kIdMarge, ControlClass::kButton, "Marge", 68, 24, 50, 14, kDefPushButtonStyle},
    {kIdPathText, ControlClass::kStatic, "スタティック", 7, 7, 172, 16, kLabelStyle},
}};

// Static 1011: holds its whole text, and only draws a text too long for
// its line shortened in the middle, so both ends (the file name and the
// word "exists") stay in sight.
class MiddleElidedLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
  }
};

}  // namespace

OverWriteDlg::OverWriteDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(kOverWriteDialog.caption));
  // Caption, system menu and close box; no minimise, maximise or help.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(TemplateFont(kOverWriteDialog));
  setFixedSize(DialogUnitsToPixelsX(kOverWriteDialog.width),
               DialogUnitsToPixelsY(kOverWriteDialog.height));
  // Created in template order, which makes it the tab order too.
  for (const ControlTemplate& control : kOverWriteControls) {
    const QString text = QString::fromUtf8(control.text);
    QWidget* widget;
    if (control.controlClass == ControlClass::kButton) {
      auto* button = new QPushButton(text, this);
      if (control.id == kIdOverWrite) {
        overWriteButton_ = button;
        connect(button, &QPushButton::clicked, this, &OverWriteDlg::OnOverWrite);
      } else if (control.id == kIdMarge) {
        connect(button, &QPushButton::clicked, this, &OverWriteDlg::OnMarge);
      } else {
        connect(button, &QPushButton::clicked, this, &QDialog::reject);  // Cancel
      }
      widget = button;
    } else {
      pathLabel_ = new MiddleElidedLabel(text, this);
      pathLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      pathLabel_->setTextFormat(Qt::PlainText);  // a path is never markup
      widget = pathLabel_;
    }
    widget->setObjectName(QString::number(control.id));
    widget->setGeometry(QRect(DialogUnitsToPixelsX(control.x), DialogUnitsToPixelsY(control.y),
                              DialogUnitsToPixelsX(control.width),
                              DialogUnitsToPixelsY(control.height)));
  }
  // Command 1 is the dialog's default: Enter answers OverWrite.
  overWriteButton_->setDefault(true);
  overWriteButton_->setFocus();
}

OverwriteAnswer OverWriteDlg::Ask(const std::string& path, QWidget* owner) {
  OverWriteDlg prompt(owner);
  prompt.pathText = QFile::decodeName(path.c_str());
  if (prompt.exec() != QDialog::Accepted) return OverwriteAnswer::kCancel;
  return prompt.mergeFlag ? OverwriteAnswer::kMerge : OverwriteAnswer::kOverwrite;
}

void OverWriteDlg::showEvent(QShowEvent* event) {
  // The control holds the whole formatted text; a line too long for it is
  // shortened only where it is drawn, and the whole text is also the
  // tooltip and the accessible name.
  const QString text = QStringLiteral("\"%1\" exists").arg(pathText);
  pathLabel_->setText(text);
  pathLabel_->setToolTip(text);
  pathLabel_->setAccessibleName(text);
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
