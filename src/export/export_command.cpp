#include "export/export_command.h"

#include <cstdio>
#include <optional>
#include <string>

#include "common/safe_file.h"
#include "export/bmp_file.h"

namespace roamgrid {

namespace {

void Complain(WindowingPlatform& platform, const char* text) {
  platform.ShowMessage(text, "", MessageStyle::kExclamationOk);
}

// A file that exists but cannot be read counts as absent. So does a
// folder or a named pipe, which is never an image (and opening a pipe for
// reading would wait for a writer).
bool CanBeRead(const std::string& path) {
  FILE* file = OpenRegularFile(path);
  if (!file) return false;
  std::fclose(file);
  return true;
}

}  // namespace

void ExportBitmap(const ViewState& state, const uint8_t* raster, WindowingPlatform& platform) {
  const std::optional<std::string> path = platform.ChooseExportPath(ProposedExportName(state));
  if (!path) return;
  bool merge = false;
  if (CanBeRead(*path)) {
    const OverwriteAnswer answer = platform.AskOverwrite(*path);
    if (answer == OverwriteAnswer::kCancel) return;
    merge = answer == OverwriteAnswer::kMerge;
  }
  if (merge) {
    switch (MergeIntoImage(*path, raster)) {
      case MergeResult::kMerged:
      case MergeResult::kCannotOpenExisting:  // gone since the question: nothing to say
        break;
      case MergeResult::kForeignHeader:
      case MergeResult::kReadFailed:
      case MergeResult::kWriteFailed:
      case MergeResult::kBackupTaken:
        Complain(platform, kCannotMergeText);
        break;
    }
    return;
  }
  switch (WriteNewImage(*path, raster)) {
    case ImageWriteResult::kWritten:
      break;
    case ImageWriteResult::kCannotOpen:
      Complain(platform, kCannotOpenText);
      break;
    case ImageWriteResult::kWriteFailed:
      Complain(platform, kCannotWriteText);
      break;
  }
}

}  // namespace roamgrid
