// The windowing platform of the desktop program: Qt's file dialogs, message
// boxes owned by the main dialog and the overwrite/merge prompt. No dialog
// changes the working directory, where the store and "Roamgrid.cfg" live.
#pragma once

#include <QPointer>
#include <QWidget>

#include "common/windowing_platform.h"

namespace roamgrid {

class QtPlatform : public WindowingPlatform {
 public:
  // `owner` parents every dialog and message box (the main dialog).
  explicit QtPlatform(QWidget* owner);

  // Open dialog, several files; filters "All supported files" (every
  // pattern of the input format table), "GPS ログ (*.log)", one per input
  // format and all files, opening on the one chosen last (which it
  // remembers); name field empty, starting in the folder of the last
  // import (the home folder the first time), which it remembers in the
  // per-user settings. Paths in the local file encoding.
  std::vector<std::string> ChooseLogFiles() override;
  // Folder dialog, starting where ChooseLogFiles does; remembers likewise.
  std::optional<std::string> ChooseLogFolder() override;
  // Save dialog, filter "画像ファイル (*.bmp)", default suffix "bmp",
  // `proposedName` in the name field, starting in the folder of the last
  // export (the Pictures folder the first time), which it remembers; no
  // overwrite question of its own.
  std::optional<std::string> ChooseExportPath(const std::string& proposedName) override;
  // The ExportRegionDlg over the owner.
  std::optional<RegionExportChoice> ChooseExportRegion(const RegionExportChoice& current) override;
  // Save dialog titled "Export region", one filter per region format of the
  // export table, the one of `proposedName`'s suffix chosen; choosing
  // another gives the name its suffix. It asks before replacing a file.
  std::optional<std::string> ChooseRegionExportPath(const std::string& proposedName) override;
  // The prompt of template 129.
  OverwriteAnswer AskOverwrite(const std::string& path) override;
  // QMessageBox: exclamation icon and OK, or question icon with Yes and No.
  MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                            MessageStyle style) override;
  // An ImportProgressWindow over the owner.
  std::unique_ptr<ImportProgress> StartImportProgress(long long totalBytes) override;
  // A TaskProgressWindow over the owner.
  std::unique_ptr<TaskProgress> StartTaskProgress(const std::string& title,
                                                  const std::string& text) override;
  // The TileSourceDlg over the owner.
  std::optional<TileSourceChoice> ChooseTileSource(const TileSourceChoice& current) override;

 private:
  QPointer<QWidget> owner_;
};

}  // namespace roamgrid
