// A gzip-compressed log, decompressed as it is read: zlib's inflate over
// blocks of the compressed source, in constant memory. Members written one
// after another (as `cat a.gz b.gz` or a logger that appends) are read in
// turn; zero bytes after the last member (padding) are ignored.
#pragma once

#include <zlib.h>

#include <memory>
#include <string>

#include "import/log_source.h"

namespace roamgrid {

class GzipSource : public ByteSource {
 public:
  // `compressed` starts with the gzip magic bytes and outlives this.
  explicit GzipSource(ByteSource& compressed);
  ~GzipSource() override;
  GzipSource(const GzipSource&) = delete;
  GzipSource& operator=(const GzipSource&) = delete;

  // Decompressed bytes. A damaged or truncated stream gives what came
  // before the damage, then kError with the reason.
  Result Read(char* buffer, size_t capacity) override;
  std::string ErrorText() const override { return errorText_; }
  long long RawBytes() const override { return compressed_.RawBytes(); }
  bool Live() const override { return compressed_.Live(); }

 private:
  // Sets the error; returns what the caller gives back now: the bytes it
  // made before the failure (the error follows on the next read), or the
  // error itself.
  Result Fail(std::string text, size_t produced);

  ByteSource& compressed_;
  z_stream stream_{};
  bool ready_ = false;  // inflateInit2 succeeded
  std::unique_ptr<unsigned char[]> input_;
  bool inputEnded_ = false;
  bool memberStart_ = true;  // between members: the next byte starts one
  bool padding_ = false;     // zero bytes after the last member
  bool finished_ = false;
  bool failed_ = false;
  std::string errorText_;
};

}  // namespace roamgrid
