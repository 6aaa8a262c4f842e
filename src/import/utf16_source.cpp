#include "import/utf16_source.h"

#include <algorithm>
#include <cstring>

namespace roamgrid {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
// The wide source is read in blocks of this size.
constexpr size_t kWideBlock = 64 << 10;

void PutUtf8(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | (code >> 6));
    out += char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += char(0xE0 | (code >> 12));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  } else {
    out += char(0xF0 | (code >> 18));
    out += char(0x80 | ((code >> 12) & 0x3F));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

bool IsHigh(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(uint16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

void Utf16Decoder::Unit(uint16_t unit, std::string& out) {
  if (highSurrogate_ != 0) {
    const uint16_t high = highSurrogate_;
    highSurrogate_ = 0;
    if (IsLow(unit)) {
      PutUtf8(0x10000 + ((uint32_t(high - 0xD800) << 10) | uint32_t(unit - 0xDC00)), out);
      return;
    }
    PutUtf8(kReplacement, out);  // a high surrogate without its low one
  }
  if (IsHigh(unit)) {
    highSurrogate_ = unit;
  } else {
    PutUtf8(IsLow(unit) ? kReplacement : unit, out);
  }
}

void Utf16Decoder::Feed(const char* data, size_t size, std::string& out) {
  size_t at = 0;
  if (carriedByte_ >= 0 && size > 0) {
    const auto first = uint8_t(carriedByte_), second = uint8_t(data[0]);
    carriedByte_ = -1;
    Unit(bigEndian_ ? uint16_t(first << 8 | second) : uint16_t(second << 8 | first), out);
    at = 1;
  }
  for (; at + 1 < size; at += 2) {
    const auto first = uint8_t(data[at]), second = uint8_t(data[at + 1]);
    Unit(bigEndian_ ? uint16_t(first << 8 | second) : uint16_t(second << 8 | first), out);
  }
  if (at < size) carriedByte_ = uint8_t(data[at]);
}

void Utf16Decoder::Finish(std::string& out) {
  if (highSurrogate_ != 0 || carriedByte_ >= 0) PutUtf8(kReplacement, out);
  highSurrogate_ = 0;
  carriedByte_ = -1;
}

std::string Utf16ToUtf8(std::string_view data, bool atEnd) {
  std::string out;
  if (data.size() < 2) return out;
  Utf16Decoder decoder(data[0] == '\xfe');
  decoder.Feed(data.data() + 2, data.size() - 2, out);
  if (atEnd) decoder.Finish(out);
  return out;
}

ByteSource::Result Utf16Source::Read(char* buffer, size_t capacity) {
  while (given_ == decoded_.size()) {
    if (after_ != Status::kData) return {0, after_};
    decoded_.clear();
    given_ = 0;
    char wide[kWideBlock];
    const Result got = wide_.Read(wide, sizeof wide);
    if (got.status == Status::kInterrupted) return got;
    // The byte order mark first: it says the order and is no character.
    size_t at = 0;
    while (mark_.size() < 2 && at < got.size) mark_ += wide[at++];
    if (mark_.size() == 2 && !ordered_) {
      decoder_ = Utf16Decoder(mark_[0] == '\xfe');
      ordered_ = true;
    }
    decoder_.Feed(wide + at, got.size - at, decoded_);
    if (got.status != Status::kData) {
      after_ = got.status;
      if (after_ == Status::kEnd) decoder_.Finish(decoded_);
    }
  }
  const size_t size = std::min(capacity, decoded_.size() - given_);
  std::memcpy(buffer, decoded_.data() + given_, size);
  given_ += size;
  return {size, Status::kData};
}

}  // namespace roamgrid
