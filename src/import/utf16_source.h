// Logs written in UTF-16 (their byte order mark first), handed on as UTF-8
// so that every reader reads them as it reads UTF-8: a block at a time, in
// constant memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "import/log_source.h"

namespace roamgrid {

// Turns UTF-16 code units into UTF-8, piece by piece: a unit or surrogate
// pair split between two pieces is carried over. A lone surrogate, and an
// odd byte at the end, become U+FFFD.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}
  void Feed(const char* data, size_t size, std::string& out);
  // The end of the text: what is carried over is no character.
  void Finish(std::string& out);

 private:
  void Unit(uint16_t unit, std::string& out);

  bool bigEndian_;
  int carriedByte_ = -1;        // the first byte of a unit split between pieces
  uint16_t highSurrogate_ = 0;  // waiting for its low surrogate
};

// `data` (a text starting with a UTF-16 byte order mark, FF FE or FE FF) as
// UTF-8, without the mark; for judging the first bytes of a log.
std::string Utf16ToUtf8(std::string_view data, bool atEnd);

class Utf16Source : public ByteSource {
 public:
  // `wide` starts with the byte order mark and outlives this.
  explicit Utf16Source(ByteSource& wide) : wide_(wide) {}

  Result Read(char* buffer, size_t capacity) override;
  std::string ErrorText() const override { return wide_.ErrorText(); }
  long long RawBytes() const override { return wide_.RawBytes(); }

 private:
  ByteSource& wide_;
  std::string mark_;      // the byte order mark, as read so far
  bool ordered_ = false;  // the mark has told the byte order
  Utf16Decoder decoder_{false};
  std::string decoded_;           // decoded and not yet handed out
  size_t given_ = 0;              // of decoded_
  Status after_ = Status::kData;  // how the wide source ended
};

}  // namespace roamgrid
