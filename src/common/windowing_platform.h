// What commands ask of the person in front of the program. The desktop
// program answers with real dialogs (QtPlatform); tests answer from a
// script. Commands never call the toolkit directly, so every command runs
// without a display.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace roamgrid {

class ImportProgress;  // import/import_progress.h
class TaskProgress;    // common/task_progress.h
struct RegionExportChoice;  // export/region_choice.h

enum class MessageStyle {
  kExclamationOk,  // exclamation icon, one OK button
  kQuestionYesNo,  // question icon, Yes and No buttons
  kInformationOk,  // information icon, one OK button
};

enum class MessageAnswer { kOk, kYes, kNo };

enum class OverwriteAnswer { kOverwrite, kMerge, kCancel };

// The map's tile source (an XYZ URL template or an MBTiles path; empty for
// none) and the attribution text drawn with it.
struct TileSourceChoice {
  std::string source;
  std::string attribution;
  bool operator==(const TileSourceChoice&) const = default;
};

class WindowingPlatform {
 public:
  virtual ~WindowingPlatform() = default;
  // Open dialog for several logs (filters of the input formats): full
  // paths in the order the dialog returns them; empty on Cancel.
  virtual std::vector<std::string> ChooseLogFiles() = 0;
  // Folder dialog of "Import folder...": the chosen folder's full path, or
  // nothing on Cancel.
  virtual std::optional<std::string> ChooseLogFolder() = 0;
  // Save dialog proposing `proposedName` (default extension "bmp"): the
  // chosen full path, or nothing on Cancel. It asks nothing about an
  // existing file.
  virtual std::optional<std::string> ChooseExportPath(const std::string& proposedName) = 0;
  // The first question of "Export region...": which area, format and
  // detail, showing `current`. The answer, or nothing on Cancel.
  virtual std::optional<RegionExportChoice> ChooseExportRegion(
      const RegionExportChoice& current) = 0;
  // Save dialog of "Export region..." proposing `proposedName`, offering the
  // region formats of the export table, the one of the name's suffix
  // chosen: the chosen full path, or nothing on Cancel. It confirms the
  // replacing of an existing file itself.
  virtual std::optional<std::string> ChooseRegionExportPath(const std::string& proposedName) = 0;
  // The overwrite/merge prompt for an existing `path`.
  virtual OverwriteAnswer AskOverwrite(const std::string& path) = 0;
  // A modal message box owned by the main dialog.
  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                                    MessageStyle style) = 0;
  // Called when chosen logs of `totalBytes` in all are about to be read:
  // the wait cursor shows at once and the closed file dialog is gone; after
  // a moment a modal progress window with Cancel appears, and nothing else
  // of the main dialog takes input. The returned reporter (never null) is
  // told of each log and the bytes read and says whether Cancel was
  // pressed; destroying it ends all this.
  virtual std::unique_ptr<ImportProgress> StartImportProgress(long long totalBytes) = 0;
  // The same for another long task: the wait cursor at once, after a moment
  // the modal progress window titled `title`, saying `text` above its bar,
  // with Cancel. The returned reporter (never null) is told of the steps
  // done and says whether Cancel was pressed; destroying it ends all this.
  virtual std::unique_ptr<TaskProgress> StartTaskProgress(const std::string& title,
                                                          const std::string& text) = 0;
  // The tile source dialog, showing `current`: the new choice, or nothing
  // on Cancel.
  virtual std::optional<TileSourceChoice> ChooseTileSource(const TileSourceChoice& current) = 0;
};

}  // namespace roamgrid
