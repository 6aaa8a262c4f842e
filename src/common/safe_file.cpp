#include "common/safe_file.h"

#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/temp_name.h"

namespace roamgrid {

namespace {

WriteFault gFault;
long long gBytesWritten = 0;

// Links followed before the resolution gives up, as the kernel does.
constexpr int kMaxLinkHops = 40;

// The folder part of `path` ("" for a name in the working directory, "/"
// for one in the root) and its last component.
void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    folder->clear();
    *name = path;
  } else {
    *folder = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

// Opens `folder` as a descriptor for the *at calls. A folder name longer
// than the system's path limit is opened piece by piece, each piece
// relative to the one before, so no single call sees the whole path.
int OpenFolder(const std::string& folder) {
  constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  if (folder.empty()) return open(".", kFlags);
  if (folder.size() < PATH_MAX) return open(folder.c_str(), kFlags);
  int fd = folder[0] == '/' ? open("/", kFlags) : open(".", kFlags);
  size_t from = 0;
  while (fd >= 0) {
    while (from < folder.size() && folder[from] == '/') ++from;  // "a//b" is "a/b"
    if (from >= folder.size()) break;
    size_t to = folder.size();
    if (to - from >= PATH_MAX) {
      to = folder.rfind('/', from + PATH_MAX - 1);
      if (to == std::string::npos || to <= from) {
        close(fd);
        errno = ENAMETOOLONG;  // one component longer than any name can be
        return -1;
      }
    }
    const int next = openat(fd, folder.substr(from, to - from).c_str(), kFlags);
    const int error = errno;
    close(fd);
    errno = error;
    fd = next;
    from = to + 1;
  }
  return fd;
}

// What ResolveLinks found at the file it ended on: its folder, opened,
// and its status (or the errno of the failed status call).
struct ResolvedFile {
  int folder = -1;
  bool exists = false;
  int error = 0;
  struct stat info {};
};

// The file that `path` names once every symbolic link at its last
// component is followed, read one link at a time (a relative link from
// the folder of the link), so the length of no path limits it. A dangling
// link gives the missing file it points to. False with errno on failure.
// With `found`, the folder and status of the target are handed over when
// its folder could be opened (the caller closes the folder), so they are
// not looked up twice.
bool ResolveLinks(const std::string& path, std::string* target, ResolvedFile* found = nullptr) {
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    std::string folder, name;
    SplitPath(current, &folder, &name);
    const int dir = OpenFolder(folder);
    if (dir < 0) {
      if (errno != ENOENT) return false;
      *target = current;  // a missing folder: the caller's open says so
      return true;
    }
    struct stat info;
    const bool exists =
        !name.empty() && fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists || !S_ISLNK(info.st_mode)) {
      if (found) {
        found->folder = dir;
        found->exists = exists;
        found->error = exists ? 0 : name.empty() ? EISDIR : errno;
        if (exists) found->info = info;
      } else {
        close(dir);
      }
      *target = current;
      return true;
    }
    std::string link(size_t(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    ssize_t length;
    while ((length = readlinkat(dir, name.c_str(), link.data(), link.size())) >= 0 &&
           size_t(length) == link.size()) {
      link.resize(link.size() * 2);  // the link grew since the stat
    }
    const int error = errno;
    close(dir);
    if (length < 0) {
      errno = error;
      return false;
    }
    link.resize(size_t(length));
    if (link.empty() || link[0] == '/' || folder.empty()) {
      current = link;
    } else {
      current = (folder == "/" ? folder : folder + "/") + link;
    }
  }
  errno = ELOOP;
  return false;
}

// Whether the user `uid` belongs to group `gid`, as far as the user
// database tells.
bool IsMemberOfGroup(uid_t uid, gid_t gid) {
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
  if (found->pw_gid == gid) return true;
  int count = 64;
  std::vector<gid_t> groups{};
  groups.resize(size_t(count));
  if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(size_t(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
  }
  return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

// The read and write bits that `mode` grants to a user in the class
// (0 owner, 1 group, 2 others), shifted to the owner's place.
mode_t AccessBits(mode_t mode, int userClass) { return (mode << (3 * userClass)) & 0600; }

// Gives the new file `fd` the owner and group of the file it replaces
// (`old`): both when the system allows it (root), else the group alone
// when this user belongs to it. When either cannot be kept and the old
// file's owner or the members of its group could then read or write less
// than before, fails with EPERM: the save is refused rather than change
// who may use the file. Runs before the mode is set, since a change of
// owner clears the set-id bits.
// `known`: `*status` holds the new file's status already (see
// PredictNewFile), so it is not asked again.
bool KeepOwnerAndGroup(int fd, const struct stat& old, struct stat* status = nullptr,
                       bool known = false) {
  struct stat ignored;
  struct stat& mine = status ? *status : ignored;
  if (!known && fstat(fd, &mine) != 0) return false;
  if (mine.st_uid == old.st_uid && mine.st_gid == old.st_gid) return true;
  if (fchown(fd, old.st_uid, old.st_gid) == 0) {
    mine.st_mode &= ~mode_t(S_ISUID | S_ISGID);  // cleared by the change of owner
    return true;
  }
  if (mine.st_gid != old.st_gid && fchown(fd, uid_t(-1), old.st_gid) == 0) mine.st_gid = old.st_gid;
  const mode_t mode = old.st_mode;
  if (mine.st_uid != old.st_uid) {
    const int ownerClass = IsMemberOfGroup(old.st_uid, mine.st_gid) ? 1 : 2;
    if ((AccessBits(mode, 0) & ~AccessBits(mode, ownerClass)) != 0) {
      errno = EPERM;
      return false;
    }
  }
  if (mine.st_gid != old.st_gid && (AccessBits(mode, 1) & ~AccessBits(mode, 2)) != 0) {
    errno = EPERM;
    return false;
  }
  return true;
}

// The process id, asked once per process (a fork asks again): the
// temporary file names carry it, one per save.
pid_t gPid = 0;
pid_t CurrentPid() {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, [] { gPid = 0; });
    return true;
  }();
  (void)registered;
  if (gPid == 0) gPid = getpid();
  return gPid;
}

// The file creation mask of the process, read once from /proc/self/status
// (umask() would change it, if only for a moment); -1 where that does not
// tell it.
mode_t ProcessUmask() {
  static const mode_t mask = [] {
    mode_t found = mode_t(-1);
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
      char line[256];
      unsigned value = 0;
      while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
          found = mode_t(value & 0777);
          break;
        }
      }
      std::fclose(status);
    }
    return found;
  }();
  return mask;
}

