#include "app/qt_platform.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "app/export_region_dlg.h"
#include "app/import_progress_window.h"
#include "app/over_write_dlg.h"
#include "app/tile_source_dlg.h"
#include "app/user_settings.h"
#include "export/export_formats.h"
#include "import/input_formats.h"

namespace roamgrid {
namespace {

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromLocalPath(const std::string& path) { return QFile::decodeName(path.c_str()); }

// Qt's own dialogs only report the chosen paths, but a platform file dialog
// runs code that is not ours; the store and "Roamgrid.cfg" are addressed
// relative to the working directory, so it is put back should it move.
class KeepWorkingDirectory {
 public:
  KeepWorkingDirectory() : path_(QDir::currentPath()) {}
  ~KeepWorkingDirectory() {
    if (QDir::currentPath() != path_) QDir::setCurrent(path_);
  }

 private:
  QString path_;
};

// The folder a file dialog opens in: the one it last used while that still
// exists, else `firstTime` while that exists, else the home folder. Never
// the store folder, which the user did not choose.
QString StartFolder(const QString& lastUsed, const QString& firstTime) {
  for (const QString& folder : {lastUsed, firstTime}) {
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
  }
  return QDir::homePath();
}

// Keeps the folder of `chosen` in the per-user settings for the next dialog
// of its kind. Read afresh, so that other settings saved meanwhile stay; if
// the file cannot be written, the folder is just not remembered.
void RememberFolder(QString UserSettings::*folder, const QString& chosen) {
  UserSettings settings = LoadUserSettings();
  settings.*folder = QFileInfo(chosen).absolutePath();
  SaveUserSettings(settings);
}

}  // namespace

QtPlatform::QtPlatform(QWidget* owner) : owner_(owner) {}

std::vector<std::string> QtPlatform::ChooseLogFiles() {
  KeepWorkingDirectory keep;
  const UserSettings settings = LoadUserSettings();
  // Every file a reader takes is listed at first; the designed entry of
  // NMEA logs stays beside the one of each format.
  QStringList filters{QString::fromStdString(AllSupportedFilter()),
                      QStringLiteral("GPS ログ (*.log)")};
  for (const std::string& filter : FormatFilters()) filters << QString::fromStdString(filter);
  filters << QStringLiteral("All files (*)");
  QString filter =
      filters.contains(settings.importFilter) ? settings.importFilter : filters.front();
  const QStringList chosen = QFileDialog::getOpenFileNames(
      owner_, QString(), StartFolder(settings.lastImportFolder, QDir::homePath()),
      filters.join(QStringLiteral(";;")), &filter);
  std::vector<std::string> paths;
  paths.reserve(size_t(chosen.size()));
  for (const QString& path : chosen) paths.push_back(LocalPath(path));
  if (!chosen.isEmpty()) {
    RememberFolder(&UserSettings::lastImportFolder, chosen.front());
    UserSettings remembered = LoadUserSettings();
    remembered.importFilter = filter;
    SaveUserSettings(remembered);
  }
  return paths;
}

std::optional<std::string> QtPlatform::ChooseLogFolder() {
  KeepWorkingDirectory keep;
  const QString folder = QFileDialog::getExistingDirectory(
      owner_, QStringLiteral("Import folder"),
      StartFolder(LoadUserSettings().lastImportFolder, QDir::homePath()));
  if (folder.isEmpty()) return std::nullopt;
  RememberFolder(&UserSettings::lastImportFolder, folder);
  return LocalPath(folder);
}

namespace {

// Opens a save dialog of the exports in the last export folder (Pictures
// the first time) with `proposedName`; the chosen path, its folder
// remembered, or nothing on Cancel.
std::optional<std::string> RunExportDialog(QFileDialog& dialog, const std::string& proposedName) {
  dialog.setDirectory(
      StartFolder(LoadUserSettings().lastExportFolder,
                  QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)));
  dialog.selectFile(FromLocalPath(proposedName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  RememberFolder(&UserSettings::lastExportFolder, chosen.front());
  return LocalPath(chosen.front());
}

// The first suffix a filter lists, without its dot: "png" of
// "PNG 画像 (*.png)", "geojson" of "GeoJSON (*.geojson *.json ...)".
QString FilterSuffix(const QString& filter) {
  const QRegularExpressionMatch match =
      QRegularExpression(QStringLiteral("\\(\\*\\.([^ )]+)")).match(filter);
  return match.hasMatch() ? match.captured(1) : QString();
}

// Sets the save dialog's `filters`, chooses the one of `proposedName`'s
// suffix (else the first), and makes choosing another filter give the
// name that filter's suffix, which is also added to a name typed without.
void OfferFormats(QFileDialog& dialog, const QStringList& filters,
                  const std::string& proposedName) {
  dialog.setNameFilters(filters);
  const QString name = FromLocalPath(proposedName);
  QString chosen = filters.value(0);
  for (const QString& filter : filters) {
    if (name.endsWith(QStringLiteral(".") + FilterSuffix(filter), Qt::CaseInsensitive)) {
      chosen = filter;
      break;
    }
  }
  dialog.selectNameFilter(chosen);
  dialog.setDefaultSuffix(FilterSuffix(chosen));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog, name](const QString& filter) {
                     const QString suffix = FilterSuffix(filter);
                     dialog.setDefaultSuffix(suffix);
                     QString renamed = name;
                     // The suffix is letters after the last dot ("0.050" is no suffix).
                     renamed.replace(QRegularExpression(QStringLiteral("\\.[A-Za-z]+(\\.gz)?$")),
                                     QStringLiteral(".") + suffix);
                     dialog.selectFile(renamed);
                   });
}

}  // namespace

