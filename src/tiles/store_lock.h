// The store-wide lock: an advisory flock on the store folder "RGD" itself,
// opened read-only as a folder. Every program that can save a tile can
// open it, and no file inside the store can be swapped for a link or made
// unreadable to switch the lock off. Several programs may share one store
// (the desktop program and scripted imports); each holds the lock only
// while it checks, merges and replaces one tile file, and while it decides
// that a temporary file below RGD/ is abandoned. Readers take no lock: a
// tile file is always whole, being replaced by rename.
//
// A lock taken while this thread holds one already is the outer lock: it
// neither waits nor releases, so several saves can share one hold (the
// recorder saves the tiles it lets go of together), and a save under a
// caller's lock does not wait for itself.
//
// Where no lock can be had at all (a file system without flock, a store
// folder that cannot be opened) the holder goes on without it, as a single
// program always could; each save made so is counted (StoreLockMisses), so
// that the front ends can say so.
//
// Earlier versions locked the file "RGD/.lock"; it is no longer used and
// may be left where it is.
#pragma once

namespace roamgrid {

// The folder that is locked, relative to the store folder (the working
// directory).
inline constexpr char kStoreLockFolder[] = "RGD";
// The lock file of earlier versions, relative to the store folder.
inline constexpr char kOldStoreLockPath[] = "RGD/.lock";
// A wait for the lock is told to the front end after this long.
inline constexpr int kStoreLockNoticeMs = 1000;

// What a program does while another program holds the lock. The front end
// installs one with ScopedStoreLockWait; without one, the wait is silent
// and cannot be ended.
class StoreLockWait {
 public:
  virtual ~StoreLockWait() = default;
  // Called with true once a wait has lasted kStoreLockNoticeMs, and with
  // false when that wait ends (the lock taken or the wait given up).
  virtual void Waiting(bool /*waiting*/) {}
  // Asked now and then while waiting: true gives the wait up.
  virtual bool Stop() { return false; }
};

// Makes `wait` the handler of lock waits while it lives, then restores the
// one before. One thread's business: the front ends set it around a command.
class ScopedStoreLockWait {
 public:
  explicit ScopedStoreLockWait(StoreLockWait* wait);
  ~ScopedStoreLockWait();
  ScopedStoreLockWait(const ScopedStoreLockWait&) = delete;
  ScopedStoreLockWait& operator=(const ScopedStoreLockWait&) = delete;

 private:
  StoreLockWait* previous_;
};

class StoreLock {
 public:
  enum class State {
    kLocked,       // this process holds the lock
    kUnavailable,  // no lock can be had here; error() says why
    kStopped,      // the wait was given up (StoreLockWait::Stop)
  };

  // Waits until this process holds the lock, creating "RGD" when it is
  // missing. Polls while another program holds it, telling the installed
  // StoreLockWait after kStoreLockNoticeMs and asking it whether to stop.
  // Inside another StoreLock of this thread it takes that one's state.
  StoreLock();
  // Releases the lock (closing the folder releases the flock); an inner
  // lock leaves it to the outer one.
  ~StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  State state() const { return state_; }
  bool locked() const { return state_ == State::kLocked; }
  // errno of the call that failed when kUnavailable; 0 otherwise.
  int error() const { return error_; }

 private:
  int fd_ = -1;
  State state_ = State::kUnavailable;
  int error_ = 0;
  const StoreLock* outer_ = nullptr;  // the lock this one is inside of
};

// Saves that went on without the lock in this process so far, and the
// errno of the last lock that could not be had.
struct StoreLockMisses {
  long long saves = 0;
  int error = 0;
};
StoreLockMisses StoreLockMissed();
// Counts one save made without the lock because of `error`.
void NoteSaveWithoutLock(int error);

}  // namespace roamgrid
