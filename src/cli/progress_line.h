// The progress line of a long import or export on a terminal: bytes read
// of the total and the rate (or another text), redrawn in place on one line and erased when done.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace roamgrid {

// "import: 12.3 of 200.0 MB (6%), 45.6 MB/s" (MB = 10^6 bytes). The
// percentage is left out when the total is unknown (0), the rate while no
// time has passed.
std::string ProgressText(long long doneBytes, long long totalBytes, double seconds);

// Another text of the line: text(done, seconds).
using ProgressTextFn = std::function<std::string(long long done, double seconds)>;

class ProgressLine {
 public:
  // Draws on `stream` only when `enabled` (a terminal); otherwise every
  // call does nothing.
  ProgressLine(std::FILE* stream, long long totalBytes, bool enabled);
  // The same with another text: `text(done, seconds)` for what Show is given.
  ProgressLine(std::FILE* stream, bool enabled, ProgressTextFn text);
  ~ProgressLine() { Erase(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Shows `doneBytes`; redraws at most ten times a second. On a terminal
  // narrower than the text the text is cut to the terminal's width.
  void Show(long long doneBytes);
  // Blanks the line and returns the cursor to its start, so that other
  // output can follow; the next Show draws it again.
  void Erase();

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* stream_;
  long long totalBytes_ = 0;
  std::function<std::string(long long, double)> text_;
  bool enabled_;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
  bool drawnOnce_ = false;
  size_t shownLength_ = 0;  // characters on the line now
};

}  // namespace roamgrid
