#include "map/overview_cache.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "common/byte_io.h"
#include "tiles/grid_units.h"

namespace roamgrid {

namespace {

constexpr std::array<uint8_t, 8> kMagic = {'R', 'G', 'O', 'V', 'R', 'V', 'W', 0};
constexpr size_t kHeaderSize = 8 + 4 + 4 + 8 + 8;
// A record without extras.
constexpr size_t kRecordSize = 4 + 4 + 6 * 8 + 1 + 4;

// Latitude keys of five digits, as tile paths hold them.
constexpr int32_t kMaxLatKey = 99995;
// zlib cannot pack more tightly than about 1:1032.
constexpr uint64_t kMaxDeflateRatio = 1100;

// Grows `out` by `size` bytes and returns where they start.
uint8_t* Grow(std::vector<uint8_t>& out, size_t size) {
  const size_t at = out.size();
  out.resize(at + size);
  return out.data() + at;
}
void Append(std::vector<uint8_t>& out, const void* bytes, size_t size) {
  if (size > 0) std::memcpy(Grow(out, size), bytes, size);
}
void Append32(std::vector<uint8_t>& out, uint32_t v) { PutLE32(Grow(out, 4), v); }
void Append64(std::vector<uint8_t>& out, uint64_t v) { PutLE64(Grow(out, 8), v); }

// Reads fixed-size values from a byte range; once a read would pass the
// end, every later read fails too.
struct Reader {
  const uint8_t* bytes;
  size_t size;
  size_t at = 0;
  bool sound = true;