// The owner, group and mode a file gets that this process has just created
// with `createMode` beside `existing`, a file of its own: this process's
// user and group, and the bits the creation mask leaves. A tile save then
// needs no status call for its new file. False when that cannot be told
// (the mask is unknown), or when `existing` belongs to another user or
// group, whose keeping needs the real status. A folder with the
// set-group-ID bit gives a new file its own group: a file that kept this
// user's group in such a folder takes the folder's group on its next
// save, as every file created there does.
bool PredictNewFile(const struct stat& existing, mode_t createMode, struct stat* mine) {
  static const uid_t user = geteuid();
  static const gid_t group = getegid();
  const mode_t mask = ProcessUmask();
  if (mask == mode_t(-1) || existing.st_uid != user || existing.st_gid != group) return false;
  mine->st_uid = user;
  mine->st_gid = group;
  mine->st_mode = S_IFREG | (createMode & ~mask);
  return true;
}

}  // namespace

void SetWriteFault(const WriteFault& fault) {
  gFault = fault;
  gBytesWritten = 0;
}

void ClearWriteFault() { SetWriteFault(WriteFault{}); }

int OpenRegularFileAt(const std::string& path) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  const int dir = OpenFolder(folder);
  if (dir < 0) return -1;
  // Non-blocking: a named pipe without a writer must not stop the program.
  const int fd = name.empty() ? -1 : openat(dir, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int error = name.empty() ? EISDIR : errno;
  close(dir);
  if (fd < 0) {
    errno = error;
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
  } else {
    return fd;
  }
  close(fd);
  errno = error;
  return -1;
}

FILE* OpenRegularFile(const std::string& path) {
  const int fd = OpenRegularFileAt(path);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "rb");
  if (!file) close(fd);
  return file;
}

std::string FileErrorText(int error) {
  if (error == EINVAL) return "not a regular file";
  return error != 0 ? std::strerror(error) : "unknown error";
}

int StatFollowingLinks(const std::string& path, struct stat* info) {
  std::string target;
  if (!ResolveLinks(path, &target)) return -1;
  std::string folder, name;
  SplitPath(target, &folder, &name);
  const int dir = OpenFolder(folder);
  if (dir < 0) return -1;
  const int result = fstatat(dir, name.empty() ? "." : name.c_str(), info, AT_SYMLINK_NOFOLLOW);
  const int error = errno;
  close(dir);
  errno = error;
  return result;
}

