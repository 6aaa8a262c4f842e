// The first question of "Export region...", from the map's context menu:
// which area (the current view, all marks, or a typed south, west, north
// and east), which format of the export table, and for images how many
// cells a pixel takes. The save dialog for the file follows it.
#pragma once

#include <QDialog>
#include <array>
#include <optional>

#include "export/region_choice.h"

class QComboBox;
class QLineEdit;
class QRadioButton;

namespace roamgrid {

class ExportRegionDlg : public QDialog {
  Q_OBJECT

 public:
  ExportRegionDlg(const RegionExportChoice& current, QWidget* parent);

  // Runs the dialog modally: the choice on OK, nothing on Cancel.
  static std::optional<RegionExportChoice> Ask(const RegionExportChoice& current, QWidget* parent);

  RegionExportChoice choice() const;

 private:
  // The edges only for a typed area; the detail only for an image.
  void EnableChoices();

  std::array<QRadioButton*, 3> areas_;  // in the order of RegionArea
  std::array<QLineEdit*, 4> edges_;     // south, west, north, east
  QComboBox* format_;
  QComboBox* detail_;
};

}  // namespace roamgrid