  bool Has(size_t n) const { return sound && size - at >= n; }
  const uint8_t* Take(size_t n) {
    if (!Has(n)) {
      sound = false;
      return nullptr;
    }
    const uint8_t* p = bytes + at;
    at += n;
    return p;
  }
  uint32_t U32() {
    const uint8_t* p = Take(4);
    return p ? GetLE32(p) : 0;
  }
  uint64_t U64() {
    const uint8_t* p = Take(8);
    return p ? GetLE64(p) : 0;
  }
  uint8_t U8() {
    const uint8_t* p = Take(1);
    return p ? *p : 0;
  }
};

}  // namespace

uint64_t MixBits(uint64_t value) {
  value ^= value >> 30;
  value *= 0xBF58476D1CE4E5B9ull;
  value ^= value >> 27;
  value *= 0x94D049BB133111EBull;
  value ^= value >> 31;
  return value;
}

uint64_t HashBytes(const uint8_t* bytes, size_t size) {
  uint64_t hash = MixBits(0x524F414D47524944ull ^ size);
  size_t at = 0;
  for (; at + 8 <= size; at += 8) hash = MixBits(hash ^ GetLE64(bytes + at)) + at;
  uint64_t tail = 0;
  for (size_t k = 0; at + k < size; ++k) tail |= uint64_t(bytes[at + k]) << (8 * k);
  return MixBits(hash ^ tail ^ 0xFF);
}

std::vector<uint8_t> EncodeOverviewCache(const std::string& store,
                                         const std::vector<TileRecord>& records,
                                         const OverviewPyramid& overview) {
  std::vector<uint8_t> payload;
  payload.reserve(records.size() * kRecordSize + 1024);
  Append32(payload, uint32_t(store.size()));
  Append(payload, store.data(), store.size());
  Append64(payload, records.size());
  for (const TileRecord& record : records) {
    Append32(payload, uint32_t(record.latKey));
    Append32(payload, uint32_t(record.lonKey));
    Append64(payload, record.device);
    Append64(payload, record.inode);
    Append64(payload, uint64_t(record.size));
    Append64(payload, uint64_t(record.modifiedSeconds));
    Append64(payload, uint64_t(record.modifiedNanoseconds));
    Append64(payload, record.hash);
    payload.push_back(record.settled ? 1 : 0);
    Append32(payload, uint32_t(record.explorerExtras.size()));
    for (uint64_t extra : record.explorerExtras) Append64(payload, extra);
  }
  overview.EncodeBlocks(payload);

  uLongf packedSize = compressBound(uLong(payload.size()));
  std::vector<uint8_t> out(kHeaderSize + packedSize);
  if (compress2(out.data() + kHeaderSize, &packedSize, payload.data(), uLong(payload.size()),
                Z_BEST_SPEED) != Z_OK)
    return {};
  out.resize(kHeaderSize + packedSize);
  std::memcpy(out.data(), kMagic.data(), kMagic.size());
  PutLE32(out.data() + 8, kOverviewCacheVersion);
  PutLE32(out.data() + 12, uint32_t(kOverviewZoom));
  PutLE64(out.data() + 16, payload.size());
  PutLE64(out.data() + 24, packedSize);
  return out;
}

CacheRead DecodeOverviewCache(const uint8_t* bytes, size_t size, const std::string& store,
                              std::vector<TileRecord>& records, OverviewPyramid& overview) {
  records.clear();
  overview.Reset();
  if (size < kHeaderSize || std::memcmp(bytes, kMagic.data(), kMagic.size()) != 0)
    return CacheRead::kDamaged;
  if (GetLE32(bytes + 8) != kOverviewCacheVersion || GetLE32(bytes + 12) != kOverviewZoom)
    return CacheRead::kOtherVersion;
  const uint64_t payloadSize = GetLE64(bytes + 16);
  const uint64_t packedSize = GetLE64(bytes + 24);
  if (packedSize != size - kHeaderSize || payloadSize > kMaxOverviewCacheBytes ||
      payloadSize / kMaxDeflateRatio > packedSize)
    return CacheRead::kDamaged;
  std::vector<uint8_t> payload(payloadSize);
  uLongf unpacked = uLongf(payloadSize);
  if (uncompress(payload.data(), &unpacked, bytes + kHeaderSize, uLong(packedSize)) != Z_OK ||
      unpacked != payloadSize)
    return CacheRead::kDamaged;

  return DecodeOverviewPayload(payload.data(), payload.size(), store, records, overview);
}

CacheRead DecodeOverviewPayload(const uint8_t* bytes, size_t size, const std::string& store,
                                std::vector<TileRecord>& records, OverviewPyramid& overview) {
  records.clear();
  overview.Reset();
  Reader in{bytes, size};
  const uint32_t storeSize = in.U32();
  const uint8_t* storeBytes = in.Take(storeSize);
  if (!in.sound) return CacheRead::kDamaged;
  if (std::string(reinterpret_cast<const char*>(storeBytes), storeSize) != store)
    return CacheRead::kOtherStore;
  const uint64_t count = in.U64();
  if (!in.sound || count > (in.size - in.at) / kRecordSize) return CacheRead::kDamaged;
  std::vector<TileRecord> read(count);
  for (TileRecord& record : read) {
    record.latKey = int32_t(in.U32());
    record.lonKey = int32_t(in.U32());
    record.device = in.U64();
    record.inode = in.U64();
    record.size = int64_t(in.U64());
    record.modifiedSeconds = int64_t(in.U64());
    record.modifiedNanoseconds = int64_t(in.U64());
    record.hash = in.U64();
    record.settled = in.U8() != 0;
    const uint32_t extras = in.U32();
    if (!in.Has(size_t(extras) * 8)) return CacheRead::kDamaged;
    record.explorerExtras.resize(extras);
    for (uint64_t& extra : record.explorerExtras) extra = in.U64();
    if (!in.sound) return CacheRead::kDamaged;
  }
  // Keys the store can name, in strictly increasing order: each tile once,
  // found by search.
  for (size_t i = 0; i < read.size(); ++i) {
    const TileRecord& r = read[i];
    if (r.latKey % kCentiPerTile != 0 || r.latKey < -kMaxLatKey || r.latKey > kMaxLatKey ||
        r.lonKey % kCentiPerTile != 0 || r.lonKey < -18000 || r.lonKey > 17995)
      return CacheRead::kDamaged;
    if (i > 0 && !RecordKeyLess(read[i - 1], r)) return CacheRead::kDamaged;
  }
  size_t at = in.at;
  if (!overview.DecodeBlocks(bytes, size, at) || at != size)
    return overview.Reset(), CacheRead::kDamaged;
  records = std::move(read);
  return CacheRead::kLoaded;
}

}  // namespace roamgrid
