// The overwrite/merge prompt of the Export command, built from dialog
// template 129: "\"<path>\" exists" above three buttons, OverWrite, Marge
// and Cancel. OverWrite and Marge accept the dialog and set mergeFlag;
// Cancel, Escape and the close box reject it.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

#include "common/windowing_platform.h"

class QLabel;
class QPushButton;

namespace roamgrid {

class OverWriteDlg : public QDialog {
  Q_OBJECT

 public:
  // Template 129 with `parent` as owner (none: a window of its own).
  explicit OverWriteDlg(QWidget* parent = nullptr);

  // Runs the prompt modally for `path` and gives the answer.
  static OverwriteAnswer Ask(const std::string& path, QWidget* owner = nullptr);

  bool mergeFlag = false;  // the answer after Accepted: false OverWrite, true Marge
  QString pathText;        // the existing file; set before the prompt is shown

 protected:
  // Dialog initialisation: puts pathText into static 1011 and the focus on
  // OverWrite, the first tab stop.
  void showEvent(QShowEvent* event) override;

 private:
  void OnOverWrite();  // command 1
  void OnMarge();      // command 3

  QPushButton* overWriteButton_ = nullptr;
  QLabel* pathLabel_ = nullptr;
};

}  // namespace roamgrid
