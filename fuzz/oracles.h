// Independent models of the formats, written from their rules alone, that
// the fuzz targets check the code under test against. They are compiled
// without coverage instrumentation: they walk every cell or pixel, and
// the fuzzer should spend its time on the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tiles/tile_file.h"

namespace roamgrid::fuzz {

// Cell-by-cell decoding of a code stream (cells not reached become 0).
LoadResult ReferenceDecodeCells(const uint8_t* code, size_t size, uint8_t* cells);

// Number of non-zero cells of a tile.
long long CountMarkedCells(const uint8_t* cells);

// Pieces of a log that begin like a GGA sentence ("$GPGGA,", or any two
// upper-case letters after "$" with `anyTalker`), cut as a line read with
// a 1024-byte buffer cuts them: at a line feed or after 1023 bytes.
long long CountGgaPieces(const uint8_t* data, size_t size, bool anyTalker);

// Checks that every file below RGD/ is a whole tile holding at least one
// mark (only a changed tile is written); returns the marks of all of them.
long long CheckedStoreMarks();

// The image a merge of `raster` into the file bytes `data` gives when the
// file starts with our header: old pixels read 3 bytes at a time, a short
// read replacing only the bytes it got (white before any), a pixel turned
// red where the raster is marked and the old pixel is exactly white.
std::vector<uint8_t> ReferenceMerge(const uint8_t* data, size_t size, const uint8_t* raster);

}  // namespace roamgrid::fuzz
