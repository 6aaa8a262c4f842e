#include "import/nmea_reader.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/number_text.h"
#include "import/log_source.h"
#include "import/track_points.h"

namespace roamgrid {

namespace {

// Lines are judged as a line read with a 1024-byte buffer sees them: at
// most 1023 characters up to and including the line feed, and the text of
// a piece ends at its first NUL byte. Instead of one read per line the log
// is read in large blocks and cut into the same pieces in place.
constexpr size_t kLineBufferSize = 1024;
constexpr size_t kPieceMax = kLineBufferSize - 1;
constexpr size_t kBlockSize = kNmeaReadBlockSize;
// A block plus the unfinished piece carried over from the previous block.
constexpr size_t kBufferSize = kBlockSize + kPieceMax;

constexpr size_t kPrefixLength = 7;  // "$GPGGA,": "$", talker, "GGA,"

// 5/3 as the nearest double: (minutes / 100) x K is the fraction of a degree.
constexpr double kMinutesToDegrees = 1.6666666666666667;
static_assert(std::bit_cast<uint64_t>(kMinutesToDegrees) == 0x3FFAAAAAAAAAAAABull);

// Truncation toward zero to a signed 32-bit integer. A value that does not
// fit (or NaN) gives INT32_MIN, as the processor's conversion does; the
// degrees made from it are then far out of range and AddPoint drops them.
int32_t TruncateToInt32(double value) {
  if (value > -2147483649.0 && value < 2147483648.0) return static_cast<int32_t>(value);
  return INT32_MIN;
}

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

uint32_t Load32(const char* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// What the first seven characters make of a line.
enum class GgaIdentifier {
  kNone,         // not "$" + two upper-case letters + "GGA,"
  kGps,          // "$GPGGA,"
  kOtherTalker,  // "$GNGGA,", "$GLGGA,"...
};

GgaIdentifier IdentifyGga(const char* text, size_t length) {
  // A NUL among the first seven characters ends the text before the
  // identifier is complete, and a NUL never equals a character of it.
  // Most lines of a log are other sentences; one word comparison of the
  // characters 3 to 6 turns them away.
  if (length < kPrefixLength) return GgaIdentifier::kNone;
  if (Load32(text + 3) != Load32("GGA,") || text[0] != '$') return GgaIdentifier::kNone;
  if (text[1] == 'G' && text[2] == 'P') return GgaIdentifier::kGps;
  if (IsUpper(text[1]) && IsUpper(text[2])) return GgaIdentifier::kOtherTalker;
  return GgaIdentifier::kNone;
}

// Bit i of the result is set where p[i] is `c`, for the 64 bytes at p (all
// of which must be readable): line feeds and commas are found 64 bytes at
// a time instead of with a test and a branch per byte.
uint64_t MatchMask64(const char* p, char c) {
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi8(c);
  uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const uint32_t bits = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, needle)));
    mask |= uint64_t(bits) << (16 * k);
  }
  return mask;
#else
  uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) mask |= uint64_t(p[i] == c) << i;
  return mask;
#endif
}

bool IsGgaLine(const char* text, size_t length, bool anyTalker) {
  const GgaIdentifier identifier = IdentifyGga(text, length);
  return identifier == GgaIdentifier::kGps ||
         (anyTalker && identifier == GgaIdentifier::kOtherTalker);
}

// The comma that ends the field starting at `from`, or null when the text
// ends before one: at `end` or at a NUL byte. Fields are a few characters
// long, so a plain walk costs less than a library search.
const char* FieldEnd(const char* from, const char* end) {
  for (const char* p = from; p < end; ++p) {
    if (*p == ',') return p;
    if (*p == '\0') return nullptr;
  }
  return nullptr;
}

