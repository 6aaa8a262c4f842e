// Where the bytes of a log come from: a file or a descriptor (standard
// input), a decoder (gzip, UTF-16) over another source, or the first bytes
// of either kept back after the format of the log was judged from them. Every
// reader takes its bytes through ByteSource, a block at a time, so memory
// does not grow with the log.
#pragma once

#include <cstddef>
#include <string>

#include "import/import_report.h"

namespace roamgrid {

class ByteSource {
 public:
  enum class Status {
    kData,         // `size` bytes were read (at least one)
    kEnd,          // the end of the stream; nothing more will come
    kError,        // reading failed; ErrorText() says why
    kInterrupted,  // a signal arrived before any byte did; reading may go on
  };
  struct Result {
    size_t size = 0;
    Status status = Status::kEnd;
  };

  virtual ~ByteSource() = default;
  // Reads at most `capacity` bytes (capacity > 0) into `buffer`.
  virtual Result Read(char* buffer, size_t capacity) = 0;
  // Why the last read failed.
  virtual std::string ErrorText() const = 0;
  // Bytes taken from the file or descriptor so far (compressed bytes for a
  // compressed log): what the progress of an import counts.
  virtual long long RawBytes() const = 0;
  // Whether the bytes come from a live input, whose next bytes may be long
  // in coming: what is at hand is then handed on without waiting for more.
  virtual bool Live() const { return false; }
};

// How long marks of a live input (a receiver on standard input) stay
// unsaved at most while it goes on.
inline constexpr int kLiveSaveMs = 1000;

// Saves made while a live input is read, so that a program showing the
// store sees the track within about a second: marks that have been unsaved
// for `intervalMs` are saved (the tiles stay in hand) when the source next
// reads, or while it waits for input.
class LiveSaves {
 public:
  explicit LiveSaves(TrackRecorder& recorder, int intervalMs = kLiveSaveMs)
      : recorder_(recorder), intervalMs_(intervalMs) {}
  // Milliseconds until the unsaved marks are due (0: now); -1 when there
  // are none.
  int MsUntilDue();
  // Saves the recorder's changed tiles (SaveRecorderTiles).
  void Save();

 private:
  TrackRecorder& recorder_;
  int intervalMs_;
  long long unsavedSinceMs_ = -1;  // when marks were first found unsaved
};

// Reads an open descriptor with read(2); the descriptor is not closed. A
// read interrupted by a signal (EINTR) is kInterrupted, not an error. With
// `live`, its due saves are made before each read and while the read waits.
class DescriptorSource : public ByteSource {
 public:
  explicit DescriptorSource(int fd, LiveSaves* live = nullptr) : fd_(fd), live_(live) {}
  Result Read(char* buffer, size_t capacity) override;
  std::string ErrorText() const override;
  long long RawBytes() const override { return rawBytes_; }
  bool Live() const override { return live_ != nullptr; }

 private:
  int fd_;
  LiveSaves* live_;
  int error_ = 0;
  long long rawBytes_ = 0;
};

// Hands out `head` (bytes already taken from `inner` to judge the log)
// before the rest of `inner`, the first block filled up from `inner`; a
// status met while taking them (end, error) follows the head.
class HeadSource : public ByteSource {
 public:
  HeadSource(ByteSource& inner, std::string head, Status after)
      : inner_(inner), head_(std::move(head)), after_(after) {}
  Result Read(char* buffer, size_t capacity) override;
  std::string ErrorText() const override { return inner_.ErrorText(); }
  long long RawBytes() const override { return inner_.RawBytes(); }
  bool Live() const override { return inner_.Live(); }

 private:
  ByteSource& inner_;
  std::string head_;
  size_t given_ = 0;
  Status after_;
};

// One reader's view of its source during an import: reads through the
// source, tells the progress of the raw bytes, asks it whether to stop
// before every read and whenever a signal interrupted one, and notes in
// the report how reading ended (a read error with its reason, a cancel).
class SourceReader {
 public:
  SourceReader(ByteSource& source, ImportReport& report, const ImportOptions& options)
      : source_(source), report_(report), options_(options) {}

  // The next bytes: kData, or kEnd when reading is over for any reason
  // (end, error, cancel; the report says which).
  ByteSource::Result Read(char* buffer, size_t capacity);

 private:
  bool Cancelled();

  ByteSource& source_;
  ImportReport& report_;
  const ImportOptions& options_;
  bool started_ = false;
  long long nextProgress_ = 0;
};

}  // namespace roamgrid
