// Any bytes as a log (mostly judged NMEA). ImportNmeaLog must read it to its end without
// leaving its buffers, release the recorder's tile at the end, and leave
// only whole tile files behind, holding no more marks than it accepted
// fixes. The input length's lowest two bits choose the talker option and
// strict reading.
#include <algorithm>
#include <filesystem>

#include "fuzz_support.h"
#include "import/input_formats.h"
#include "import/log_import.h"
#include "import/nmea_reader.h"
#include "oracles.h"

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
  options.strict = (size & 2) != 0;
  struct LastProgress : roamgrid::ImportProgress {
    long long bytes = -1;
    void Advance(long long read) override { bytes = read; }
  } last;
  options.progress = &last;
  TrackRecorder recorder;
  ImportReport report;
  FUZZ_CHECK(ImportNmeaLog(recorder, "input.log", &report, options));
  FUZZ_CHECK(report.opened);
  // Bytes judged to be compressed or GPX may end early, with a reason.
  FUZZ_CHECK(report.bytesRead == (long long)size ||
             (report.readError && report.bytesRead < (long long)size));
  FUZZ_CHECK(report.readError == !report.readErrorText.empty());
  FUZZ_CHECK(last.bytes == report.bytesRead);
  FUZZ_CHECK(!recorder.tile);  // released at the end of the log
  FUZZ_CHECK(report.fixes >= 0 && report.skipped >= 0);
  if (report.format && report.format->kind == LogKind::kNmea && !report.compressed)
    FUZZ_CHECK(report.fixes + report.skipped <=
               fuzz::CountGgaPieces(data, size, options.anyTalker));

  // Only whole tiles, holding together no more marks than fixes were
  // accepted.
  const long long marks = fuzz::CheckedStoreMarks();
  FUZZ_CHECK(marks <= report.fixes);
  return 0;
}
