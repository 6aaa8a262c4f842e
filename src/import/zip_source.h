// A KMZ (a zip archive holding KML) read through libzip: the first entry
// whose name ends in ".kml" (in any case), decompressed as it is read, in
// constant memory. The archive's directory is at its end, so it is read
// from a file that can be sought, never from a pipe or a compressed stream.
#pragma once

#include <memory>
#include <string>

#include "import/log_source.h"

namespace roamgrid {

class ZipSource : public ByteSource {
 public:
  enum class Opened {
    kKml,     // the .kml entry is open for reading
    kNoKml,   // a zip archive without a .kml entry
    kFailed,  // not readable as a zip archive; ErrorText() says why
  };

  // Opens the archive in the file open at `fd` (not closed; its offset may
  // move); `rawBefore` bytes of it were read already to judge it.
  ZipSource(int fd, long long rawBefore);
  ~ZipSource() override;
  ZipSource(const ZipSource&) = delete;
  ZipSource& operator=(const ZipSource&) = delete;

  Opened opened() const { return opened_; }
  // The entry's bytes; a damaged entry gives kError with the reason.
  Result Read(char* buffer, size_t capacity) override;
  std::string ErrorText() const override { return errorText_; }
  // The compressed bytes of the entry read so far, estimated from its
  // share of the entry read, after those of the judging.
  long long RawBytes() const override;

 private:
  struct Archive;
  std::unique_ptr<Archive> archive_;
  Opened opened_ = Opened::kFailed;
  std::string errorText_;
  long long rawBefore_;
  long long read_ = 0;  // entry bytes given out
  long long entrySize_ = 0;
  long long entryCompressed_ = 0;
};

}  // namespace roamgrid
