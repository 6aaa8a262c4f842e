#include "app/places_panel.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace roamgrid {

namespace {
// Where a list item's row is kept.
constexpr int kRowRole = Qt::UserRole;
}  // namespace

PlacesPanel::PlacesPanel(QWidget* parent) : QDockWidget(QStringLiteral("Places"), parent) {
  setObjectName(QStringLiteral("placesPanel"));
  // Shown with the layer: the map's "Places" switches both.
  setFeatures(QDockWidget::DockWidgetMovable);
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 4, 4, 4);
  note_ = new QLabel(body);
  note_->setObjectName(QStringLiteral("placesNote"));
  note_->setWordWrap(true);
  note_->hide();
  layout->addWidget(note_);
  list_ = new QTreeWidget(body);
  list_->setObjectName(QStringLiteral("placesList"));
  list_->setColumnCount(1);
  list_->header()->hide();
  list_->setRootIsDecorated(true);
  list_->setUniformRowHeights(true);
  list_->setToolTip(QStringLiteral("Visited places by share explored; click one to show it"));
  layout->addWidget(list_);
  setWidget(body);
  connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { OnItem(item); });
  connect(list_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { OnItem(item); });
}

void PlacesPanel::SetRows(std::vector<PlacesListRow> rows, const std::string& problem) {
  rows_ = std::move(rows);
  list_->clear();
  note_->setText(QString::fromStdString(
      problem.empty() && rows_.empty() ? std::string("No visited places yet.") : problem));
  note_->setVisible(!note_->text().isEmpty());
  if (!problem.empty()) rows_.clear();
  QTreeWidgetItem* country = nullptr;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const PlacesListRow& row = rows_[i];
    QTreeWidgetItem* item =
        row.state && country ? new QTreeWidgetItem(country) : new QTreeWidgetItem(list_);
    if (!row.state) country = item;
    item->setText(0, QString::fromStdString(row.text));
    item->setToolTip(0, QString::fromStdString(row.place.code + ": " +
                                               std::to_string(row.place.cells) + " cells"));
    item->setData(0, kRowRole, qulonglong(i));
  }
}

void PlacesPanel::OnItem(QTreeWidgetItem* item) {
  if (!item) return;
  const size_t at = size_t(item->data(0, kRowRole).toULongLong());
  if (at < rows_.size()) emit placeChosen(rows_[at].place);
}

}  // namespace roamgrid
