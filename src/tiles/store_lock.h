// The store-wide lock: an advisory flock on the lock file "RGD/.lock",
// which is created when missing and never removed. Several programs may
// share one store (the desktop program and scripted imports); each holds
// the lock only while it checks, merges and replaces one tile file, and
// while it decides that a temporary file below RGD/ is abandoned. Readers
// take no lock: a tile file is always whole, being replaced by rename.
//
// Where the lock file cannot be created or locked (a read-only store, a
// file system without locks) the holder goes on without the lock, as a
// single program always could.
#pragma once

namespace roamgrid {

// The lock file, relative to the store folder (the working directory).
inline constexpr char kStoreLockPath[] = "RGD/.lock";

class StoreLock {
 public:
  // Waits until this process holds the lock. Creates "RGD" and the lock
  // file when they are missing; a link or anything else that cannot be
  // opened for reading under the name leaves the lock not held.
  StoreLock();
  ~StoreLock();  // releases the lock (closing the file releases the flock)
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  // True when the lock is held; false when the holder goes on without it.
  bool locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace roamgrid
