// Any bytes as Roamgrid.cfg. An accepted home always has a zoom of 0 to 7
// and an origin aligned to the zoom's step; written back, it gives the
// three CR LF lines and reads back to the same home.
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "home/home_config.h"

using namespace roamgrid;

namespace {

bool Contains(const uint8_t* data, size_t size, const std::string& needle) {
  return std::string(reinterpret_cast<const char*>(data), size).find(needle) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratchDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteRaw(kHomeConfigPath, data, size);
  const std::optional<HomePosition> home = ReadHomeConfig(kHomeConfigPath);
  // The file itself is only read.
  FUZZ_CHECK(fuzz::ReadRaw(kHomeConfigPath) == std::vector<uint8_t>(data, data + size));
  if (!home) return 0;

  FUZZ_CHECK(home->zoom >= kMinZoomIndex && home->zoom <= kMaxZoomIndex);
  const int32_t step = AlignmentStep(home->zoom);
  FUZZ_CHECK(home->lat % step == 0 && home->lon % step == 0);
  FUZZ_CHECK(Contains(data, size, "LAT: ") && Contains(data, size, "LON: ") &&
             Contains(data, size, "SKP: "));

  FUZZ_CHECK(WriteHomeConfig(*home, kHomeConfigPath));
  const std::string expected = "LAT: " + std::to_string(home->lat) +
                               "\r\nLON: " + std::to_string(home->lon) +
                               "\r\nSKP: " + std::to_string(home->zoom) + "\r\n";
  FUZZ_CHECK(fuzz::ReadRaw(kHomeConfigPath) ==
             std::vector<uint8_t>(expected.begin(), expected.end()));
  FUZZ_CHECK(ReadHomeConfig(kHomeConfigPath) == home);
  FUZZ_CHECK(fuzz::Entries(".").size() == 1);  // no temporary file left
  return 0;
}
