#include "import/log_source.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

namespace roamgrid {

namespace {

// The progress is told of the bytes read about every 4 MiB, and at the end.
constexpr long long kProgressStep = 4LL << 20;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A FIT file header at the start: 1 when it is one, -1 when it is not, 0
// when the bytes so far may still become one. Its first byte (the header
// size, 12 or 14) is no text, so a text log never waits here.
int JudgeFitHeader(const char* data, size_t size) {
  constexpr size_t kMagicAt = 8;
  static constexpr char kMagic[] = ".FIT";
  if (size == 0 || (data[0] != 12 && data[0] != 14)) return -1;
  if (size < kMagicAt + 4) return 0;
  return std::memcmp(data + kMagicAt, kMagic, 4) == 0 ? 1 : -1;
}

bool IsAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Whether [data, data + size) is the start of `word` (or all of it).
bool BeginsWord(const char* data, size_t size, const char* word) {
  const size_t length = std::strlen(word);
  return std::memcmp(data, word, std::min(size, length)) == 0;
}

}  // namespace

int LiveSaves::MsUntilDue() {
  if (!HasUnsavedMarks(recorder_)) {
    unsavedSinceMs_ = -1;
    return -1;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long nowMs = (long long)now.tv_sec * 1000 + now.tv_nsec / 1'000'000;
  if (unsavedSinceMs_ < 0) unsavedSinceMs_ = nowMs;
  return int(std::max(0LL, unsavedSinceMs_ + intervalMs_ - nowMs));
}

void LiveSaves::Save() {
  // A save that failed is tried again an interval later (or at the end).
  SaveRecorderTiles(recorder_);
  unsavedSinceMs_ = -1;
}

ByteSource::Result DescriptorSource::Read(char* buffer, size_t capacity) {
  // Marks that are due are saved now; while no input comes, the wait ends
  // when they fall due.
  for (int waitMs; live_ && (waitMs = live_->MsUntilDue()) >= 0;) {
    if (waitMs == 0) {
      live_->Save();
      continue;
    }
    pollfd ready{fd_, POLLIN, 0};
    const int polled = poll(&ready, 1, waitMs);
    if (polled > 0) break;
    if (polled < 0) {
      if (errno == EINTR) return {0, Status::kInterrupted};
      break;  // the read says what is wrong
    }
  }
  const ssize_t got = ::read(fd_, buffer, capacity);
  if (got > 0) {
    rawBytes_ += got;
    return {size_t(got), Status::kData};
  }
  if (got == 0) return {0, Status::kEnd};
  if (errno == EINTR) return {0, Status::kInterrupted};
  error_ = errno;
  return {0, Status::kError};
}

std::string DescriptorSource::ErrorText() const { return std::strerror(error_); }

ByteSource::Result HeadSource::Read(char* buffer, size_t capacity) {
  if (given_ < head_.size()) {
    size_t size = std::min(capacity, head_.size() - given_);
    std::memcpy(buffer, head_.data() + given_, size);
    given_ += size;
    // The rest of the block comes from the stream, so that blocks keep
    // their size (and a cancel, asked between blocks, its reach); not from
    // a live input, whose next bytes may be long in coming. An end or
    // error met here follows the head; a signal lets the next read try
    // again.
    if (size < capacity && after_ == Status::kData && !inner_.Live()) {
      const Result more = inner_.Read(buffer + size, capacity - size);
      size += more.size;
      if (more.status == Status::kEnd || more.status == Status::kError) after_ = more.status;
    }
    return {size, Status::kData};
  }
  if (after_ != Status::kData) return {0, after_};
  return inner_.Read(buffer, capacity);
}

bool SourceReader::Cancelled() {
  if (!options_.progress || !options_.progress->Cancelled()) return false;
  report_.cancelled = true;
  return true;
}

ByteSource::Result SourceReader::Read(char* buffer, size_t capacity) {
  if (report_.cancelled || report_.readError) return {0, ByteSource::Status::kEnd};
  // Asked after every block, so a cancel stops the reading at the next one.
  if (started_ && Cancelled()) return {0, ByteSource::Status::kEnd};
  started_ = true;
  for (;;) {
    const ByteSource::Result got = source_.Read(buffer, capacity);
    report_.bytesRead = source_.RawBytes();
    if (options_.progress && report_.bytesRead >= nextProgress_ + kProgressStep) {
      options_.progress->Advance(report_.bytesRead);
      nextProgress_ = report_.bytesRead / kProgressStep * kProgressStep;
    }
    switch (got.status) {
      case ByteSource::Status::kData:
      case ByteSource::Status::kEnd:
        return got;
      case ByteSource::Status::kError:
        report_.readError = true;
        report_.readErrorText = source_.ErrorText();
        return {0, ByteSource::Status::kEnd};
      case ByteSource::Status::kInterrupted:
        // A signal that does not ask to stop (the front end decides) lets
        // the reading go on.
        if (Cancelled()) return {0, ByteSource::Status::kEnd};
        break;
    }
  }
}

bool JudgeLogStart(const char* data, size_t size, bool atEnd, LogKind* kind) {
  static constexpr char kGzipMagic[] = "\x1f\x8b";
  static constexpr char kByteOrderMark[] = "\xef\xbb\xbf";
  static constexpr char kZipMagic[] = "PK\x03\x04";
  *kind = LogKind::kNmea;
  if (size >= 2 && BeginsWord(data, size, kGzipMagic)) {
    *kind = LogKind::kGzip;
    return true;
  }
  // What came so far may still become a mark when more bytes may come;
  // otherwise it is NMEA.
  const bool decided = atEnd || size >= kLogHeadMax;
  if (size == 1 && (data[0] == '\xff' || data[0] == '\xfe')) return decided;  // a UTF-16 mark?
  if (WideGpxEncoding(data, size)) {
    // Its ASCII characters judged as bytes; any other stands as a byte
    // that matches nothing.
    const bool littleEndian = data[0] == '\xff';
    std::string narrow;
    for (size_t i = 2; i + 1 < size; i += 2) {
      const auto low = uint8_t(data[littleEndian ? i : i + 1]);
      const auto high = uint8_t(data[littleEndian ? i + 1 : i]);
      narrow += high == 0 && low < 0x80 ? char(low) : '\x80';
    }
    return JudgeLogStart(narrow.data(), narrow.size(), decided, kind);
  }
  if (size < 2 && BeginsWord(data, size, kGzipMagic)) return decided;
  if (const int fit = JudgeFitHeader(data, size); fit >= 0) {
    if (fit == 0) return decided;
    *kind = LogKind::kFit;
    return true;
  }
  if (size > 0 && BeginsWord(data, size, kZipMagic)) {
    if (size < 4) return decided;
    *kind = LogKind::kZip;
    return true;
  }
  size_t at = 0;
  if (BeginsWord(data, size, kByteOrderMark)) {
    if (size < 3) return decided;
    at = 3;
  }
  while (at < size && IsXmlSpace(data[at])) ++at;
  if (at == size) return decided;
  const char* rest = data + at;
  const size_t left = size - at;
  if (rest[0] == '{' || rest[0] == '[' || rest[0] == '\x1e') {
    // gpsd's JSON reports ({"class": ...) come before the NMEA sentences
    // that `gpspipe -r` passes on: such a stream is NMEA.
    static constexpr char kGpsdReport[] = "{\"class\"";
    if (BeginsWord(rest, left, kGpsdReport)) return left >= std::strlen(kGpsdReport) || decided;
    *kind = LogKind::kJson;
    return true;
  }
  for (const char* word : {"<?xml", "<gpx", "<kml", "<TrainingCenterDatabase"}) {
    if (!BeginsWord(rest, left, word)) continue;
    if (left >= std::strlen(word)) {
      *kind = LogKind::kGpx;
      return true;
    }
    return decided;
  }
  return true;
}

const char* WideGpxEncoding(const char* data, size_t size) {
  if (size < 2) return nullptr;
  const bool littleEndian = data[0] == '\xff' && data[1] == '\xfe';
  const bool bigEndian = data[0] == '\xfe' && data[1] == '\xff';
  if (littleEndian && size >= 4 && data[2] == '\0' && data[3] == '\0') return nullptr;  // UTF-32
  return littleEndian || bigEndian ? "UTF-16" : nullptr;
}

XmlKind XmlLogKind(const std::string& head) {
  size_t at = 0;
  for (;;) {
    at = head.find('<', at);
    if (at == std::string::npos || at + 1 >= head.size()) return XmlKind::kGpx;
    const char next = head[at + 1];
    if (next == '?' || next == '!') {
      // A declaration, processing instruction, comment or DOCTYPE (one
      // without an internal subset: a subset's "]>" is looked for too).
      const char* close = next == '?' ? "?>" : head.compare(at, 4, "<!--") == 0 ? "-->" : ">";
      size_t end = head.find(close, at + 2);
      if (next == '!' && head.compare(at, 9, "<!DOCTYPE") == 0) {
        const size_t subset = head.find('[', at);
        if (subset != std::string::npos && subset < end) end = head.find("]>", subset);
      }
      if (end == std::string::npos) return XmlKind::kGpx;
      at = end + 1;
      continue;
    }
    size_t nameEnd = at + 1;
    while (nameEnd < head.size() && !IsXmlSpace(head[nameEnd]) && head[nameEnd] != '>' &&
           head[nameEnd] != '/')
      ++nameEnd;
    if (nameEnd == head.size()) return XmlKind::kGpx;
    std::string name = head.substr(at + 1, nameEnd - at - 1);
    if (const size_t colon = name.rfind(':'); colon != std::string::npos) name.erase(0, colon + 1);
    if (name == "gpx") return XmlKind::kGpx;
    if (name == "kml") return XmlKind::kKml;
    if (name == "TrainingCenterDatabase") return XmlKind::kTcx;
    return XmlKind::kOther;
  }
}

bool LooksLikeNmea(const std::string& head) {
  for (size_t at = 0; at < head.size(); at = head.find('\n', at), at += at != std::string::npos) {
    if (at == std::string::npos) break;
    if (head.size() - at < 7 || (head[at] != '$' && head[at] != '!')) continue;
    bool sentence = head[at + 6] == ',';
    for (size_t i = 1; i <= 5; ++i) sentence = sentence && IsAsciiAlnum(head[at + i]);
    if (sentence) return true;
  }
  return false;
}

}  // namespace roamgrid
