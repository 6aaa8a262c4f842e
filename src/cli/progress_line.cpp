#include "cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "common/number_text.h"

namespace roamgrid {

namespace {

constexpr double kBytesPerMB = 1e6;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

std::string ProgressText(long long doneBytes, long long totalBytes, double seconds) {
  std::string text = "import: " + FormatFixed(double(doneBytes) / kBytesPerMB, 0, 1);
  if (totalBytes > 0) {
    text += " of " + FormatFixed(double(totalBytes) / kBytesPerMB, 0, 1) + " MB (" +
            std::to_string(doneBytes * 100 / totalBytes) + "%)";
  } else {
    text += " MB";
  }
  if (seconds > 0)
    text += ", " + FormatFixed(double(doneBytes) / kBytesPerMB / seconds, 0, 1) + " MB/s";
  return text;
}

ProgressLine::ProgressLine(std::FILE* stream, long long totalBytes, bool enabled)
    : stream_(stream), totalBytes_(totalBytes), enabled_(enabled), start_(Clock::now()) {}

ProgressLine::ProgressLine(std::FILE* stream, bool enabled,
                           std::function<std::string(long long, double)> text)
    : stream_(stream), text_(std::move(text)), enabled_(enabled), start_(Clock::now()) {}

void ProgressLine::Show(long long doneBytes) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (drawnOnce_ && now - lastDraw_ < kRedrawInterval) return;
  drawnOnce_ = true;
  lastDraw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::string text =
      text_ ? text_(doneBytes, seconds) : ProgressText(doneBytes, totalBytes_, seconds);
  // A line as wide as the terminal or wider would wrap, and every redraw
  // would leave a line behind; the last column stays free.
  size_t room = std::string::npos;
  winsize size{};
  if (ioctl(fileno(stream_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) room = size.ws_col - 1u;
  if (text.size() > room) text.resize(room);
  // Blanks cover what a longer earlier text left on the line (as far as
  // the terminal, perhaps narrowed since, still shows of it).
  const size_t length = text.size();
  if (length < shownLength_) text.append(std::min(shownLength_, room) - length, ' ');
  std::fputc('\r', stream_);
  std::fputs(text.c_str(), stream_);
  std::fflush(stream_);
  shownLength_ = length;
}

void ProgressLine::Erase() {
  if (!enabled_ || shownLength_ == 0) return;
  std::fputc('\r', stream_);
  std::fputs(std::string(shownLength_, ' ').c_str(), stream_);
  std::fputc('\r', stream_);
  std::fflush(stream_);
  shownLength_ = 0;
  drawnOnce_ = false;
}

}  // namespace roamgrid
