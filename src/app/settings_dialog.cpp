#include "app/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "import/import_defaults.h"

namespace roamgrid {

namespace {

QSpinBox* NumberBox(const char* name, int value, const QString& zeroText, const QString& suffix,
                    int lowest) {
  auto* box = new QSpinBox;
  box->setObjectName(QLatin1String(name));
  box->setRange(lowest, kMaxOptionValue);
  box->setSuffix(suffix);
  if (!zeroText.isEmpty()) box->setSpecialValueText(zeroText);  // shown for the lowest, 0
  box->setValue(value);
  return box;
}

}  // namespace

SettingsDialog::SettingsDialog(const UserSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Settings"));

  auto* import = new QGroupBox(QStringLiteral("Import"));
  auto* importForm = new QFormLayout(import);
  connect_ = new QCheckBox(QStringLiteral("Join consecutive fixes up to"));
  connect_->setObjectName(QStringLiteral("connect"));
  connect_->setChecked(settings.connect);
  connectMetres_ = NumberBox("connectMetres", settings.connectMetres, {}, QStringLiteral(" m"), 1);
  connectMetres_->setEnabled(settings.connect);
  QObject::connect(connect_, &QCheckBox::toggled, connectMetres_, &QWidget::setEnabled);
  importForm->addRow(connect_, connectMetres_);
  maxSpeedKmh_ = NumberBox("maxSpeedKmh", settings.maxSpeedKmh, QStringLiteral("off"),
                           QStringLiteral(" km/h"), 0);
  importForm->addRow(QStringLiteral("Skip fixes faster than"), maxSpeedKmh_);
  maxAccuracyM_ = NumberBox("maxAccuracyM", settings.maxAccuracyM, QStringLiteral("no limit"),
                            QStringLiteral(" m"), 0);
  importForm->addRow(QStringLiteral("Skip points less accurate than"), maxAccuracyM_);
  anyTalker_ = new QCheckBox(QStringLiteral("Read GGA of every talker ($GNGGA, $GLGGA...)"));
  anyTalker_->setObjectName(QStringLiteral("anyTalker"));
  anyTalker_->setChecked(settings.anyTalker);
  importForm->addRow(anyTalker_);
  skipInvalid_ =
      new QCheckBox(QStringLiteral("Skip fixes the receiver marked invalid (fix quality 0)"));
  skipInvalid_->setObjectName(QStringLiteral("skipInvalid"));
  skipInvalid_->setChecked(settings.skipInvalid);
  importForm->addRow(skipInvalid_);

  auto* map = new QGroupBox(QStringLiteral("Map"));
  auto* mapForm = new QFormLayout(map);
  background_ = new QComboBox;
  background_->setObjectName(QStringLiteral("background"));
  background_->addItem(QStringLiteral("None"), QStringLiteral("none"));
  background_->addItem(QStringLiteral("Coastlines"), QStringLiteral("coast"));
  background_->addItem(QStringLiteral("Tiles"), QStringLiteral("tiles"));
  background_->setCurrentIndex(std::max(0, background_->findData(settings.background)));
  mapForm->addRow(QStringLiteral("Background"), background_);
  tileSource_ = new QLineEdit(settings.tileSource);
  tileSource_->setObjectName(QStringLiteral("tileSource"));
  tileSource_->setPlaceholderText(QStringLiteral("https://.../{z}/{x}/{y}.png or a .mbtiles file"));
  mapForm->addRow(QStringLiteral("Tile source"), tileSource_);
  tileAttribution_ = new QLineEdit(settings.tileAttribution);
  tileAttribution_->setObjectName(QStringLiteral("tileAttribution"));
  mapForm->addRow(QStringLiteral("Attribution"), tileAttribution_);
  const auto enableTiles = [this] {
    const bool tiles = background_->currentData().toString() == QLatin1String("tiles");
    tileSource_->setEnabled(tiles);
    tileAttribution_->setEnabled(tiles);
  };
  enableTiles();
  QObject::connect(background_, &QComboBox::currentIndexChanged, this, enableTiles);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(import);
  layout->addWidget(map);
  layout->addWidget(buttons);
}

UserSettings SettingsDialog::Settings() const {
  UserSettings settings = settings_;
  settings.connect = connect_->isChecked();
  settings.connectMetres = connectMetres_->value();
  settings.maxSpeedKmh = maxSpeedKmh_->value();
  settings.maxAccuracyM = maxAccuracyM_->value();
  settings.anyTalker = anyTalker_->isChecked();
  settings.skipInvalid = skipInvalid_->isChecked();
  settings.background = background_->currentData().toString();
  settings.tileSource = tileSource_->text().trimmed();
  settings.tileAttribution = tileAttribution_->text().trimmed();
  return settings;
}

bool EditUserSettings(QWidget* parent) {
  SettingsDialog dialog(LoadUserSettings(), parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  return SaveUserSettings(dialog.Settings());
}

}  // namespace roamgrid
