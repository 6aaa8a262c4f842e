#include "import/fit_reader.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "import/track_points.h"

namespace roamgrid {

namespace {

constexpr size_t kBlockSize = size_t(64) << 10;
constexpr uint8_t kMagic[] = {'.', 'F', 'I', 'T'};
constexpr int kShortHeader = 12;  // without the header's own CRC
constexpr int kLongHeader = 14;
constexpr uint16_t kRecordMessage = 20;
constexpr uint8_t kFieldLat = 0;
constexpr uint8_t kFieldLon = 1;
constexpr uint8_t kFieldTimestamp = 253;
constexpr int32_t kInvalidSint32 = 0x7FFFFFFF;
constexpr uint32_t kInvalidUint32 = 0xFFFFFFFF;
// FIT times count seconds from 1989-12-31T00:00:00Z.
constexpr double kFitEpochUnixSeconds = 631065600;
// Record header bits.
constexpr uint8_t kCompressedTime = 0x80;
constexpr uint8_t kDefinition = 0x40;
constexpr uint8_t kDeveloperData = 0x20;
constexpr int kLocalTypes = 16;
// A data message holds at most 255 fields and 255 developer fields of at
// most 255 bytes each.
constexpr size_t kMessageMax = 2 * 255 * 255;

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    table[byte] = uint16_t(crc);
  }
  return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

// The bytes of the FIT stream, a block at a time, with the CRC of what was
// taken so far.
class FitBytes {
 public:
  explicit FitBytes(SourceReader& reader)
      : reader_(reader), buffer_(std::make_unique_for_overwrite<uint8_t[]>(kBlockSize)) {}

  // Copies the next `size` bytes to `out` (or skips them when null); false
  // when the stream ends first.
  bool Take(uint8_t* out, size_t size) {
    while (size > 0) {
      if (at_ == filled_ && !Fill()) return false;
      const size_t count = std::min(size, filled_ - at_);
      const uint8_t* from = buffer_.get() + at_;
      uint16_t crc = crc_;
      for (size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ from[i]) & 0xFF];
      crc_ = crc;
      if (out) {
        std::memcpy(out, from, count);
        out += count;
      }
      at_ += count;
      offset_ += (long long)count;
      size -= count;
    }
    return true;
  }
  // Whether any byte is left.
  bool More() { return at_ < filled_ || Fill(); }
  uint16_t crc() const { return crc_; }
  void ResetCrc() { crc_ = 0; }
  long long offset() const { return offset_; }

 private:
  bool Fill() {
    const ByteSource::Result got = reader_.Read(reinterpret_cast<char*>(buffer_.get()), kBlockSize);
    at_ = 0;
    filled_ = got.size;
    return filled_ > 0;
  }

  SourceReader& reader_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t at_ = 0;
  size_t filled_ = 0;
  uint16_t crc_ = 0;
  long long offset_ = 0;
};

// What a definition message says of a local message type.
struct Definition {
  bool defined = false;
  bool bigEndian = false;
  uint16_t global = 0;
  size_t size = 0;  // bytes of a data message, developer fields included
  // Where the wanted fields stand in a data message; -1: absent (or not 4 bytes).
  int lat = -1, lon = -1, timestamp = -1;
};

