// Child process of the crash-safety tests: does one long piece of real
// work on the files of its working directory so that the test can kill it
// at any moment. It writes 'R' to standard output when the work begins and
// 'D' when it is done.
//   roamgrid_crash_driver import LOG...     imports the logs into RGD/
//   roamgrid_crash_driver import-hand LOG... the same with a few tiles in
//                                           hand (most of them packed)
//   roamgrid_crash_driver home COUNT        rewrites Roamgrid.cfg COUNT times
//   roamgrid_crash_driver merge IMAGE COUNT merges COUNT rasters into IMAGE
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "export/bmp_file.h"
#include "home/home_config.h"
#include "import/log_import.h"
#include "import/nmea_reader.h"
#include "reliability/crash_scenarios.h"
#include "tiles/track_recorder.h"

namespace {

void Signal(char c) {
  if (write(STDOUT_FILENO, &c, 1) != 1) std::_Exit(3);
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: roamgrid_crash_driver import|import-hand LOG... | home COUNT | merge IMAGE COUNT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace roamgrid;
  if (argc < 3) return Usage();
  const std::string mode = argv[1];
  if (mode == "import" || mode == "import-hand") {
    TrackRecorder recorder;
    // Room for about two packed tiles: tiles are saved now and then.
    if (mode == "import-hand") recorder.hand.SetLimits({1, 5000, 1});
    Signal('R');
    for (int i = 2; i < argc; ++i) {
      if (!ImportNmeaLog(recorder, argv[i])) return 1;
    }
  } else if (mode == "home" && argc == 3) {
    const int count = std::atoi(argv[2]);
    Signal('R');
    for (int i = 1; i <= count; ++i) {
      if (!WriteHomeConfig(testing::HomeOfRewrite(i))) return 1;
    }
  } else if (mode == "merge" && argc == 4) {
    const int count = std::atoi(argv[3]);
    Signal('R');
    for (int i = 0; i < count; ++i) {
      const std::vector<uint8_t> raster = testing::RasterOfMerge(i);
      if (MergeIntoImage(argv[2], raster.data()) != MergeResult::kMerged) return 1;
    }
  } else {
    return Usage();
  }
  Signal('D');
  return 0;
}
