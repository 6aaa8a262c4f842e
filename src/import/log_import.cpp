// ImportNmeaLog and ImportLogDescriptor: the format of a log judged from
// its first bytes (the input format table), the decoders and the reader
// chained over its source, and the end of a log.
#include "import/log_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "import/input_formats.h"
#include "import/log_folder.h"
#include "import/log_source.h"
#include "import/nmea_reader.h"
#include "tiles/store_lock.h"

namespace roamgrid {

namespace {

// Decoders (gzip, UTF-16) are applied this many times at most; a gzip
// stream deeper inside is read as it is.
constexpr int kMaxDecodeDepth = 4;

// Reads `file` (the descriptor `fd`) to its end with the reader its
// content asks for, through the decoders it needs.
void ReadLog(TrackRecorder& recorder, int fd, ByteSource& file, ImportReport& report,
             const ImportOptions& options) {
  std::vector<std::unique_ptr<ByteSource>> chain;  // each reads the one before it
  LogInput input;
  input.source = &file;
  input.fd = fd;
  for (int depth = 0;; ++depth) {
    // The first bytes, enough to judge, are kept and handed out again.
    SourceReader reader(*input.source, report, options);
    std::string head;
    ByteSource::Status after = ByteSource::Status::kData;
    LogJudgement judgement;
    for (;;) {
      const bool atEnd = after != ByteSource::Status::kData;
      const bool full = head.size() >= kLogJudgeMax;
      judgement = JudgeLog(head, atEnd || full);
      if (judgement.format) {
        if (full && !atEnd && judgement.start.content == LogStart::Content::kXml &&
            judgement.start.root.empty()) {
          report.readError = true;
          report.readErrorText = "no root element in the first " +
                                 std::to_string(kLogJudgeMax >> 20) +
                                 " MiB (only a declaration, comments or processing "
                                 "instructions); not read";
          return;
        }
        break;
      }
      // The first read takes a small block; more come only while the bytes
      // so far do not decide.
      const size_t block =
          head.empty() ? kLogHeadMax : std::min(kLogJudgeMax - head.size(), size_t(64) << 10);
      const size_t size = head.size();
      head.resize(size + block);
      const ByteSource::Result got = reader.Read(head.data() + size, block);
      head.resize(size + got.size);
      if (got.status != ByteSource::Status::kData) after = ByteSource::Status::kEnd;
    }
    // A read error or cancel while judging is in the report already.
    if (report.readError || report.cancelled) return;
    const InputFormat& format = *judgement.format;
    // Files found in a folder are read only when they are logs.
    if (options.onlyLogs && judgement.match == FormatMatch::kLikely) {
      report.notRecognised = true;
      return;
    }
    if (format.decode && depth < kMaxDecodeDepth) {
      chain.push_back(std::make_unique<HeadSource>(*input.source, std::move(head), after));
      chain.push_back(format.decode(*chain.back(), input, report));
      input.source = chain.back().get();
      input.fd = -1;
      continue;
    }
    const InputFormat& reading = format.read ? format : *FindInputFormat("NMEA");
    // XML allows nothing before its first markup; the byte order mark and
    // white space that writers leave there are passed over.
    if (reading.kind == LogKind::kGpx) {
      input.linesBefore = judgement.start.linesBefore;
      head.erase(0, judgement.start.contentAt);
    }
    chain.push_back(std::make_unique<HeadSource>(*input.source, std::move(head), after));
    input.source = chain.back().get();
    report.format = &reading;
    reading.read(recorder, input, report, options);
    return;
  }
}

// A wait for the store lock during a save, told to the import's front end,
// which may give it up as it cancels the import.
class ProgressLockWait : public StoreLockWait {
 public:
  explicit ProgressLockWait(ImportProgress* progress) : progress_(progress) {}
  void Waiting(bool waiting) override {
    if (progress_) progress_->WaitingForStoreLock(waiting);
  }
  bool Stop() override { return progress_ && progress_->Cancelled(); }

 private:
  ImportProgress* progress_;
};

// `live`: the descriptor is a live input (a pipe, a terminal), whose marks
// are saved as they come (LiveSaves).
void ReadAndRelease(TrackRecorder& recorder, int fd, ImportReport& report,
                    const ImportOptions& options, bool live = false) {
  report.opened = true;
  const long long cellsBefore = recorder.newCells;
  const long long unlockedBefore = StoreLockMissed().saves;
  ProgressLockWait lockWait(options.progress);
  const ScopedStoreLockWait waitHandler(&lockWait);
  LiveSaves liveSaves(recorder);
  DescriptorSource file(fd, live ? &liveSaves : nullptr);
  ReadLog(recorder, fd, file, report, options);
  ReleaseRecorderTile(recorder);  // a tile that cannot be saved loses its changes
  report.newCells = recorder.newCells - cellsBefore;
  report.unlockedSaves = StoreLockMissed().saves - unlockedBefore;
  if (report.unlockedSaves > 0) report.lockError = StoreLockMissed().error;
  // The tiles this log could not use, each once.
  for (TileProblem& problem : recorder.tileProblems) {
    if (std::find(report.tileProblems.begin(), report.tileProblems.end(), problem) ==
        report.tileProblems.end()) {
      report.tileProblems.push_back(std::move(problem));
    }
  }
  recorder.tileProblems.clear();
  if (options.progress) options.progress->Advance(report.bytesRead);
}

}  // namespace

bool ImportNmeaLog(TrackRecorder& recorder, const std::string& path, ImportReport* report,
                   const ImportOptions& options) {
  ImportReport local;
  ImportReport& out = report ? *report : local;
  out = ImportReport{};

  // A log found deep in a folder may have a path longer than PATH_MAX.
  const int fd = OpenPathAnyLength(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    out.openError = errno;
    return false;
  }
  // A folder opens for reading here, but it is no log.
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    out.openError = EISDIR;
    close(fd);
    return false;
  }
  ReadAndRelease(recorder, fd, out, options);
  close(fd);
  return true;
}

bool ImportLogDescriptor(TrackRecorder& recorder, int fd, ImportReport* report,
                         const ImportOptions& options) {
  ImportReport local;
  ImportReport& out = report ? *report : local;
  out = ImportReport{};
  // A file given as standard input is read as any file.
  struct stat status;
  const bool live = !(fstat(fd, &status) == 0 && S_ISREG(status.st_mode));
  ReadAndRelease(recorder, fd, out, options, live);
  return true;
}

}  // namespace roamgrid
