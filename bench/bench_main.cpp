// Runs the registered benchmarks, then prints each registered ratio from
// the fastest repetition of both sides (CPU time, or the manual time of a
// benchmark that measures its own) and whether it meets its target.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "bench_support.h"

namespace roamgrid::bench {

namespace {

std::filesystem::path gScratch;

void RemoveScratch() {
  std::error_code ignored;
  if (!gScratch.empty()) std::filesystem::remove_all(gScratch, ignored);
}

std::vector<Ratio>& RatioList() {
  static std::vector<Ratio> ratios;
  return ratios;
}

// Console output as usual; also keeps the fastest time per iteration of
// each benchmark across repetitions.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      // Manual times are what the benchmark measured itself; otherwise the
      // process's CPU time, which other work on a shared machine disturbs
      // far less than the wall clock.
      const std::string name = run.run_name.str();
      const bool manual =
          name.size() >= 12 && name.compare(name.size() - 12, 12, "/manual_time") == 0;
      const double seconds =
          (manual ? run.real_accumulated_time : run.cpu_accumulated_time) / double(run.iterations);
      auto [it, added] = best.emplace(name, seconds);
      if (!added && seconds < it->second) it->second = seconds;
    }
  }
  std::map<std::string, double> best;
};

}  // namespace

void EnterScratchDirectory() {
  if (!gScratch.empty()) return;
  std::string pattern = (std::filesystem::temp_directory_path() / "roamgrid-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  gScratch = pattern;
  std::filesystem::current_path(gScratch);
  std::atexit(RemoveScratch);
}

bool RegisterRatio(Ratio ratio) {
  RatioList().push_back(std::move(ratio));
  return true;
}

const std::vector<Ratio>& Ratios() { return RatioList(); }

}  // namespace roamgrid::bench

int main(int argc, char** argv) {
  using namespace roamgrid::bench;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  bool printed = false;
  for (const Ratio& ratio : Ratios()) {
    const auto measured = reporter.best.find(ratio.measured);
    const auto floor = reporter.best.find(ratio.floor);
    if (measured == reporter.best.end() || floor == reporter.best.end()) continue;
    if (!printed) std::printf("\nratios (CPU or manual time, fastest repetition of each side):\n");
    printed = true;
    if (ratio.target <= 0) {
      std::printf("  %-34s / %-34s = %5.2f (for comparison)\n", ratio.measured.c_str(),
                  ratio.floor.c_str(), measured->second / floor->second);
    } else if (ratio.atLeast) {
      const double value = floor->second / measured->second;
      std::printf("  %-34s is %7.1fx faster than %-34s (target >= %.1fx) %s\n",
                  ratio.measured.c_str(), value, ratio.floor.c_str(), ratio.target,
                  value >= ratio.target ? "ok" : "MISSED");
    } else {
      const double value = measured->second / floor->second;
      std::printf("  %-34s / %-34s = %5.2f (target <= %.2f) %s\n", ratio.measured.c_str(),
                  ratio.floor.c_str(), value, ratio.target,
                  value <= ratio.target ? "ok" : "MISSED");
    }
  }
  benchmark::Shutdown();
  return 0;
}
