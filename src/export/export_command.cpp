#include "export/export_command.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/safe_file.h"
#include "common/task_progress.h"
#include "export/bmp_file.h"
#include "export/png_file.h"
#include "export/region_export.h"

namespace roamgrid {

namespace {

void Complain(WindowingPlatform& platform, const std::string& text) {
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

// Writes the view as a PNG image at `path`: `shown` as it is, or the raster
// red on white, north row first.
bool WriteViewPng(const std::string& path, const uint8_t* raster, const RgbImage* shown) {
  ReplacingFile file(path, {}, Durability::kSynced);
  if (!file.Open()) return false;
  const auto sink = [&](const void* data, size_t size) { return file.Write(data, size); };
  bool ok = false;
  if (shown) {
    // No marks over the picture: every pixel is the picture's.
    const std::vector<uint8_t> unmarked(size_t(std::max(shown->width, 1)), 0);
    ok = WriteMarksPng(shown->width, shown->height, [&] { return unmarked.data(); }, false, shown,
                       sink);
  } else {
    int row = kRasterSide;
    ok = WriteMarksPng(kRasterSide, kRasterSide,
                       [&] { return raster + size_t(--row) * kRasterSide; }, false, nullptr, sink);
  }
  if (!ok) {
    file.Abandon();
    return false;
  }
  return file.Commit();
}

}  // namespace

void ExportBitmap(const ViewState& state, const uint8_t* raster, WindowingPlatform& platform,
                  const RgbImage* shown) {
  const std::optional<std::string> path = platform.ChooseExportPath(ProposedExportName(state));
  if (!path) return;
  bool merge = false;
  if (CanBeRead(*path)) {
    const OverwriteAnswer answer = platform.AskOverwrite(*path);
    if (answer == OverwriteAnswer::kCancel) return;
    merge = answer == OverwriteAnswer::kMerge;
  }
  const std::optional<ExportTarget> target = ExportTargetOf(*path);
  if (target && target->format == ExportFormat::kPng) {
    if (merge) {
      Complain(platform, kCannotMergeText);
    } else if (!WriteViewPng(*path, raster, shown)) {
      Complain(platform, kCannotWriteText);
    }
    return;
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

void ExportChosenRegion(const ViewState& state, WindowingPlatform& platform,
                        RegionExportChoice& choice) {
  // The typed edges start from the view until the user types others.
  if (choice.area != RegionArea::kBox) {
    const RegionExportChoice view = ViewRegionChoice(state);
    choice.south = view.south;
    choice.west = view.west;
    choice.north = view.north;
    choice.east = view.east;
  }
  CellRegion region;
  int zoom = 0;
  for (;;) {
    const std::optional<RegionExportChoice> answer = platform.ChooseExportRegion(choice);
    if (!answer) return;
    choice = *answer;
    std::string problem;
    const std::optional<CellRegion> chosen = ChosenRegion(choice, state, &problem);
    std::optional<int> chosenZoom;
    if (chosen) {
      chosenZoom = ChosenZoom(choice, *chosen, &problem);
      // Shapes have no pixels; the zoom matters only if the save dialog
      // turns them into an image after all.
      if (!chosenZoom && !ExportFormatOf(choice.format).raster) chosenZoom = kMaxZoomIndex;
    }
    if (chosen && chosenZoom) {
      region = *chosen;
      zoom = *chosenZoom;
      break;
    }
    Complain(platform, problem);  // then the same question again
  }
  const std::optional<std::string> path =
      platform.ChooseRegionExportPath(ProposedRegionName(choice, state));
  if (!path) return;
  const std::optional<ExportTarget> target = ExportTargetOf(*path);
  if (!target || !ExportFormatOf(target->format).region) {
    Complain(platform, kRegionSuffixText);
    return;
  }
  RegionExportRequest request;
  request.region = region;
  request.zoom = zoom;
  RegionExportResult result;
  {
    const size_t slash = path->rfind('/');
    const std::unique_ptr<TaskProgress> progress = platform.StartTaskProgress(
        kExportRegionTitle, "Writing " + path->substr(slash == std::string::npos ? 0 : slash + 1));
    request.progress = progress.get();
    result = ExportRegion(*path, *target, request);
  }
  if (!result.ok && !result.stopped) Complain(platform, result.error);
}

}  // namespace roamgrid
