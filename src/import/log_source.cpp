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

}  // namespace roamgrid
