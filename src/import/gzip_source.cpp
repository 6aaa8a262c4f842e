#include "import/gzip_source.h"

#include <climits>

namespace roamgrid {

namespace {

constexpr size_t kInputSize = size_t(64) << 10;
// 15 window bits, +16: a gzip wrapper (not a zlib one) is expected.
constexpr int kGzipWindowBits = 15 + 16;

}  // namespace

GzipSource::GzipSource(ByteSource& compressed)
    : compressed_(compressed), input_(std::make_unique_for_overwrite<unsigned char[]>(kInputSize)) {
  ready_ = inflateInit2(&stream_, kGzipWindowBits) == Z_OK;
  if (!ready_) {
    failed_ = true;
    errorText_ = "the decompressor could not be set up (out of memory)";
  }
}

GzipSource::~GzipSource() {
  if (ready_) inflateEnd(&stream_);
}

ByteSource::Result GzipSource::Fail(std::string text, size_t produced) {
  failed_ = true;
  errorText_ = std::move(text);
  return produced > 0 ? Result{produced, Status::kData} : Result{0, Status::kError};
}

ByteSource::Result GzipSource::Read(char* buffer, size_t capacity) {
  if (failed_) return {0, Status::kError};
  if (finished_) return {0, Status::kEnd};
  stream_.next_out = reinterpret_cast<unsigned char*>(buffer);
  stream_.avail_out = capacity < UINT_MAX ? unsigned(capacity) : UINT_MAX;
  const unsigned outputSpace = stream_.avail_out;
  const auto produced = [&] { return size_t(outputSpace - stream_.avail_out); };
  // Until some bytes come out: a block of input may hold only a header.
  while (produced() == 0) {
    if (stream_.avail_in == 0 && !inputEnded_) {
      const Result got = compressed_.Read(reinterpret_cast<char*>(input_.get()), kInputSize);
      if (got.status == Status::kInterrupted) return got;
      if (got.status == Status::kError) return Fail(compressed_.ErrorText(), 0);
      inputEnded_ = got.status == Status::kEnd;
      stream_.next_in = input_.get();
      stream_.avail_in = unsigned(got.size);
    }
    if (memberStart_) {
      // Zero bytes after a member are padding; anything after them is not.
      while (stream_.avail_in > 0 && *stream_.next_in == 0) {
        padding_ = true;
        ++stream_.next_in;
        --stream_.avail_in;
      }
      if (stream_.avail_in == 0) {
        if (!inputEnded_) continue;
        finished_ = true;
        return {0, Status::kEnd};
      }
      if (padding_) return Fail("damaged compressed data: bytes after the end of the stream", 0);
      memberStart_ = false;
    }
    const uInt inputBefore = stream_.avail_in;
    const int status = inflate(&stream_, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      // Another member may follow.
      inflateReset(&stream_);
      memberStart_ = true;
    } else if (status == Z_OK || status == Z_BUF_ERROR) {
      const bool stuck = produced() == 0 && stream_.avail_in == inputBefore;
      if (stuck && stream_.avail_in == 0 && inputEnded_)
        return Fail("the compressed data ends early (truncated)", 0);
    } else if (status == Z_MEM_ERROR) {
      return Fail("out of memory while decompressing", produced());
    } else {
      return Fail(
          std::string("damaged compressed data: ") + (stream_.msg ? stream_.msg : "unreadable"),
          produced());
    }
  }
  return {produced(), Status::kData};
}

}  // namespace roamgrid
