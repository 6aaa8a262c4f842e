// Streamed text for the vector exports: appended in small pieces, written
// in blocks of 64 KiB to a file being replaced (ReplacingFile), plain or as
// one gzip member, or to a plain stdio stream. Numbers are printed
// independently of the locale.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace roamgrid {

class ReplacingFile;

class TextOutput {
 public:
  // Into `file`, which is open; deflated as a gzip member when `gzip`.
  TextOutput(ReplacingFile& file, bool gzip);
  // Into a stdio stream opened for writing in binary mode.
  explicit TextOutput(std::FILE* stream);
  ~TextOutput();
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  TextOutput& operator<<(std::string_view text);
  TextOutput& operator<<(char c);
  // The shortest decimal text that reads back as exactly `value`
  // (std::to_chars), so an edge at k / 17920 degrees reads back as the
  // double nearest to it.
  TextOutput& Number(double value);
  TextOutput& Integer(long long value);

  // Writes what is buffered (and ends the gzip member). False when any
  // write failed.
  bool Finish();

 private:
  void Drain(bool finish);
  bool WriteOut(const void* data, size_t size);

  ReplacingFile* file_ = nullptr;
  std::FILE* stream_ = nullptr;
  bool gzip_ = false;
  z_stream zip_{};
  std::string buffer_;
  std::string deflated_;
  bool failed_ = false;
  bool finished_ = false;
};

}  // namespace roamgrid
