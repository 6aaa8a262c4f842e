// What the fuzz targets of the log readers share: the input handed out a
// block at a time, and the check that a track reader's outcome does not
// depend on where its blocks end.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "import/log_source.h"
#include "import/nmea_reader.h"
#include "oracles.h"

namespace roamgrid::fuzz {

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

// A reader of one track format (ReadJsonLog, ReadFitLog).
using TrackReader = void (*)(TrackRecorder&, ByteSource&, ImportReport&, const ImportOptions&);

// Reads `size` bytes with `read` in blocks of `block` into an empty store
// and checks what must hold whatever the input: only whole tiles, holding
// no more marks than points were accepted.
inline ImportReport ReadTrackBlocks(TrackReader read, const uint8_t* data, size_t size,
                                    size_t block) {
  std::error_code ignored;
  std::filesystem::remove_all("RGD", ignored);  // every read starts with an empty store
  MemorySource source(data, size, block);
  ImportReport report;
  TrackRecorder recorder;
  read(recorder, source, report, ImportOptions{});
  ReleaseRecorderTile(recorder);
  FUZZ_CHECK(!report.cancelled);
  FUZZ_CHECK(report.readError == !report.readErrorText.empty());
  FUZZ_CHECK(report.fixes >= 0 && report.skipped >= 0 && report.coarse >= 0);
  FUZZ_CHECK(CheckedStoreMarks() <= report.fixes);
  return report;
}

// One fuzz input for a track reader: its first byte chooses the block
// size; the outcome (points, skipped and coarse positions, the error and
// its text) of a read in those blocks must equal that of a read in one.
inline int FuzzTrackReader(TrackReader read, const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t block = 1 + data[0] % 64;
  const ImportReport whole = ReadTrackBlocks(read, data + 1, size - 1, size);
  const ImportReport pieces = ReadTrackBlocks(read, data + 1, size - 1, block);
  FUZZ_CHECK(pieces.fixes == whole.fixes);
  FUZZ_CHECK(pieces.skipped == whole.skipped);
  FUZZ_CHECK(pieces.coarse == whole.coarse);
  FUZZ_CHECK(pieces.readErrorText == whole.readErrorText);
  return 0;
}

}  // namespace roamgrid::fuzz
