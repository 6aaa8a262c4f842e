#include "export/export_command.h"

#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string>

#include "export/bmp_file.h"

namespace roamgrid {

namespace {

void Complain(WindowingPlatform& platform, const char* text) {
  platform.ShowMessage(text, "", MessageStyle::kExclamationOk);
}

// A file that exists but cannot be read counts as absent. So does a
// folder, which the C library opens for reading but never reads.
bool CanBeRead(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  struct stat info;
  const bool folder = fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
  std::fclose(file);
  return !folder;
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
