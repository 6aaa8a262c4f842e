// ImportNmeaLog and ImportLogDescriptor: the kind of a log judged from its
// first bytes, the readers chained over its source, and the end of a log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "import/fit_reader.h"
#include "import/gpx_reader.h"
#include "import/gzip_source.h"
#include "import/json_reader.h"
#include "import/kml_reader.h"
#include "import/log_source.h"
#include "import/nmea_reader.h"
#include "tiles/store_lock.h"
#include "import/tcx_reader.h"
#include "import/zip_source.h"

namespace roamgrid {

namespace {

// gzip inside gzip is decompressed this many times at most; deeper it is
// read as it is.
constexpr int kMaxGzipDepth = 4;

// Reads a KMZ archive in the file open at `fd`: its first KML.
void ReadKmz(TrackRecorder& recorder, int fd, long long rawBefore, ImportReport& report,
             const ImportOptions& options) {
  ZipSource zip(fd, rawBefore);
  if (zip.opened() == ZipSource::Opened::kNoKml && options.onlyLogs) {
    report.notRecognised = true;
    return;
  }
  if (zip.opened() != ZipSource::Opened::kKml) {
    report.readError = true;
    report.readErrorText = zip.ErrorText();
    return;
  }
  ReadKmlLog(recorder, zip, report, options);
}

// Reads `file` (the descriptor `fd`) to its end with the reader its
// content asks for.
void ReadLog(TrackRecorder& recorder, int fd, ByteSource& file, ImportReport& report,
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
    XmlKind xml = XmlKind::kGpx;
    if (kind == LogKind::kGpx && !encoding) {
      const size_t start = head.find('<');
      linesBefore = int(std::count(head.begin(), head.begin() + start, '\n'));
      head.erase(0, start);
      xml = XmlLogKind(head);
    }
    // Files found in a folder are read only when they are logs.
    if (options.onlyLogs && ((kind == LogKind::kNmea && !LooksLikeNmea(head)) ||
                             (kind == LogKind::kGpx && xml == XmlKind::kOther))) {
      report.notRecognised = true;
      return;
    }
    if (kind == LogKind::kZip) {
      // The archive is read from the file itself, and never inside another.
      if (depth == 0) {
        ReadKmz(recorder, fd, report.bytesRead, report, options);
      } else {
        report.readError = true;
        report.readErrorText = "a KMZ (zip) archive inside a compressed file is not read";
      }
      return;
    }
    chain.push_back(std::make_unique<HeadSource>(*source, std::move(head), after));
    source = chain.back().get();
    if (kind == LogKind::kGzip && depth < kMaxGzipDepth) {
      report.compressed = true;
      chain.push_back(std::make_unique<GzipSource>(*source));
      source = chain.back().get();
      continue;
    }
    switch (kind) {
      case LogKind::kGpx:
        if (xml == XmlKind::kKml) {
          ReadKmlLog(recorder, *source, report, options, linesBefore);
        } else if (xml == XmlKind::kTcx) {
          ReadTcxLog(recorder, *source, report, options, linesBefore);
        } else {
          ReadGpxLog(recorder, *source, report, options, linesBefore, encoding);
        }
        break;
      case LogKind::kJson:
        ReadJsonLog(recorder, *source, report, options);
        break;
      case LogKind::kFit:
        ReadFitLog(recorder, *source, report, options);
        break;
      default:
        ReadNmeaLog(recorder, *source, report, options);
        break;
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
  // A file given as standard input is read as any file.
  struct stat status;
  const bool live = !(fstat(fd, &status) == 0 && S_ISREG(status.st_mode));
  ReadAndRelease(recorder, fd, out, options, live);
  return true;
}

}  // namespace roamgrid