// Finds the commas that end fields 1 to 4 of a GGA line, in its text
// [text, end) that also ends at a NUL byte. False when the text ends
// before the fourth. In a line of 64 characters or more (most GGA lines)
// the commas and NUL bytes of the first 64 are found at once.
bool FindFieldCommas(const char* text, const char* end, const char* (&commas)[4]) {
  int found = 0;
  const char* from = text + kPrefixLength;
  if (end - text >= 64) {
    // Not the identifier's comma, and none after the first NUL.
    uint64_t mask = MatchMask64(text, ',') & ~((uint64_t(1) << kPrefixLength) - 1);
    const uint64_t nuls = MatchMask64(text, '\0');
    if (nuls != 0) mask &= (nuls & (0 - nuls)) - 1;
    for (; found < 4 && mask != 0; ++found, mask &= mask - 1)
      commas[found] = text + std::countr_zero(mask);
    if (found == 4) return true;
    if (nuls != 0) return false;  // the text ends within the 64
    from = text + 64;             // no comma after the last one found up to here
  }
  for (; found < 4; ++found) {
    const char* comma = FieldEnd(from, end);
    if (!comma) return false;
    commas[found] = comma;
    from = comma + 1;
  }
  return true;
}

// Reads the position of a GGA line [text, end) whose text also ends at its
// first NUL. Returns the second hemisphere letter, or null for an
// unreadable line: a comma ending fields 1 to 4 missing, or a hemisphere
// character other than N/S (E/W). Numbers end at the field's comma, which
// no number can contain.
const char* ReadGgaPosition(const char* text, const char* end, double* lat, double* lon) {
  const char* commas[4];
  if (!FindFieldCommas(text, end, commas)) return nullptr;
  // Each hemisphere letter follows a comma before the end; a NUL there
  // fails the test like any other character.
  const char* hemisphere = commas[1] + 1;
  double latitude = GgaFieldToDegrees(ParseLeadingDouble(commas[0] + 1));
  if (*hemisphere == 'S') {
    latitude *= -1;
  } else if (*hemisphere != 'N') {
    return nullptr;
  }
  hemisphere = commas[3] + 1;
  if (hemisphere == end) return nullptr;
  double longitude = GgaFieldToDegrees(ParseLeadingDouble(commas[2] + 1));
  if (*hemisphere == 'W') {
    longitude *= -1;
  } else if (*hemisphere != 'E') {
    return nullptr;
  }
  *lat = latitude;
  *lon = longitude;
  return hemisphere;
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The sentence's checksum is present and right: the text [text, end) has a
// "*" followed by two hexadecimal digits (either case) that give the XOR
// of all characters between the "$" and the first "*", and nothing after
// them but the line end (CR, LF). A line cut into pieces has no checksum
// in its first piece.
bool HasRightChecksum(const char* text, const char* end) {
  uint8_t sum = 0;
  const char* p = text + 1;
  for (; p < end && *p != '*'; ++p) sum ^= uint8_t(*p);
  if (end - p < 3) return false;
  const int high = HexValue(p[1]);
  const int low = HexValue(p[2]);
  if (high < 0 || low < 0 || (high << 4 | low) != sum) return false;
  for (p += 3; p < end; ++p) {
    if (*p != '\r' && *p != '\n') return false;
  }
  return true;
}

// What the fix quality field says of a fix.
enum class FixQuality {
  kUnknown,  // missing, empty or garbled: not trusted
  kInvalid,  // 0: the receiver has no fix (its position is a placeholder)
  kValid,    // a number other than 0
};

// The fix quality, field 6, follows the second hemisphere field: one or
// more digits ended by a comma or by the "*" of the checksum; all zeros
// is kInvalid, any other number kValid.
FixQuality QualityOf(const char* lonHemisphere, const char* end) {
  const char* field5End = FieldEnd(lonHemisphere, end);
  if (!field5End) return FixQuality::kUnknown;
  const char* quality = field5End + 1;
  const char* p = quality;
  bool nonZero = false;
  for (; p < end && IsDigit(*p); ++p) nonZero |= (*p != '0');
  if (p == quality || p == end || (*p != ',' && *p != '*')) return FixQuality::kUnknown;
  return nonZero ? FixQuality::kValid : FixQuality::kInvalid;
}

// Judges a line that begins with a GGA identifier. Strict reading also
// asks for a right checksum and a fix quality other than 0. `quality`,
// when given, gets what the fix quality field says of a fix read.
bool ReadGgaSentence(const char* text, size_t length, bool strict, double* lat, double* lon,
                     FixQuality* quality = nullptr) {
  const char* end = text + length;
  if (strict) {
    // The checksum is looked for up to the end of the text: its first NUL.
    const void* nul = std::memchr(text, '\0', length);
    if (nul) end = static_cast<const char*>(nul);
    if (!HasRightChecksum(text, end)) return false;
  }
  const char* lonHemisphere = ReadGgaPosition(text, end, lat, lon);
  if (!lonHemisphere) return false;
  if (!strict && !quality) return true;
  const FixQuality said = QualityOf(lonHemisphere, end);
  if (quality) *quality = said;
  return !strict || said == FixQuality::kValid;
}

}  // namespace

