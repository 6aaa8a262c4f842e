// ImportNmeaLog and ImportLogDescriptor: the kind of a log judged from its
// first bytes, the readers chained over its source, and the end of a log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "import/gpx_reader.h"
#include "import/gzip_source.h"
#include "import/log_source.h"
#include "import/nmea_reader.h"
#include "tiles/store_lock.h"

namespace roamgrid {

namespace {

// gzip inside gzip is decompressed this many times at most; deeper it is
// read as it is.
constexpr int kMaxGzipDepth = 4;

// Reads `source` to its end with the reader its content asks for.
void ReadLog(TrackRecorder& recorder, ByteSource& file, ImportReport& report,
             const ImportOptions& options) {
  std::vector<std::unique_ptr<ByteSource>> chain;  // each reads the one before it
  ByteSource* source = &file;
  for (int depth = 0;; ++depth) {
    // The first bytes, enough to judge, are kept and handed out again.
    SourceReader reader(*source, report, options);
    std::string head;
    LogKind kind = LogKind::kNmea;
    char buffer[kLogHeadMax];
    ByteSource::Status after = ByteSource::Status::kData;
    while (!JudgeLogStart(head.data(), head.size(), after != ByteSource::Status::kData, &kind)) {
      const ByteSource::Result got = reader.Read(buffer, kLogHeadMax - head.size());
      head.append(buffer, got.size);
      if (got.status != ByteSource::Status::kData) after = ByteSource::Status::kEnd;
    }
    // A read error or cancel while judging is in the report already.
    if (report.readError || report.cancelled) return;
    // XML allows nothing before its declaration; the white space (and the
    // byte order mark with it) that GPX writers leave there is skipped.
    int linesBefore = 0;
    const char* encoding =
        kind == LogKind::kGpx ? WideGpxEncoding(head.data(), head.size()) : nullptr;
    if (kind == LogKind::kGpx && !encoding) {
      const size_t start = head.find('<');
      linesBefore = int(std::count(head.begin(), head.begin() + start, '\n'));
      head.erase(0, start);
    }
    chain.push_back(std::make_unique<HeadSource>(*source, std::move(head), after));
    source = chain.back().get();
    if (kind == LogKind::kGzip && depth < kMaxGzipDepth) {
      report.compressed = true;
      chain.push_back(std::make_unique<GzipSource>(*source));
      source = chain.back().get();
      continue;
    }
    if (kind == LogKind::kGpx) {
      ReadGpxLog(recorder, *source, report, options, linesBefore, encoding);
    } else {
      ReadNmeaLog(recorder, *source, report, options);
    }
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

void ReadAndRelease(TrackRecorder& recorder, int fd, ImportReport& report,
                    const ImportOptions& options) {
  report.opened = true;
  const long long cellsBefore = recorder.newCells;
  const long long unlockedBefore = StoreLockMissed().saves;
  ProgressLockWait lockWait(options.progress);
  const ScopedStoreLockWait waitHandler(&lockWait);
  DescriptorSource file(fd);
  ReadLog(recorder, file, report, options);
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

  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
  ReadAndRelease(recorder, fd, out, options);
  return true;
}

}  // namespace roamgrid
