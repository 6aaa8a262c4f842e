#include "common/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace roamgrid {

namespace {

WriteFault gFault;
long long gBytesWritten = 0;

std::string UniqueTempName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp" + std::to_string(long(getpid())) + "-" + std::to_string(counter++);
}

}  // namespace

void SetWriteFault(const WriteFault& fault) {
  gFault = fault;
  gBytesWritten = 0;
}

void ClearWriteFault() { SetWriteFault(WriteFault{}); }

void CreateParentDirectories(const std::string& path) {
  for (size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash == 0) continue;
    mkdir(path.substr(0, slash).c_str(), 0777);  // exists already: fine
  }
}

ReplacingFile::ReplacingFile(std::string path, std::string tempPath)
    : path_(std::move(path)), temp_(std::move(tempPath)), uniqueTemp_(temp_.empty()) {}

ReplacingFile::~ReplacingFile() {
  if (stream_) Abandon();
}

bool ReplacingFile::Open() {
  if (stream_) return true;
  int fd = -1;
  if (uniqueTemp_) {
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      temp_ = UniqueTempName(path_);
      fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) break;
    }
  } else {
    fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (fd < 0) return false;
  stream_ = fdopen(fd, "wb");
  if (!stream_) {
    close(fd);
    unlink(temp_.c_str());
    return false;
  }
  failed_ = false;
  return true;
}

bool ReplacingFile::Write(const void* data, size_t size) {
  if (!stream_ || failed_) return false;
  if (gFault.failAfterBytes >= 0) {
    const long long room = gFault.failAfterBytes - gBytesWritten;
    if (room < (long long)size) {
      // Write what fits, as a disk that fills up in the middle would.
      if (room > 0) {
        fwrite(data, 1, size_t(room), stream_);
        gBytesWritten += room;
      }
      failed_ = true;
      return false;
    }
  }
  if (fwrite(data, 1, size, stream_) != size) {
    failed_ = true;
    return false;
  }
  gBytesWritten += (long long)size;
  return true;
}

bool ReplacingFile::Commit() {
  if (!stream_) return false;
  bool ok = !failed_;
  if (fflush(stream_) != 0 || ferror(stream_)) ok = false;
  if (fclose(stream_) != 0) ok = false;
  stream_ = nullptr;
  if (gFault.failClose) ok = false;
  if (ok && rename(temp_.c_str(), path_.c_str()) != 0) ok = false;
  if (!ok) unlink(temp_.c_str());
  return ok;
}

void ReplacingFile::Abandon() {
  if (!stream_) return;  // nothing of ours to remove
  fclose(stream_);
  stream_ = nullptr;
  unlink(temp_.c_str());
}

}  // namespace roamgrid
