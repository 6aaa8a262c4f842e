// The Settings dialog: the per-user choices of the desktop program in one
// small form, reached from the main dialog's context menu. It edits a copy
// of UserSettings; the caller saves what OK returns.
//   Import:  connect consecutive fixes (on/off, metres), max speed (km/h,
//            0 off), max accuracy (metres, 0 no limit), GGA of any talker,
//            skip fixes the receiver marked invalid
//   Map:     background none / coast / tiles, tile source, attribution
#pragma once

#include <QDialog>

#include "app/user_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace roamgrid {

class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // The form filled from `settings`; `parent` owns it and it opens over it.
  SettingsDialog(const UserSettings& settings, QWidget* parent = nullptr);

  // `settings` given at construction with the form's values in their fields
  // (fields the form does not show kept as they were).
  UserSettings Settings() const;

 private:
  UserSettings settings_;
  QCheckBox* connect_ = nullptr;          // objectName "connect"
  QSpinBox* connectMetres_ = nullptr;     // "connectMetres", enabled with connect
  QSpinBox* maxSpeedKmh_ = nullptr;       // "maxSpeedKmh", 0 shows "off"
  QSpinBox* maxAccuracyM_ = nullptr;      // "maxAccuracyM", 0 shows "no limit"
  QCheckBox* anyTalker_ = nullptr;        // "anyTalker"
  QCheckBox* skipInvalid_ = nullptr;      // "skipInvalid"
  QComboBox* background_ = nullptr;       // "background": none, coast, tiles
  QLineEdit* tileSource_ = nullptr;       // "tileSource", enabled with tiles
  QLineEdit* tileAttribution_ = nullptr;  // "tileAttribution", enabled with tiles
};

// Shows the Settings dialog over `parent` with the saved settings and saves
// them when OK is pressed. Returns true when they were saved.
bool EditUserSettings(QWidget* parent);

}  // namespace roamgrid
