// Any bytes as a FIT file, read by ReadFitLog in blocks whose size the
// input's first byte chooses. The outcome must not depend on where the
// blocks end (see FuzzTrackReader); memory stays within its bound (the
// run's RSS limit catches any growth).
#include "import/fit_reader.h"
#include "track_reader_fuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  roamgrid::fuzz::EnterScratchDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return roamgrid::fuzz::FuzzTrackReader(roamgrid::ReadFitLog, data, size);
}