double GgaFieldToDegrees(double value) {
  // Not replaced by a division by 60, which differs in the last bit.
  const double q = value / 100.0;
  const double d = TruncateToInt32(q);
  return d + (q - d) * kMinutesToDegrees;
}

GgaLine ReadGgaLine(const char* text, size_t length, bool anyTalker, bool strict, double* lat,
                    double* lon) {
  if (!IsGgaLine(text, length, anyTalker)) return GgaLine::kOther;
  return ReadGgaSentence(text, length, strict, lat, lon) ? GgaLine::kFix : GgaLine::kUnreadable;
}

namespace {

constexpr double kSecondsPerDay = 86400.0;

// Seconds of the day of a GGA time field "hhmmss" or "hhmmss.ss" starting at
// `field` (the text after "$GPGGA,"), or kNoTime when it is empty or not a
// time. The field ends at its comma, which FindFieldCommas has found.
double TimeOfDay(const char* field) {
  int digits[6];
  for (int i = 0; i < 6; ++i) {
    if (!IsDigit(field[i])) return kNoTime;
    digits[i] = field[i] - '0';
  }
  const int hours = digits[0] * 10 + digits[1];
  const int minutes = digits[2] * 10 + digits[3];
  const int seconds = digits[4] * 10 + digits[5];
  if (hours > 23 || minutes > 59 || seconds > 60) return kNoTime;
  double fraction = 0.0;
  const char* p = field + 6;
  if (*p == '.') {
    for (double scale = 0.1; IsDigit(*++p); scale /= 10) fraction += (*p - '0') * scale;
  }
  if (*p != ',') return kNoTime;
  return hours * 3600.0 + minutes * 60.0 + seconds + fraction;
}

class LogScanner {
 public:
  LogScanner(TrackPoints& points, ImportReport& report, const ImportOptions& options)
      : points_(points),
        report_(report),
        progress_(options.progress),
        anyTalker_(options.anyTalker),
        strict_(options.strict),
        skipInvalid_(options.skipInvalid),
        wantsTimes_(points.WantsTimes()) {}

  // Judges every complete piece of [begin, end) and returns where the
  // first unfinished one starts (a piece is finished by a line feed or by
  // reaching 1023 characters). At the end of the file (`atEnd`) the rest
  // is a piece too, as the last line without a line feed. The line feeds
  // are found 64 bytes at a time, not with one search per line.
  const char* ScanPieces(const char* begin, const char* end, bool atEnd) {
    const char* start = begin;  // of the piece not judged yet
    const char* p = begin;      // the bytes before p are searched
    for (; end - p >= 64; p += 64) {
      for (uint64_t feeds = MatchMask64(p, '\n'); feeds != 0; feeds &= feeds - 1) {
        const char* lineEnd = p + std::countr_zero(feeds) + 1;
        JudgeLine(start, lineEnd);
        start = lineEnd;
      }
    }
    for (; p < end; ++p) {
      if (*p == '\n') {
        JudgeLine(start, p + 1);
        start = p + 1;
      }
    }
    // No line feed after `start`: whole pieces of a long line are done.
    while (size_t(end - start) >= kPieceMax) {
      JudgePiece(start, kPieceMax);
      start += kPieceMax;
    }
    if (atEnd && start < end) {
      JudgePiece(start, size_t(end - start));
      start = end;
    }
    return start;
  }