int CreateParentDirectories(const std::string& path) {
  int first = 0;
  for (size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash == 0) continue;
    if (mkdir(path.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST && first == 0)
      first = errno;
  }
  return first;
}

bool ReplaceRegularFile(const char* path, const void* data, size_t size,
                        const struct stat* existing) {
  const char* slash = std::strrchr(path, '/');
  const std::string prefix = slash ? std::string(path, size_t(slash - path) + 1) : std::string();
  // Created with the old file's bits (less the umask, which only takes
  // some away), so that mostly no fchmod is needed and the new file is
  // never more open than the old one.
  const mode_t createMode = existing ? (existing->st_mode & 0777) : 0666;
  constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  static std::atomic<unsigned long long> counter{0};
  std::string temp;
  int fd = -1;
  int mkdirError = 0;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + TempFileName(CurrentPid(), counter++);
    fd = open(temp.c_str(), kCreate, createMode);
    if (fd >= 0 || errno == EEXIST) continue;
    if (errno != ENOENT || attempt > 0) break;
    // The tile's folder is missing: made once, then the create is tried again.
    mkdirError = CreateParentDirectories(path);
  }
  if (fd < 0) {
    if (errno == ENOENT && mkdirError != 0) errno = mkdirError;  // the first failing call's reason
    return false;
  }
  int error = 0;
  const auto fail = [&](int why) {
    if (error == 0) error = why;
  };
  if (existing) {
    struct stat mine;
    const bool predicted = PredictNewFile(*existing, createMode, &mine);
    if (!KeepOwnerAndGroup(fd, *existing, &mine, predicted)) {
      fail(errno);
    } else if ((mine.st_mode & 07777) != (existing->st_mode & 07777)) {
      fchmod(fd, existing->st_mode & 07777);  // best effort: the content matters most
    }
    // A file made read-only to protect it is refused, as writing it in
    // place would be; its owner's bits say so without another call.
    const bool writable =
        error != 0 || mine.st_uid == 0 ||
        (existing->st_uid == mine.st_uid ? (existing->st_mode & S_IWUSR) != 0
                                         : faccessat(AT_FDCWD, path, W_OK, 0) == 0);
    if (!writable) fail(existing->st_uid == mine.st_uid ? EACCES : errno);
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (error == 0 && done < size) {
    size_t want = size - done;
    if (gFault.failAfterBytes >= 0) {
      const long long room = gFault.failAfterBytes - gBytesWritten;
      if (room <= 0) {
        fail(ENOSPC);
        break;
      }
      want = std::min<size_t>(want, size_t(room));
    }
    const ssize_t n = write(fd, bytes + done, want);
    if (n < 0) {
      if (errno != EINTR) fail(errno);
      continue;
    }
    done += size_t(n);
    gBytesWritten += n;
  }
  if (close(fd) != 0) fail(errno);
  if (gFault.failClose) fail(EIO);
  if (error == 0 && rename(temp.c_str(), path) != 0) fail(errno);
  if (error != 0) unlink(temp.c_str());
  errno = error;
  return error == 0;
}

ReplacingFile::ReplacingFile(std::string path, std::string tempSuffix, Durability durability)
    : path_(std::move(path)), suffix_(std::move(tempSuffix)), durability_(durability) {}

ReplacingFile::~ReplacingFile() {
  if (stream_) Abandon();
  CloseFolder();
}

void ReplacingFile::CloseFolder() {
  if (folder_ >= 0) close(folder_);
  folder_ = -1;
}

bool ReplacingFile::Fail(int fd) {
  const int error = errno;
  if (fd >= 0) {
    close(fd);
    unlinkat(folder_, tempName_.c_str(), 0);
  }
  CloseFolder();
  errno = error;
  return false;
}

