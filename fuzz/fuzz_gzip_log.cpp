// Any bytes after the gzip magic bytes as a compressed log, read by
// ImportNmeaLog. It must end in constant memory, release the recorder's
// tile and leave only whole tiles. When it reads the stream without an
// error, zlib's one-shot decoding of the same members must give a text
// that, imported as a plain log, yields the same fixes and skipped lines.
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "import/input_formats.h"
#include "import/log_import.h"
#include "import/log_source.h"
#include "import/nmea_reader.h"
#include "oracles.h"

using namespace roamgrid;

namespace {

// Decodes gzip members written back to back, with only zero bytes after
// the last; nothing when they are damaged or decode to more than `limit`.
std::optional<std::string> DecodeMembers(const std::string& packed, size_t limit) {
  std::string text;
  size_t at = 0;
  while (at < packed.size() && packed[at] != '\0') {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data() + at));
    stream.avail_in = uInt(packed.size() - at);
    int status = Z_OK;
    char out[16384];
    while (status == Z_OK && text.size() <= limit) {
      stream.next_out = reinterpret_cast<Bytef*>(out);
      stream.avail_out = sizeof out;
      status = inflate(&stream, Z_NO_FLUSH);
      text.append(out, sizeof out - stream.avail_out);
    }
    at = packed.size() - stream.avail_in;
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return std::nullopt;
  }
  if (packed.find_first_not_of('\0', at) != std::string::npos) return std::nullopt;
  return text;
}

ImportReport Import(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all("RGD", ignored);
  TrackRecorder recorder;
  ImportReport report;
  FUZZ_CHECK(ImportNmeaLog(recorder, path, &report));
  FUZZ_CHECK(!recorder.tile);
  FUZZ_CHECK(fuzz::CheckedStoreMarks() <= report.fixes);
  return report;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratchDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string packed(reinterpret_cast<const char*>(data), size);
  if (packed.rfind("\x1f\x8b", 0) != 0) packed.insert(0, "\x1f\x8b");
  fuzz::WriteRaw("input.gz", reinterpret_cast<const uint8_t*>(packed.data()), packed.size());
  const ImportReport report = Import("input.gz");
  FUZZ_CHECK(report.compressed);
  FUZZ_CHECK(report.readError == !report.readErrorText.empty());
  FUZZ_CHECK(report.bytesRead <= (long long)packed.size());
  if (report.readError) return 0;
  FUZZ_CHECK(report.bytesRead == (long long)packed.size());

  const std::optional<std::string> text = DecodeMembers(packed, size_t(64) << 20);
  FUZZ_CHECK(text.has_value());
  // Judged again from its first bytes, as the import judged it; only plain
  // NMEA is compared.
  LogKind kind = LogKind::kNmea;
  JudgeLogStart(text->data(), std::min(text->size(), kLogHeadMax), true, &kind);
  if (kind != LogKind::kNmea) return 0;
  fuzz::WriteRaw("plain.log", reinterpret_cast<const uint8_t*>(text->data()), text->size());
  const ImportReport plain = Import("plain.log");
  FUZZ_CHECK(plain.fixes == report.fixes);
  FUZZ_CHECK(plain.skipped == report.skipped);
  return 0;
}