std::optional<std::string> QtPlatform::ChooseExportPath(const std::string& proposedName) {
  KeepWorkingDirectory keep;
  QFileDialog dialog(owner_);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // BMP first, the default; choosing PNG turns the name's suffix to .png.
  OfferFormats(dialog, {QStringLiteral("画像ファイル (*.bmp)"), QStringLiteral("PNG 画像 (*.png)")},
               proposedName);
  // The Export command asks about an existing file itself (overwrite or merge).
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  return RunExportDialog(dialog, proposedName);
}

std::optional<RegionExportChoice> QtPlatform::ChooseExportRegion(
    const RegionExportChoice& current) {
  return ExportRegionDlg::Ask(current, owner_);
}

std::optional<std::string> QtPlatform::ChooseRegionExportPath(const std::string& proposedName) {
  KeepWorkingDirectory keep;
  QFileDialog dialog(owner_);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setWindowTitle(QStringLiteral("Export region"));
  QStringList filters;
  for (const std::string& filter : RegionExportFilters()) filters << QString::fromStdString(filter);
  OfferFormats(dialog, filters, proposedName);
  return RunExportDialog(dialog, proposedName);
}

OverwriteAnswer QtPlatform::AskOverwrite(const std::string& path) {
  return OverWriteDlg::Ask(path, owner_);
}

MessageAnswer QtPlatform::ShowMessage(const std::string& text, const std::string& title,
                                      MessageStyle style) {
  const bool question = style == MessageStyle::kQuestionYesNo;
  // Window managers show the program's name for an empty title; a blank
  // keeps the title bar empty, as the message wants.
  const QString caption = title.empty() ? QStringLiteral(" ") : QString::fromStdString(title);
  const QMessageBox::Icon icon = question ? QMessageBox::Question
                                 : style == MessageStyle::kInformationOk ? QMessageBox::Information
                                                                         : QMessageBox::Warning;
  QMessageBox box(icon, caption,
                  QString::fromStdString(text),
                  question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, owner_);
  const int answer = box.exec();
  if (!question) return MessageAnswer::kOk;
  return answer == QMessageBox::Yes ? MessageAnswer::kYes : MessageAnswer::kNo;
}

std::unique_ptr<ImportProgress> QtPlatform::StartImportProgress(long long totalBytes) {
  return std::make_unique<ImportProgressWindow>(owner_, totalBytes);
}

std::unique_ptr<TaskProgress> QtPlatform::StartTaskProgress(const std::string& title,
                                                            const std::string& text) {
  return std::make_unique<TaskProgressWindow>(owner_, QString::fromStdString(title),
                                              QString::fromStdString(text));
}

std::optional<TileSourceChoice> QtPlatform::ChooseTileSource(const TileSourceChoice& current) {
  KeepWorkingDirectory keep;  // its Browse button opens a file dialog
  return TileSourceDlg::Ask(current, owner_);
}

}  // namespace roamgrid
