// Any bytes as an NMEA log. ImportNmeaLog must read it to its end without
// leaving its buffers, release the recorder's tile at the end, and leave
// only whole tile files behind, holding no more marks than it accepted
// fixes. The odd and even input lengths alternate the talker option.
#include <algorithm>
#include <filesystem>

#include "fuzz_support.h"
#include "import/nmea_reader.h"
#include "oracles.h"
#include "tiles/store_lock.h"
#include "tiles/tile_file.h"

using namespace roamgrid;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratchDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::error_code ignored;
  std::filesystem::remove_all("RGD", ignored);  // every input starts with an empty store
  fuzz::WriteRaw("input.log", data, size);

  ImportOptions options;
  options.anyTalker = (size & 1) != 0;
  struct LastProgress : roamgrid::ImportProgress {
    long long bytes = -1;
    void Advance(long long read) override { bytes = read; }
  } last;
  options.progress = &last;
  TrackRecorder recorder;
  ImportReport report;
  FUZZ_CHECK(ImportNmeaLog(recorder, "input.log", &report, options));
  FUZZ_CHECK(report.opened);
  FUZZ_CHECK(report.bytesRead == (long long)size);
  FUZZ_CHECK(last.bytes == (long long)size);
  FUZZ_CHECK(!recorder.tile);  // released at the end of the log
  FUZZ_CHECK(report.fixes >= 0 && report.skipped >= 0);
  FUZZ_CHECK(report.fixes + report.skipped <= fuzz::CountGgaPieces(data, size, options.anyTalker));

  // Every file below RGD/ but the store's lock file is a whole tile; each
  // holds at least one mark (only a changed tile is written) and all of
  // them together no more marks than fixes were accepted.
  long long marks = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator("RGD", ignored)) {
    if (entry.is_directory() || entry.path() == kStoreLockPath) continue;
    const std::string path = entry.path().string();
    FUZZ_CHECK(path.size() < kTilePathSize && path.ends_with(".map"));
    TrackTile tile;
    std::copy(path.begin(), path.end(), tile.path);
    FUZZ_CHECK(LoadTile(tile) == kLoaded);
    const long long tileMarks = fuzz::CountMarkedCells(tile.cells.get());
    FUZZ_CHECK(tileMarks >= 1);
    marks += tileMarks;
  }
  FUZZ_CHECK(marks <= report.fixes);
  return 0;
}
