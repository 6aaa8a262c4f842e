// The tile source dialog, reached from the map's context menu: the map
// tile source (an XYZ URL template or a local MBTiles file, chosen with
// "File...") and the attribution text drawn on the map with it. OK takes
// only a source that parses; an empty source turns the tiles off.
#pragma once

#include <QDialog>
#include <optional>

#include "common/windowing_platform.h"

class QLabel;
class QLineEdit;

namespace roamgrid {

class TileSourceDlg : public QDialog {
  Q_OBJECT

 public:
  TileSourceDlg(const TileSourceChoice& current, QWidget* parent);

  // Runs the dialog modally: the choice on OK, nothing on Cancel.
  static std::optional<TileSourceChoice> Ask(const TileSourceChoice& current, QWidget* parent);

  TileSourceChoice choice() const;

 private:
  void OnBrowse();
  void OnOk();

  QLineEdit* source_;
  QLineEdit* attribution_;
  QLabel* problem_;
};

}  // namespace roamgrid
