#include "tiles/store_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace roamgrid {

namespace {

constexpr char kStoreRoot[] = "RGD";

// O_NOFOLLOW: a link planted under the name is not followed to create or
// lock another file. O_NONBLOCK: a named pipe under the name does not wait
// for a writer. Read access suffices for flock, so a lock file of another
// user of a shared store can still be locked.
int OpenLockFile(int create) {
  return open(kStoreLockPath, O_RDONLY | create | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
}

}  // namespace

StoreLock::StoreLock() {
  // Without O_CREAT first: the lock file nearly always exists, and an open
  // that may create takes the folder's own lock on every save.
  int fd = OpenLockFile(0);
  if (fd < 0 && errno == ENOENT) fd = OpenLockFile(O_CREAT);
  if (fd < 0 && errno == ENOENT) {
    mkdir(kStoreRoot, 0777);  // exists already, or cannot be made: the open says
    fd = OpenLockFile(O_CREAT);
  }
  if (fd < 0) return;
  // Whatever stands under the name (a folder, say), every program locks
  // the same one, which is all the lock needs.
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    close(fd);  // no locks on this file system: go on without
    return;
  }
  fd_ = fd;
}

StoreLock::~StoreLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace roamgrid
