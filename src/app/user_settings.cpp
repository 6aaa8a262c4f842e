#include "app/user_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <cerrno>

namespace roamgrid {

namespace {

// A settings file larger than this is no settings file of this program.
constexpr off_t kSettingsFileMax = off_t(1) << 20;

// Whether the settings file may be read (and so rewritten) by QSettings:
// it is missing, or a regular file of a sane size (links followed). A
// named pipe there would stop the program at its start until someone
// wrote to it, so the file is looked at without waiting (O_NONBLOCK).
bool SettingsFileUsable(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno == ENOENT;
  struct stat status;
  const bool usable =
      fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kSettingsFileMax;
  close(fd);
  return usable;
}

int ReadInt(const QSettings& file, const char* key, int fallback, int lowest, int highest) {
  bool ok = false;
  const int value = file.value(QLatin1String(key)).toInt(&ok);
  return ok && value >= lowest && value <= highest ? value : fallback;
}

bool ReadBool(const QSettings& file, const char* key, bool fallback) {
  const QVariant value = file.value(QLatin1String(key));
  return value.isValid() ? value.toBool() : fallback;
}

QString ReadText(const QSettings& file, const char* key, const QString& fallback) {
  const QVariant value = file.value(QLatin1String(key));
  return value.isValid() ? value.toString() : fallback;
}

}  // namespace

QString UserSettingsPath() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
  return base + "/roamgrid/settings.ini";
}

UserSettings LoadUserSettings() {
  const UserSettings d;
  UserSettings s;
  if (!SettingsFileUsable(UserSettingsPath())) return s;
  const QSettings file(UserSettingsPath(), QSettings::IniFormat);
  s.background = ReadText(file, "map/background", d.background);
  if (s.background != "none" && s.background != "coast" && s.background != "tiles") {
    s.background = d.background;
  }
  s.tileSource = ReadText(file, "map/tileSource", d.tileSource);
  s.tileAttribution = ReadText(file, "map/tileAttribution", d.tileAttribution);
  s.tileCacheMiB = ReadInt(file, "map/tileCacheMiB", d.tileCacheMiB, 1, 1 << 20);
  s.anyTalker = ReadBool(file, "import/anyTalker", d.anyTalker);
  s.connect = ReadBool(file, "import/connect", d.connect);
  s.connectMetres = ReadInt(file, "import/connectMetres", d.connectMetres, 1, kMaxOptionValue);
  s.maxSpeedKmh = ReadInt(file, "import/maxSpeedKmh", d.maxSpeedKmh, 0, kMaxOptionValue);
  s.maxAccuracyM = ReadInt(file, "import/maxAccuracyM", d.maxAccuracyM, 0, kMaxOptionValue);
  s.mapGeometry = file.value(QLatin1String("mapWindow/geometry")).toByteArray();
  s.mapView = ReadText(file, "mapWindow/view", d.mapView);
  s.mapExplorer = ReadBool(file, "mapWindow/explorer", d.mapExplorer);
  s.mapTileGrid = ReadBool(file, "mapWindow/tileGrid", d.mapTileGrid);
  s.mapPlaces = ReadBool(file, "mapWindow/places", d.mapPlaces);
  s.skipInvalid = ReadBool(file, "import/skipInvalid", d.skipInvalid);
  s.shareColour = ReadText(file, "share/colour", d.shareColour);
  if (!QColor::isValidColorName(s.shareColour) || !s.shareColour.startsWith('#')) {
    s.shareColour = d.shareColour;
  }
  s.lastImportFolder = ReadText(file, "folders/lastImport", d.lastImportFolder);
  s.lastExportFolder = ReadText(file, "folders/lastExport", d.lastExportFolder);
  s.importFilter = ReadText(file, "folders/importFilter", d.importFilter);
  return s;
}

bool SaveUserSettings(const UserSettings& s) {
  const QString path = UserSettingsPath();
  // What stands there and is no settings file is left as it is.
  if (!SettingsFileUsable(path)) return false;
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSettings file(path, QSettings::IniFormat);
  file.setValue("map/background", s.background);
  file.setValue("map/tileSource", s.tileSource);
  file.setValue("map/tileAttribution", s.tileAttribution);
  file.setValue("map/tileCacheMiB", s.tileCacheMiB);
  file.setValue("import/anyTalker", s.anyTalker);
  file.setValue("import/connect", s.connect);
  file.setValue("import/connectMetres", s.connectMetres);
  file.setValue("import/maxSpeedKmh", s.maxSpeedKmh);
  file.setValue("import/maxAccuracyM", s.maxAccuracyM);
  file.setValue("mapWindow/geometry", s.mapGeometry);
  file.setValue("mapWindow/view", s.mapView);
  file.setValue("mapWindow/explorer", s.mapExplorer);
  file.setValue("mapWindow/tileGrid", s.mapTileGrid);
  file.setValue("mapWindow/places", s.mapPlaces);
  file.setValue("import/skipInvalid", s.skipInvalid);
  file.setValue("share/colour", s.shareColour);
  file.setValue("folders/lastImport", s.lastImportFolder);
  file.setValue("folders/lastExport", s.lastExportFolder);
  file.setValue("folders/importFilter", s.importFilter);
  file.sync();
  return file.status() == QSettings::NoError;
}

}  // namespace roamgrid
