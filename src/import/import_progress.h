// What a long import tells its front end, and how the front end stops it:
// the CLI's progress line and the desktop program's progress window both
// implement this interface, and the readers call it between blocks.
#pragma once

#include <cstddef>
#include <string>

namespace roamgrid {

class ImportProgress {
 public:
  virtual ~ImportProgress() = default;
  // Reading of log `index` (0-based) of `count` begins; `path` as given
  // ("-" for standard input).
  virtual void BeginLog(size_t /*index*/, size_t /*count*/, const std::string& /*path*/) {}
  // Bytes of the current log read so far from the file (compressed bytes
  // for a compressed log), called now and then and once at its end.
  virtual void Advance(long long /*bytesRead*/) {}
  // Asked after every block read: true stops reading the current log (and
  // the logs after it) there. What was recorded stays; the recorder's tile
  // is released as at the end of a log.
  virtual bool Cancelled() { return false; }
  // The current log holds a GGA sentence of another talker that is not read
  // (no anyTalker): called once per log, at the first, so that a live
  // receiver's user hears of it at once.
  virtual void OtherTalkersMet() {}
  // A save has waited about a second for the store lock, which another
  // program holds (true), or that wait is over (false). While it lasts,
  // Cancelled is asked now and then, and true gives the wait up: the tile
  // is then not saved.
  virtual void WaitingForStoreLock(bool /*waiting*/) {}
};

}  // namespace roamgrid
