// Reading FIT activity files (the binary format of sports watches and bike
// computers): the position_lat and position_long fields of every record
// message (global message 20), semicircles turned into degrees, each with
// its time, one track per file. The file header, every record header and
// the CRCs are checked; only what positions need is decoded: definition
// and data messages in either byte order, compressed timestamp headers;
// developer fields and other messages are skipped. Read as a stream in
// constant memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "import/log_source.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// FIT's CRC-16 (polynomial 0x8005 reflected, initial value 0) of `size`
// bytes, continued from `crc`.
uint16_t FitCrc(uint16_t crc, const uint8_t* data, size_t size);

// Degrees of a position field in semicircles (2^31 semicircles = 180
// degrees).
inline double SemicirclesToDegrees(int32_t semicircles) {
  return semicircles * (180.0 / 2147483648.0);
}

// Positions of one FIT file held until its CRC has checked them (24 MiB).
inline constexpr size_t kFitHeldPositionsMax = size_t(1) << 20;

// Reads the FIT data of `source` to its end: one FIT file, or several
// written one after another. A record with a position (neither field
// holding the invalid value 0x7FFFFFFF) goes to TrackPoints and counts in
// report.fixes once the file's CRC at its end has checked it. A damaged
// file ends the reading as a read error naming the byte:
//   - a wrong CRC: none of the file's positions are recorded (a byte is
//     wrong somewhere, and any position may be it);
//   - a file cut short (as a device that loses power leaves it), or
//     damaged before its CRC (a wrong header, a definition of unknown byte
//     order, a data message without its definition): the positions decoded
//     before the damage are recorded.
// A file of more than kFitHeldPositionsMax positions hands the earlier
// ones on before its CRC is known. Files before the damaged one stay
// recorded.
void ReadFitLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                const ImportOptions& options);

}  // namespace roamgrid
