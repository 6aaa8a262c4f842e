// SIGINT, SIGTERM and SIGHUP during an import or an export of map tiles:
// instead of ending the process at once (and losing the cells of the tile
// being recorded, or leaving a half-written MBTiles file behind), the
// signal is noted; the import stops at its next block and releases its
// tile, the export stops at its next tile and removes what it had not
// finished, and the command ends with the status of the signal (128 + its
// number).
#pragma once

namespace roamgrid {

// The exit status of a command stopped by a signal is this plus its number.
constexpr int kExitSignalBase = 128;

class ImportInterrupts {
 public:
  // Catches the three signals until destroyed, without SA_RESTART: a read
  // of a pipe that blocks returns at once (EINTR). A second signal of the
  // same kind ends the process as it would have without this.
  ImportInterrupts();
  ~ImportInterrupts();
  ImportInterrupts(const ImportInterrupts&) = delete;
  ImportInterrupts& operator=(const ImportInterrupts&) = delete;

  // The number of the first signal caught, or 0.
  static int Caught();
  // The name of signal `number`: "SIGINT", "SIGTERM" or "SIGHUP".
  static const char* Name(int number);
};

}  // namespace roamgrid
