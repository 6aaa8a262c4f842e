// Any bytes as the map overview's cache file (first byte even), or as its
// unpacked payload alone (first byte odd), so that the fuzzer reaches the
// payload's reader without having to pack its inputs. What is accepted has
// its tiles in key order, and written again reads back the same.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "map/overview.h"
#include "map/overview_cache.h"

using namespace roamgrid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool payload = data[0] & 1;
  const std::string store = "/fuzz/RGD";
  std::vector<TileRecord> records;
  OverviewPyramid overview;
  const CacheRead read = payload
                             ? DecodeOverviewPayload(data + 1, size - 1, store, records, overview)
                             : DecodeOverviewCache(data + 1, size - 1, store, records, overview);
  if (read != CacheRead::kLoaded) {
    FUZZ_CHECK(records.empty() && overview.Empty());
    return 0;
  }
  for (size_t i = 1; i < records.size(); ++i) FUZZ_CHECK(RecordKeyLess(records[i - 1], records[i]));
  const std::vector<uint8_t> bytes = EncodeOverviewCache(store, records, overview);
  std::vector<TileRecord> again;
  OverviewPyramid overviewAgain;
  FUZZ_CHECK(DecodeOverviewCache(bytes.data(), bytes.size(), store, again, overviewAgain) ==
             CacheRead::kLoaded);
  FUZZ_CHECK(again == records);
  FUZZ_CHECK(overviewAgain == overview);
  return 0;
}
