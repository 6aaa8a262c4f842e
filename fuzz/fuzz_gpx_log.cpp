// Any bytes that the import would judge to be a GPX document (JudgeLogStart;
// nothing else ever reaches the XML parser), read by ReadGpxLog as the
// import hands it over (leading white space dropped, a UTF-16 document with
// its encoding) in blocks whose size the input's first byte chooses. The
// outcome (points, skipped points, whether the document failed) must not
// depend on where the blocks end: it is compared with a read in one block.
// The wording of a failure is the parser's and is not compared. Only whole
// tiles may be left, holding no more marks than points were accepted, and
// the parser's memory stays within its bound (the run's RSS limit catches
// any growth).
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "import/gpx_reader.h"
#include "import/input_formats.h"
#include "oracles.h"
#include "track_reader_fuzz.h"

using namespace roamgrid;

namespace {

ImportReport Read(const uint8_t* data, size_t size, size_t block, int linesBefore,
                  const char* encoding) {
  std::error_code ignored;
  std::filesystem::remove_all("RGD", ignored);  // every read starts with an empty store
  fuzz::MemorySource source(data, size, block);
  ImportReport report;
  TrackRecorder recorder;
  ReadGpxLog(recorder, source, report, ImportOptions{}, linesBefore, encoding);
  ReleaseRecorderTile(recorder);
  FUZZ_CHECK(!report.cancelled);
  FUZZ_CHECK(report.readError == !report.readErrorText.empty());
  FUZZ_CHECK(report.fixes >= 0 && report.skipped >= 0);
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
  const char* text = reinterpret_cast<const char*>(data + 1);
  size_t length = size - 1;
  const size_t head = std::min(length, kLogHeadMax);
  LogKind kind = LogKind::kNmea;
  FUZZ_CHECK(JudgeLogStart(text, head, length <= kLogHeadMax, &kind));
  if (kind != LogKind::kGpx) return 0;
  const char* encoding = WideGpxEncoding(text, head);
  int linesBefore = 0;
  if (!encoding) {
    const size_t start = std::string_view(text, head).find('<');
    FUZZ_CHECK(start != std::string_view::npos);
    linesBefore = int(std::count(text, text + start, '\n'));
    text += start;
    length -= start;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  const ImportReport whole = Read(bytes, length, length + 1, linesBefore, encoding);
  const ImportReport pieces = Read(bytes, length, block, linesBefore, encoding);
  FUZZ_CHECK(pieces.fixes == whole.fixes);
  FUZZ_CHECK(pieces.skipped == whole.skipped);
  FUZZ_CHECK(pieces.readError == whole.readError);
  return 0;
}
