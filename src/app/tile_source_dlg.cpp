#include "app/tile_source_dlg.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "geo/tile_source.h"

namespace roamgrid {

TileSourceDlg::TileSourceDlg(const TileSourceChoice& current, QWidget* parent)
    : QDialog(parent),
      source_(new QLineEdit(QString::fromStdString(current.source))),
      attribution_(new QLineEdit(QString::fromStdString(current.attribution))),
      problem_(new QLabel) {
  setWindowTitle(QStringLiteral("Map tiles"));
  source_->setObjectName(QStringLiteral("tileSource"));
  source_->setPlaceholderText(QStringLiteral("https://tiles.example.org/{z}/{x}/{y}.png"));
  source_->setMinimumWidth(420);
  attribution_->setObjectName(QStringLiteral("tileAttribution"));
  attribution_->setPlaceholderText(QStringLiteral("© the map's authors, as its licence asks"));
  auto* browse = new QPushButton(QStringLiteral("File..."));
  connect(browse, &QPushButton::clicked, this, &TileSourceDlg::OnBrowse);
  auto* sourceRow = new QHBoxLayout;
  sourceRow->addWidget(source_);
  sourceRow->addWidget(browse);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Source:"), sourceRow);
  form->addRow(QStringLiteral("Attribution:"), attribution_);
  auto* note = new QLabel(QStringLiteral(
      "An XYZ URL template ({z}, {x}, {y}; {s} or {s:a,b,c} for subdomains) or an\n"
      "MBTiles file. Use only a tile server whose usage policy allows this program.\n"
      "Empty: no tiles."));
  problem_->setObjectName(QStringLiteral("tileProblem"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &TileSourceDlg::OnOk);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(problem_);
  layout->addWidget(buttons);
}

std::optional<TileSourceChoice> TileSourceDlg::Ask(const TileSourceChoice& current,
                                                   QWidget* parent) {
  TileSourceDlg dialog(current, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.choice();
}

TileSourceChoice TileSourceDlg::choice() const {
  return {source_->text().trimmed().toStdString(), attribution_->text().trimmed().toStdString()};
}

void TileSourceDlg::OnBrowse() {
  const QString path = QFileDialog::getOpenFileName(
      this, QString(), QString(), QStringLiteral("MBTiles (*.mbtiles);;すべてのファイル (*)"));
  if (!path.isEmpty()) source_->setText(path);
}

void TileSourceDlg::OnOk() {
  TileSource parsed;
  std::string error;
  if (!ParseTileSource(choice().source, parsed, error)) {
    problem_->setText(QString::fromStdString(error));
    return;
  }
  if (parsed.kind == TileSource::Kind::kMbtiles &&
      !QFile::exists(QString::fromStdString(parsed.text))) {
    problem_->setText(QStringLiteral("no such file"));
    return;
  }
  accept();
}

}  // namespace roamgrid
