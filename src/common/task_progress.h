// What a long task of the desktop program other than an import (the export
// of a region, the fold of conflict copies) tells its progress window, and
// how the window stops it. The desktop program shows the same window as
// for imports; tests script it.
#pragma once

namespace roamgrid {

class TaskProgress {
 public:
  virtual ~TaskProgress() = default;
  // `done` of `total` steps are behind (0 <= done <= total; total > 0).
  virtual void Advance(long long /*done*/, long long /*total*/) {}
  // Asked between steps: true stops the task; what it was writing is
  // abandoned and nothing is changed.
  virtual bool Cancelled() { return false; }
  // A save has waited about a second for the store lock, which another
  // program holds (true), or that wait is over (false).
  virtual void WaitingForStoreLock(bool /*waiting*/) {}
};

}  // namespace roamgrid