 private:
  // A line [start, lineEnd) ending with its line feed, in pieces of 1023.
  void JudgeLine(const char* start, const char* lineEnd) {
    while (size_t(lineEnd - start) > kPieceMax) {
      JudgePiece(start, kPieceMax);
      start += kPieceMax;
    }
    JudgePiece(start, size_t(lineEnd - start));
  }

  void JudgePiece(const char* piece, size_t length) {
    switch (IdentifyGga(piece, length)) {
      case GgaIdentifier::kNone:
        return;
      case GgaIdentifier::kOtherTalker:
        // A receiver that writes $GNGGA (or another talker) yields nothing
        // without anyTalker; counted so that the front ends can say so.
        if (!anyTalker_) {
          // The first one is told at once, for a live receiver's sake.
          if (++report_.otherTalkerGga == 1 && progress_) progress_->OtherTalkersMet();
          return;
        }
        break;
      case GgaIdentifier::kGps:
        break;
    }
    double lat = 0.0;
    double lon = 0.0;
    FixQuality quality = FixQuality::kUnknown;
    if (!ReadGgaSentence(piece, length, strict_, &lat, &lon, &quality) ||
        (skipInvalid_ && quality == FixQuality::kInvalid)) {
      ++report_.skipped;  // a fix-less or damaged line; the log goes on
      points_.EndTrack();  // the receiver lost its fix: the track is broken
    } else if (points_.Add(lat, lon, wantsTimes_ ? Seconds(piece) : kNoTime)) {
      ++report_.fixes;
      // Recorded as the designed reading does; the front ends say so.
      if (quality == FixQuality::kInvalid) ++report_.invalidFixes;
    }
  }

  // The time of a GGA line with a position, in seconds from the first
  // midnight of the log: a time of day more than half a day before the
  // previous one is on the next day.
  double Seconds(const char* piece) {
    const double timeOfDay = TimeOfDay(piece + kPrefixLength);
    if (std::isnan(timeOfDay)) return kNoTime;
    if (!std::isnan(lastTimeOfDay_) && timeOfDay < lastTimeOfDay_ - kSecondsPerDay / 2)
      dayStart_ += kSecondsPerDay;
    lastTimeOfDay_ = timeOfDay;
    return dayStart_ + timeOfDay;
  }

  TrackPoints& points_;
  ImportReport& report_;
  ImportProgress* progress_;
  bool anyTalker_;
  bool strict_;
  bool skipInvalid_;
  bool wantsTimes_;
  double dayStart_ = 0.0;
  double lastTimeOfDay_ = kNoTime;
};

}  // namespace

void ReadNmeaLog(TrackRecorder& recorder, ByteSource& source, ImportReport& out,
                 const ImportOptions& options) {
  const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  TrackPoints points(recorder, options, out);
  LogScanner scanner(points, out, options);
  SourceReader reader(source, out, options);
  size_t carried = 0;  // bytes of an unfinished piece at the buffer's start
  for (bool atEnd = false; !atEnd;) {
    const ByteSource::Result got = reader.Read(buffer.get() + carried, kBlockSize);
    const char* end = buffer.get() + carried + got.size;
    atEnd = got.status != ByteSource::Status::kData;
    // After a read error the unfinished piece is dropped, as a line read
    // that fails returns nothing; everything before it counts. A cancel
    // ends the log where it was read to, as its end would.
    const char* rest = scanner.ScanPieces(buffer.get(), end, atEnd && !out.readError);
    carried = size_t(end - rest);
    if (carried > 0 && !atEnd) std::memmove(buffer.get(), rest, carried);
  }
}

}  // namespace roamgrid
