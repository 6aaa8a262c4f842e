// The list of visited places beside the Map window: the countries sorted
// by the share of them explored, each with its visited states beneath it.
// A click on a place asks the map to show it whole. What the list holds
// comes from the core's Places layer (map/places_map.h).
#pragma once

#include <QDockWidget>
#include <vector>

#include "map/places_map.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace roamgrid {

class PlacesPanel : public QDockWidget {
  Q_OBJECT

 public:
  explicit PlacesPanel(QWidget* parent = nullptr);

  // Shows `rows`, or `problem` (one line) instead when it is not empty.
  void SetRows(std::vector<PlacesListRow> rows, const std::string& problem);

  QTreeWidget* list() const { return list_; }
  const std::vector<PlacesListRow>& rows() const { return rows_; }

 signals:
  // A place was clicked.
  void placeChosen(const roamgrid::PlaceLine& place);

 private:
  void OnItem(QTreeWidgetItem* item);

  QTreeWidget* list_ = nullptr;
  QLabel* note_ = nullptr;
  std::vector<PlacesListRow> rows_;
};

}  // namespace roamgrid
