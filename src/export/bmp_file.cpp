#include "export/bmp_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "common/byte_io.h"
#include "common/number_text.h"
#include "common/safe_file.h"

namespace roamgrid {

namespace {

constexpr uint8_t kWhite[kBmpPixelSize] = {0xFF, 0xFF, 0xFF};
constexpr uint8_t kRed[kBmpPixelSize] = {0x00, 0x00, 0xFF};

// Pixels go out through a small buffer: three rows per write of the file.
class PixelWriter {
 public:
  explicit PixelWriter(ReplacingFile& file) : file_(file) {}

  void Put(const uint8_t* pixel) {
    if (used_ == sizeof(buffer_)) Flush();
    buffer_[used_] = pixel[0];
    buffer_[used_ + 1] = pixel[1];
    buffer_[used_ + 2] = pixel[2];
    used_ += kBmpPixelSize;
  }

  // False once any write of the file has failed.
  bool Flush() {
    const bool ok = file_.Write(buffer_, used_);
    used_ = 0;
    return ok;
  }

 private:
  ReplacingFile& file_;
  uint8_t buffer_[3 * kBmpRowSize];
  size_t used_ = 0;
};
static_assert(3 * kBmpRowSize % kBmpPixelSize == 0);

std::string DegreesPiece(int32_t gridUnits, char positive, char negative, int precision) {
  const double degrees = gridUnits / 400.0;
  // printf puts the minus sign of a negative value behind the letter.
  return (gridUnits < 0 ? negative : positive) + FormatFixed(degrees, 7, precision, true);
}

}  // namespace

std::array<uint8_t, kBmpHeaderSize> BmpHeader() {
  std::array<uint8_t, kBmpHeaderSize> h{};  // reserved, resolution, colours: 0
  h[0] = 'B';
  h[1] = 'M';
  PutLE32(&h[2], uint32_t(kBmpFileSize));
  PutLE32(&h[10], uint32_t(kBmpHeaderSize));
  PutLE32(&h[14], uint32_t(kBmpInfoHeaderSize));
  PutLE32(&h[18], uint32_t(kRasterSide));  // width
  PutLE32(&h[22], uint32_t(kRasterSide));  // height, positive: bottom row first
  PutLE16(&h[26], 1);                      // planes
  PutLE16(&h[28], 24);                     // bits per pixel
  PutLE32(&h[30], 0);                      // no compression
  PutLE32(&h[34], uint32_t(kBmpPixelDataSize));
  return h;
}

std::string ProposedExportName(const ViewState& state) {
  const int zoom = state.zoomIndex < kMinZoomIndex   ? kMinZoomIndex
                   : state.zoomIndex > kMaxZoomIndex ? kMaxZoomIndex
                                                     : state.zoomIndex;
  return DegreesPiece(state.originLat, 'N', 'S', 3) + "-" +
         DegreesPiece(state.originLon, 'E', 'W', 4) + "-R" +
         FormatFixed(kZoomSpans[size_t(zoom)] / 400.0, 3, 3) + ".bmp";
}

ImageWriteResult WriteNewImage(const std::string& path, const uint8_t* raster) {
  ReplacingFile file(path, {}, Durability::kSynced);
  if (!file.Open()) return ImageWriteResult::kCannotOpen;
  const auto header = BmpHeader();
  file.Write(header.data(), header.size());  // a failure shows in Commit
  PixelWriter pixels(file);
  for (int j = 0; j < kRasterSize; ++j) pixels.Put(raster[j] != 0 ? kRed : kWhite);
  pixels.Flush();
  return file.Commit() ? ImageWriteResult::kWritten : ImageWriteResult::kWriteFailed;
}

MergeResult MergeIntoImage(const std::string& path, const uint8_t* raster) {
  FILE* old = OpenRegularFile(path);
  if (!old) return MergeResult::kCannotOpenExisting;
  const auto header = BmpHeader();
  uint8_t oldHeader[kBmpHeaderSize];
  if (std::fread(oldHeader, 1, kBmpHeaderSize, old) != kBmpHeaderSize ||
      !std::equal(header.begin(), header.end(), oldHeader)) {
    std::fclose(old);
    return MergeResult::kForeignHeader;
  }
  ReplacingFile merged(path, ".bk", Durability::kSynced);
  if (!merged.Open()) {
    const MergeResult result =
        errno == EEXIST ? MergeResult::kBackupTaken : MergeResult::kWriteFailed;
    std::fclose(old);
    return result;
  }
  merged.Write(header.data(), header.size());  // a failure shows in Commit
  PixelWriter pixels(merged);
  // A short read replaces only the bytes it got; past the end of the old
  // data every pixel repeats the last bytes read, white if there were none.
  uint8_t pixel[kBmpPixelSize] = {0xFF, 0xFF, 0xFF};
  for (int j = 0; j < kRasterSize; ++j) {
    std::fread(pixel, 1, kBmpPixelSize, old);  // short at the end: see above
    const bool white = pixel[0] == 0xFF && pixel[1] == 0xFF && pixel[2] == 0xFF;
    pixels.Put(raster[j] != 0 && white ? kRed : pixel);
  }
  pixels.Flush();
  // The end of the old data is accepted; an input error is not, since the
  // pixels after it would be made up.
  const bool readFailed = std::ferror(old) != 0;
  std::fclose(old);
  if (readFailed) {
    merged.Abandon();
    return MergeResult::kReadFailed;
  }
  return merged.Commit() ? MergeResult::kMerged : MergeResult::kWriteFailed;
}

}  // namespace roamgrid
