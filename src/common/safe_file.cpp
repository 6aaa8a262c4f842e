#include "common/safe_file.h"

#include "common/temp_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace roamgrid {

namespace {

WriteFault gFault;
long long gBytesWritten = 0;

// A fresh temporary name in the folder of `path`.
std::string UniqueTempName(const std::string& path) {
  static std::atomic<unsigned long long> counter{0};
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  return folder + TempFileName(getpid(), counter++);
}

}  // namespace

void SetWriteFault(const WriteFault& fault) {
  gFault = fault;
  gBytesWritten = 0;
}

void ClearWriteFault() { SetWriteFault(WriteFault{}); }

FILE* OpenRegularFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, "rb");
  if (!file) close(fd);
  return file;
}

void CreateParentDirectories(const std::string& path) {
  for (size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash == 0) continue;
    mkdir(path.substr(0, slash).c_str(), 0777);  // exists already: fine
  }
}

ReplacingFile::ReplacingFile(std::string path, std::string tempSuffix, Durability durability)
    : path_(std::move(path)), suffix_(std::move(tempSuffix)), durability_(durability) {}

ReplacingFile::~ReplacingFile() {
  if (stream_) Abandon();
}

bool ReplacingFile::Open() {
  if (stream_) return true;
  // A symbolic link stays a link: the file it points to is what gets replaced.
  target_ = path_;
  struct stat info;
  if (lstat(path_.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char* resolved = realpath(path_.c_str(), nullptr)) {
      target_ = resolved;
      free(resolved);
    }
  }
  // An existing file keeps its permissions, and one that the user cannot
  // write (made read-only to protect it) is refused, as writing it in place
  // would be.
  bool keepMode = false;
  mode_t mode = 0;
  // A folder or device under the name is never replaced either.
  if (stat(target_.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) {
      errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;  // for the caller's message
      return false;
    }
    if (access(target_.c_str(), W_OK) != 0) return false;  // errno says why
    keepMode = true;
    mode = info.st_mode & 07777;
  }
  int fd = -1;
  if (suffix_.empty()) {
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      temp_ = UniqueTempName(target_);
      fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) break;
    }
  } else {
    temp_ = target_ + suffix_;
    fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (fd < 0) return false;
  if (keepMode) fchmod(fd, mode);  // best effort: the content matters most
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
      errno = ENOSPC;  // as a full disk reports it
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
  // Data on the disk before the name: after a power loss the target then
  // holds either the old or the new content, never an empty file.
  if (ok && durability_ == Durability::kSynced && fdatasync(fileno(stream_)) != 0) ok = false;
  if (fclose(stream_) != 0) ok = false;
  stream_ = nullptr;
  if (gFault.failClose) {
    ok = false;
    errno = EIO;
  }
  if (ok && rename(temp_.c_str(), target_.c_str()) != 0) ok = false;
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
