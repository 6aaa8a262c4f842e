#include "import/nmea_reader.h"

#include <sys/stat.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/number_text.h"

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
constexpr long long kProgressStep = 4LL << 20;

constexpr char kGgaPrefix[] = "$GPGGA,";
constexpr size_t kPrefixLength = sizeof kGgaPrefix - 1;
static_assert(kPrefixLength == 7);

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

bool IsGgaLine(const char* text, size_t length, bool anyTalker) {
  // A NUL among the first seven characters ends the text before the
  // identifier is complete, and a NUL never equals a character of it.
  if (length < kPrefixLength || text[0] != '$') return false;
  if (std::memcmp(text + 3, kGgaPrefix + 3, kPrefixLength - 3) != 0) return false;
  if (anyTalker) return IsUpper(text[1]) && IsUpper(text[2]);
  return text[1] == 'G' && text[2] == 'P';
}

const char* FindComma(const char* from, const char* end) {
  const void* comma = std::memchr(from, ',', size_t(end - from));
  return comma ? static_cast<const char*>(comma) : end;
}

// Reads the position of a GGA line whose text (after the identifier and
// its comma) is [fields, end); `end` stands where the text's NUL would.
// Returns false for an unreadable line: a comma ending fields 1 to 4
// missing, or a hemisphere character other than N/S (E/W). Numbers end at
// the field's comma, which no number can contain.
bool ReadGgaPosition(const char* fields, const char* end, double* lat, double* lon) {
  const char* timeEnd = FindComma(fields, end);
  if (timeEnd == end) return false;
  const char* latText = timeEnd + 1;
  const char* latEnd = FindComma(latText, end);
  if (latEnd == end) return false;
  double latitude = GgaFieldToDegrees(ParseLeadingDouble(latText));
  const char* hemisphere = latEnd + 1;
  if (hemisphere == end) return false;
  if (*hemisphere == 'S') {
    latitude *= -1;
  } else if (*hemisphere != 'N') {
    return false;
  }

  const char* field3End = FindComma(hemisphere, end);
  if (field3End == end) return false;
  const char* lonText = field3End + 1;
  const char* lonEnd = FindComma(lonText, end);
  if (lonEnd == end) return false;
  double longitude = GgaFieldToDegrees(ParseLeadingDouble(lonText));
  hemisphere = lonEnd + 1;
  if (hemisphere == end) return false;
  if (*hemisphere == 'W') {
    longitude *= -1;
  } else if (*hemisphere != 'E') {
    return false;
  }
  *lat = latitude;
  *lon = longitude;
  return true;
}

}  // namespace

double GgaFieldToDegrees(double value) {
  // Not replaced by a division by 60, which differs in the last bit.
  const double q = value / 100.0;
  const double d = TruncateToInt32(q);
  return d + (q - d) * kMinutesToDegrees;
}

GgaLine ReadGgaLine(const char* text, size_t length, bool anyTalker, double* lat, double* lon) {
  if (!IsGgaLine(text, length, anyTalker)) return GgaLine::kOther;
  // The text ends at its first NUL byte.
  const void* nul = std::memchr(text + kPrefixLength, '\0', length - kPrefixLength);
  const char* end = nul ? static_cast<const char*>(nul) : text + length;
  return ReadGgaPosition(text + kPrefixLength, end, lat, lon) ? GgaLine::kFix
                                                              : GgaLine::kUnreadable;
}

namespace {

class LogScanner {
 public:
  LogScanner(TrackRecorder& recorder, ImportReport& report, bool anyTalker)
      : recorder_(recorder), report_(report), anyTalker_(anyTalker) {}

  // Judges every complete piece of [begin, end) and returns where the
  // first unfinished one starts (a piece is finished by a line feed or by
  // reaching 1023 characters). At the end of the file (`atEnd`) the rest
  // is a piece too, as the last line without a line feed.
  const char* ScanPieces(const char* begin, const char* end, bool atEnd) {
    const char* p = begin;
    while (p < end) {
      const size_t available = size_t(end - p);
      const size_t limit = available < kPieceMax ? available : kPieceMax;
      const void* lineFeed = std::memchr(p, '\n', limit);
      const char* pieceEnd;
      if (lineFeed) {
        pieceEnd = static_cast<const char*>(lineFeed) + 1;
      } else if (limit == kPieceMax || atEnd) {
        pieceEnd = p + limit;
      } else {
        break;
      }
      JudgePiece(p, size_t(pieceEnd - p));
      p = pieceEnd;
    }
    return p;
  }

 private:
  void JudgePiece(const char* piece, size_t length) {
    double lat = 0.0;
    double lon = 0.0;
    switch (ReadGgaLine(piece, length, anyTalker_, &lat, &lon)) {
      case GgaLine::kOther:
        // A receiver that writes $GNGGA (or another talker) yields nothing
        // without anyTalker; counted so that the front ends can say so.
        if (!anyTalker_ && IsGgaLine(piece, length, true)) ++report_.otherTalkerGga;
        break;
      case GgaLine::kUnreadable:
        ++report_.skipped;  // a fix-less or damaged line; the log goes on
        break;
      case GgaLine::kFix:
        if (AddPoint(recorder_, lat, lon)) ++report_.fixes;
        break;
    }
  }

  TrackRecorder& recorder_;
  ImportReport& report_;
  bool anyTalker_;
};

}  // namespace

bool ImportNmeaLog(TrackRecorder& recorder, const std::string& path, ImportReport* report,
                   const ImportOptions& options) {
  ImportReport local;
  ImportReport& out = report ? *report : local;
  out = ImportReport{};

  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  // A folder opens for reading here, but it is no log.
  struct stat status;
  if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
    std::fclose(file);
    return false;
  }
  out.opened = true;

  const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  LogScanner scanner(recorder, out, options.anyTalker);
  long long nextProgress = kProgressStep;
  size_t carried = 0;  // bytes of an unfinished piece at the buffer's start
  for (bool atEnd = false; !atEnd;) {
    const size_t got = std::fread(buffer.get() + carried, 1, kBlockSize, file);
    out.bytesRead += (long long)got;
    const char* end = buffer.get() + carried + got;
    bool readError = false;
    if (got < kBlockSize) {
      atEnd = true;
      readError = std::ferror(file) != 0;
      out.readError = readError;
    }
    // After a read error the unfinished piece is dropped, as a line read
    // that fails returns nothing; everything before it counts.
    const char* rest = scanner.ScanPieces(buffer.get(), end, atEnd && !readError);
    carried = size_t(end - rest);
    if (carried > 0 && !atEnd) std::memmove(buffer.get(), rest, carried);
    if (options.progress && out.bytesRead >= nextProgress) {
      options.progress->Advance(out.bytesRead);
      nextProgress = (out.bytesRead / kProgressStep + 1) * kProgressStep;
    }
    if (!atEnd && options.progress && options.progress->Cancelled()) {
      out.cancelled = true;
      break;
    }
  }
  std::fclose(file);

  ReleaseRecorderTile(recorder);  // a tile that cannot be saved loses its changes
  out.tileProblems = std::move(recorder.tileProblems);  // this log's, each tile once
  recorder.tileProblems.clear();
  if (options.progress) options.progress->Advance(out.bytesRead);
  return true;
}

}  // namespace roamgrid