uint32_t Get32(const uint8_t* p, bool bigEndian) {
  return bigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                   : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

class FitDecoder {
 public:
  FitDecoder(FitBytes& bytes, TrackPoints& points, ImportReport& report)
      : bytes_(bytes),
        points_(points),
        report_(report),
        message_(std::make_unique_for_overwrite<uint8_t[]>(kMessageMax)) {}

  // Decodes every FIT file of the stream; false after a failure (named in
  // the report) or a read error.
  bool Run() {
    do {
      const bool whole = File();
      // A file cut short, or damaged before its CRC, gives what was
      // decoded before the damage; one whose CRC is wrong gives nothing.
      if (whole || !crcWrong_) Release();
      held_.clear();
      if (!whole) return false;
      points_.EndTrack();
    } while (bytes_.More());
    return true;
  }

 private:
  // A position of a record, held until the file's CRC has checked it.
  struct HeldFix {
    double lat, lon, seconds;
  };

  bool Fail(const std::string& what) { return FailAt(bytes_.offset(), what); }
  // `at`: the offset of the byte named.
  bool FailAt(long long at, const std::string& what) {
    // A read error or a cancel is named by the reader already.
    if (report_.readError || report_.cancelled) return false;
    report_.readError = true;
    report_.readErrorText = "damaged FIT file at byte " + std::to_string(at) + ": " + what;
    return false;
  }
  bool Ended() { return Fail("the file ends early (truncated)"); }

  void Hold(double lat, double lon, double seconds) {
    // A file of more positions than can be held hands on the first ones
    // unchecked.
    if (held_.size() >= kFitHeldPositionsMax) Release();
    held_.push_back({lat, lon, seconds});
  }

  // Hands the positions held on to TrackPoints.
  void Release() {
    for (const HeldFix& fix : held_)
      if (points_.Add(fix.lat, fix.lon, fix.seconds)) ++report_.fixes;
    held_.clear();
  }

  bool File() {
    bytes_.ResetCrc();
    crcWrong_ = false;
    uint8_t header[kLongHeader];
    if (!bytes_.Take(header, 1)) return Ended();
    if (header[0] != kShortHeader && header[0] != kLongHeader)
      return FailAt(bytes_.offset() - 1,
                    "no FIT file header (header size " + std::to_string(header[0]) + ")");
    if (!bytes_.Take(header + 1, kShortHeader - 1)) return Ended();
    if (std::memcmp(header + 8, kMagic, sizeof kMagic) != 0)
      return Fail("no FIT file header (\".FIT\" missing)");
    if (header[0] == kLongHeader) {
      const uint16_t expected = bytes_.crc();
      if (!bytes_.Take(header + kShortHeader, 2)) return Ended();
      const uint16_t stated = uint16_t(header[12] | header[13] << 8);
      // 0 says the writer did not compute it.
      if (stated != 0 && stated != expected) return Fail("the header's CRC is wrong");
    }
    long long left = Get32(header + 4, false);
    for (Definition& definition : definitions_) definition = Definition{};
    while (left > 0) {
      uint8_t recordHeader;
      if (!bytes_.Take(&recordHeader, 1)) return Ended();
      --left;
      const long long before = bytes_.offset();
      if (recordHeader & kCompressedTime) {
        const uint32_t offset = recordHeader & 0x1F;
        uint32_t time = (lastTime_ & ~0x1Fu) + offset;
        if (offset < (lastTime_ & 0x1Fu)) time += 0x20;
        lastTime_ = time;
        if (!Data((recordHeader >> 5) & 0x03, true, left)) return false;
      } else if (recordHeader & kDefinition) {
        if (!Define(recordHeader & 0x0F, recordHeader & kDeveloperData, left)) return false;
      } else {
        if (!Data(recordHeader & 0x0F, false, left)) return false;
      }
      left -= bytes_.offset() - before;
    }
    const uint16_t expected = bytes_.crc();
    uint8_t crc[2];
    if (!bytes_.Take(crc, 2)) return Ended();
    if (uint16_t(crc[0] | crc[1] << 8) != expected) {
      crcWrong_ = true;
      return Fail("the file's CRC is wrong; none of its " + std::to_string(held_.size()) +
                  " positions were recorded");
    }
    return true;
  }

  bool Define(int local, bool developer, long long left) {
    uint8_t fixed[5];
    if (left < (long long)sizeof fixed) return Fail("a message runs past the end of the data");
    if (!bytes_.Take(fixed, sizeof fixed)) return Ended();
    // The byte order is the second of the five bytes just taken.
    if (fixed[1] > 1)
      return FailAt(bytes_.offset() - 4, "a definition of unknown byte order (" +
                                             std::to_string(fixed[1]) + ", not 0 or 1)");
    Definition definition;
    definition.bigEndian = fixed[1] == 1;
    definition.global =
        definition.bigEndian ? uint16_t(fixed[2] << 8 | fixed[3]) : uint16_t(fixed[3] << 8 | fixed[2]);
    const int fields = fixed[4];
    long long needed = sizeof fixed + 3LL * fields + (developer ? 1 : 0);
    if (left < needed) return Fail("a message runs past the end of the data");
    for (int i = 0; i < fields; ++i) {
      uint8_t field[3];
      if (!bytes_.Take(field, 3)) return Ended();
      const int at = int(definition.size);
      if (field[1] == 4) {
        if (field[0] == kFieldLat) definition.lat = at;
        if (field[0] == kFieldLon) definition.lon = at;
        if (field[0] == kFieldTimestamp) definition.timestamp = at;
      }
      definition.size += field[1];
    }
    if (developer) {
      uint8_t count;
      if (!bytes_.Take(&count, 1)) return Ended();
      needed += 3LL * count;
      if (left < needed) return Fail("a message runs past the end of the data");
      for (int i = 0; i < count; ++i) {
        uint8_t field[3];
        if (!bytes_.Take(field, 3)) return Ended();
        definition.size += field[1];  // skipped with the message
      }
    }
    definition.defined = true;
    definitions_[local] = definition;
    return true;
  }

  bool Data(int local, bool compressedTime, long long left) {
    const Definition& definition = definitions_[local];
    if (!definition.defined)
      return Fail("a data message of local type " + std::to_string(local) +
                  " before its definition");
    if (left < (long long)definition.size) return Fail("a message runs past the end of the data");
    uint8_t* message = message_.get();
    if (!bytes_.Take(message, definition.size)) return Ended();
    if (definition.timestamp >= 0 && !compressedTime) {
      const uint32_t time = Get32(message + definition.timestamp, definition.bigEndian);
      if (time != kInvalidUint32) lastTime_ = time;
    }
    if (definition.global != kRecordMessage || definition.lat < 0 || definition.lon < 0)
      return true;
    const int32_t lat = int32_t(Get32(message + definition.lat, definition.bigEndian));
    const int32_t lon = int32_t(Get32(message + definition.lon, definition.bigEndian));
    if (lat == kInvalidSint32 || lon == kInvalidSint32) return true;
    const bool timed = compressedTime || definition.timestamp >= 0;
    Hold(SemicirclesToDegrees(lat), SemicirclesToDegrees(lon),
         timed ? lastTime_ + kFitEpochUnixSeconds : kNoTime);
    return true;
  }

  FitBytes& bytes_;
  TrackPoints& points_;
  ImportReport& report_;
  std::unique_ptr<uint8_t[]> message_;
  Definition definitions_[kLocalTypes];
  uint32_t lastTime_ = 0;
  std::vector<HeldFix> held_;  // the positions of the file being read
  bool crcWrong_ = false;      // the file's CRC did not check out
};

}  // namespace

uint16_t FitCrc(uint16_t crc, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF];
  return crc;
}

void ReadFitLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                const ImportOptions& options) {
  SourceReader reader(source, report, options);
  FitBytes bytes(reader);
  TrackPoints points(recorder, options, report);
  FitDecoder(bytes, points, report).Run();
  points.EndTrack();
}

}  // namespace roamgrid
