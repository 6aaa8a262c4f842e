// Any bytes as JSON (location history or GeoJSON), read by ReadJsonLog in blocks whose size the
// input's first byte chooses. The outcome (points, skipped and coarse
// positions, the error and its text) must not depend on where the blocks
// end: it is compared with a read in one block. Only whole tiles may be
// left, holding no more marks than points were accepted, and memory stays
// within its bound (the run's RSS limit catches any growth).
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "import/json_reader.h"
#include "oracles.h"

using namespace roamgrid;

namespace {

// The input, handed out `block` bytes at a time.
class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size, size_t block)
      : data_(data), size_(size), block_(block) {}
  Result Read(char* buffer, size_t capacity) override {
    const size_t n = std::min({capacity, block_, size_ - at_});
    if (n == 0) return {0, Status::kEnd};
    std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return {n, Status::kData};
  }
  std::string ErrorText() const override { return {}; }
  long long RawBytes() const override { return (long long)at_; }

 private:
  const uint8_t* data_;
  size_t size_, block_, at_ = 0;
};

ImportReport Read(const uint8_t* data, size_t size, size_t block) {
  std::error_code ignored;
  std::filesystem::remove_all("RGD", ignored);  // every read starts with an empty store
  MemorySource source(data, size, block);
  ImportReport report;
  TrackRecorder recorder;
  ReadJsonLog(recorder, source, report, ImportOptions{});
  ReleaseRecorderTile(recorder);
  FUZZ_CHECK(report.points && !report.cancelled);
  FUZZ_CHECK(report.readError == !report.readErrorText.empty());
  FUZZ_CHECK(report.fixes >= 0 && report.skipped >= 0 && report.coarse >= 0);
  FUZZ_CHECK(fuzz::CheckedStoreMarks() <= report.fixes);
  return report;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratchDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t block = 1 + data[0] % 64;
  const ImportReport whole = Read(data + 1, size - 1, size);
  const ImportReport pieces = Read(data + 1, size - 1, block);
  FUZZ_CHECK(pieces.fixes == whole.fixes);
  FUZZ_CHECK(pieces.skipped == whole.skipped);
  FUZZ_CHECK(pieces.coarse == whole.coarse);
  FUZZ_CHECK(pieces.readErrorText == whole.readErrorText);
  return 0;
}
