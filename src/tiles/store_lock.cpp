#include "tiles/store_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace roamgrid {

namespace {

StoreLockWait* gWait = nullptr;
StoreLockMisses gMisses;
// The outermost lock this thread holds now, or none.
thread_local const StoreLock* tHeld = nullptr;

// The first and the longest pause between two tries while another program
// holds the lock: short at first, since a save holds it for well under a
// millisecond, and never so long that a stop waits for it.
constexpr long kFirstPauseNs = 200'000;
constexpr long kLongestPauseNs = 20'000'000;

long long NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1'000'000;
}

// O_RDONLY suffices for flock, and a folder can always be opened so by a
// user who may list it; O_DIRECTORY refuses anything else under the name
// (a named pipe is not even opened).
int OpenStoreFolder() { return open(kStoreLockFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

}  // namespace

ScopedStoreLockWait::ScopedStoreLockWait(StoreLockWait* wait) : previous_(gWait) { gWait = wait; }

ScopedStoreLockWait::~ScopedStoreLockWait() { gWait = previous_; }

StoreLock::StoreLock() {
  if (tHeld) {
    outer_ = tHeld;
    state_ = outer_->state_;
    error_ = outer_->error_;
    return;
  }
  tHeld = this;
  int fd = OpenStoreFolder();
  if (fd < 0 && errno == ENOENT) {
    mkdir(kStoreLockFolder, 0777);  // exists already, or cannot be made: the open says
    fd = OpenStoreFolder();
  }
  if (fd < 0) {
    error_ = errno;
    return;
  }
  long long waitStartMs = -1;
  bool told = false;
  long pauseNs = kFirstPauseNs;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      state_ = State::kLocked;
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      error_ = errno;  // no locks on this file system: go on without
      break;
    }
    // Another program holds it. A poll rather than a blocking flock, so
    // that the front end can speak and a signal or Cancel can end the wait.
    if (gWait && gWait->Stop()) {
      state_ = State::kStopped;
      break;
    }
    const long long nowMs = NowMs();
    if (waitStartMs < 0) waitStartMs = nowMs;
    if (!told && gWait && nowMs - waitStartMs >= kStoreLockNoticeMs) {
      told = true;
      gWait->Waiting(true);
    }
    const timespec pause{0, pauseNs};
    nanosleep(&pause, nullptr);  // a signal cuts it short: Stop is asked next
    pauseNs = std::min(pauseNs * 2, kLongestPauseNs);
  }
  if (told && gWait) gWait->Waiting(false);
  if (state_ == State::kLocked) {
    fd_ = fd;
  } else {
    close(fd);
  }
}

StoreLock::~StoreLock() {
  if (outer_) return;
  if (fd_ >= 0) close(fd_);
  tHeld = nullptr;
}

StoreLockMisses StoreLockMissed() { return gMisses; }

void NoteSaveWithoutLock(int error) {
  ++gMisses.saves;
  gMisses.error = error;
}

}  // namespace roamgrid
