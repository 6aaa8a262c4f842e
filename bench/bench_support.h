// Shared by the benchmarks: a scratch working directory for generated
// stores, and ratios between benchmarks (a measurement against its floor)
// that bench_main prints after the run, with their targets. Ratios compare
// CPU time (system calls included), or the manual time of benchmarks named
// ".../manual_time", from the fastest repetition of each side.
#pragma once

#include <string>
#include <vector>

namespace roamgrid::bench {

// Makes a fresh temporary directory the working directory (once per
// process); it is removed when the process ends.
void EnterScratchDirectory();

struct Ratio {
  std::string measured;  // benchmark name, e.g. "BM_RenderView_zoom7_track"
  std::string floor;     // the benchmark it is compared with
  double target;         // measured / floor must be at most this (0: shown only)
  bool atLeast = false;  // instead: floor / measured must be at least `target`
};

// Registers a ratio; returns true so it can initialise a static.
bool RegisterRatio(Ratio ratio);
const std::vector<Ratio>& Ratios();

}  // namespace roamgrid::bench