bool ReplacingFile::Open() {
  if (stream_) return true;
  CloseFolder();
  // A symbolic link stays a link: the file it points to is what gets
  // replaced, created when the link dangles.
  std::string target;
  ResolvedFile found;
  if (!ResolveLinks(path_, &target, &found)) return false;
  // Everything below is relative to the folder, so a path longer than the
  // system's limit works as well as any.
  folder_ = found.folder;
  std::string folder;
  SplitPath(target, &folder, &name_);
  if (name_.empty()) {
    CloseFolder();
    errno = EISDIR;
    return false;
  }
  if (folder_ < 0) folder_ = OpenFolder(folder);
  if (folder_ < 0) return false;
  const std::string prefix = folder.empty() ? "" : folder == "/" ? folder : folder + "/";
  // An existing file keeps its permissions, owner and group, and one that
  // the user cannot write (made read-only to protect it) is refused, as
  // writing it in place would be. A folder or device under the name is
  // never replaced either.
  struct stat old = found.info;
  bool exists = found.exists;
  if (found.folder < 0) {
    exists = fstatat(folder_, name_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  } else if (!exists) {
    errno = found.error;
  }
  if (!exists && errno != ENOENT) return Fail(-1);
  if (exists) {
    if (!S_ISREG(old.st_mode)) {
      errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;  // for the caller's message
      return Fail(-1);
    }
    if (faccessat(folder_, name_.c_str(), W_OK, 0) != 0) return Fail(-1);  // errno says why
  }
  // Never opened through a link or onto a file that is there already.
  constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const mode_t createMode = exists ? 0600 : 0666;  // the old mode is set below
  int fd = -1;
  tempName_ = suffix_.empty() ? std::string() : name_ + suffix_;
  if (tempName_.size() > NAME_MAX) tempName_.clear();  // too long a name: a short one instead
  if (!tempName_.empty()) {
    // A file of the fixed name is removed only when it is a regular file
    // this user may replace; a link, a pipe or a folder there is refused.
    struct stat taken;
    if (fstatat(folder_, tempName_.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {
      if (!S_ISREG(taken.st_mode) || faccessat(folder_, tempName_.c_str(), W_OK, 0) != 0) {
        errno = EEXIST;
        return Fail(-1);
      }
      if (unlinkat(folder_, tempName_.c_str(), 0) != 0) return Fail(-1);
    }
    fd = openat(folder_, tempName_.c_str(), kCreate, createMode);
  } else {
    static std::atomic<unsigned long long> counter{0};
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      tempName_ = TempFileName(getpid(), counter++);
      fd = openat(folder_, tempName_.c_str(), kCreate, createMode);
      if (fd < 0 && errno != EEXIST) break;
    }
  }
  if (fd < 0) return Fail(-1);
  temp_ = prefix + tempName_;
  if (exists) {
    if (!KeepOwnerAndGroup(fd, old)) return Fail(fd);
    fchmod(fd, old.st_mode & 07777);  // best effort: the content matters most
  }
  stream_ = fdopen(fd, "wb");
  if (!stream_) return Fail(fd);
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
      return Failed(ENOSPC);
    }
  }
  if (fwrite(data, 1, size, stream_) != size) return Failed(errno);
  gBytesWritten += (long long)size;
  return true;
}

bool ReplacingFile::Failed(int error) {
  if (!failed_) error_ = error;
  failed_ = true;
  return false;
}

bool ReplacingFile::Seek(long long offset, int whence) {
  if (!stream_ || failed_) return false;
  if (fseeko(stream_, off_t(offset), whence) != 0) return Failed(errno);
  return true;
}

long long ReplacingFile::Tell() { return stream_ ? (long long)ftello(stream_) : -1; }

bool ReplacingFile::Commit() {
  if (!stream_) return false;
  if (fflush(stream_) != 0 || ferror(stream_)) Failed(errno);
  // Data on the disk before the name: after a power loss the target then
  // holds either the old or the new content, never an empty file.
  if (!failed_ && durability_ == Durability::kSynced && fdatasync(fileno(stream_)) != 0)
    Failed(errno);
  if (fclose(stream_) != 0) Failed(errno);
  stream_ = nullptr;
  if (gFault.failClose) Failed(EIO);
  if (!failed_ && renameat(folder_, tempName_.c_str(), folder_, name_.c_str()) != 0) Failed(errno);
  if (failed_) unlinkat(folder_, tempName_.c_str(), 0);
  CloseFolder();
  errno = failed_ ? error_ : 0;
  return !failed_;
}

void ReplacingFile::Abandon() {
  if (!stream_) return;  // nothing of ours to remove
  const int error = errno;
  fclose(stream_);
  stream_ = nullptr;
  unlinkat(folder_, tempName_.c_str(), 0);
  CloseFolder();
  errno = error;
}

}  // namespace roamgrid
