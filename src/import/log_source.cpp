#include "import/log_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace roamgrid {

namespace {

// The progress is told of the bytes read about every 4 MiB, and at the end.
constexpr long long kProgressStep = 4LL << 20;

}  // namespace

ByteSource::Result DescriptorSource::Read(char* buffer, size_t capacity) {
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
    // their size (and a cancel, asked between blocks, its reach). An end
    // or error met here follows the head; a signal lets the next read try
    // again.
    if (size < capacity && after_ == Status::kData) {
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

}  // namespace roamgrid
