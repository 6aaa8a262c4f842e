#include "export/text_output.h"

#include <charconv>

#include "common/safe_file.h"

namespace roamgrid {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
// windowBits 15 + 16: zlib writes a gzip header and trailer.
constexpr int kGzipWindowBits = 15 + 16;

}  // namespace

TextOutput::TextOutput(ReplacingFile& file, bool gzip) : file_(&file), gzip_(gzip) {
  buffer_.reserve(kBlockSize + 256);
  if (gzip_ && deflateInit2(&zip_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8,
                            Z_DEFAULT_STRATEGY) != Z_OK) {
    failed_ = true;
    gzip_ = false;
  }
  if (gzip_) deflated_.resize(kBlockSize);
}

TextOutput::TextOutput(std::FILE* stream) : stream_(stream) { buffer_.reserve(kBlockSize + 256); }

TextOutput::~TextOutput() {
  if (gzip_) deflateEnd(&zip_);
}

TextOutput& TextOutput::operator<<(std::string_view text) {
  buffer_.append(text);
  if (buffer_.size() >= kBlockSize) Drain(false);
  return *this;
}

TextOutput& TextOutput::operator<<(char c) {
  buffer_.push_back(c);
  if (buffer_.size() >= kBlockSize) Drain(false);
  return *this;
}

TextOutput& TextOutput::Number(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return *this << std::string_view(text, size_t(result.ptr - text));
}

TextOutput& TextOutput::Integer(long long value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return *this << std::string_view(text, size_t(result.ptr - text));
}

bool TextOutput::WriteOut(const void* data, size_t size) {
  if (failed_) return false;
  if (file_) {
    failed_ = !file_->Write(data, size);
  } else if (std::fwrite(data, 1, size, stream_) != size) {
    failed_ = true;
  }
  return !failed_;
}

void TextOutput::Drain(bool finish) {
  if (!gzip_) {
    WriteOut(buffer_.data(), buffer_.size());
    buffer_.clear();
    return;
  }
  zip_.next_in = reinterpret_cast<Bytef*>(buffer_.data());
  zip_.avail_in = uInt(buffer_.size());
  int status = Z_OK;
  do {
    zip_.next_out = reinterpret_cast<Bytef*>(deflated_.data());
    zip_.avail_out = uInt(deflated_.size());
    status = deflate(&zip_, finish ? Z_FINISH : Z_NO_FLUSH);
    if (status == Z_STREAM_ERROR) {
      failed_ = true;
      break;
    }
    WriteOut(deflated_.data(), deflated_.size() - zip_.avail_out);
  } while (zip_.avail_out == 0 || (finish && status != Z_STREAM_END));
  buffer_.clear();
}

bool TextOutput::Finish() {
  if (!finished_) {
    Drain(true);
    finished_ = true;
  }
  return !failed_;
}

}  // namespace roamgrid
