// Import of a large NMEA log (about 200 MB, GGA, RMC, GSA and GSV at 1 Hz
// along a moving track) against `wc -l` of the same file, in wall time and
// in CPU time (user + system). Each import starts from an empty store.
//
// The log is $ROAMGRID_IMPORT_LOG when set; otherwise make_nmea_log.py
// writes one of $ROAMGRID_IMPORT_LOG_MB MB (default 200) along a track of
// $ROAMGRID_IMPORT_PROFILE (mixed, drive or walk; default mixed) into the
// temporary folder once, and later runs reuse it. The store is written in
// a scratch folder of the temporary folder ($TMPDIR). Figures of the
// import: MB/s, fixes, tile files written, and the process's peak resident
// memory (meaningful when only these benchmarks run:
// --benchmark_filter='Import|WcLines'). bench/run_import_bench.sh runs them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "import/log_import.h"
#include "import/nmea_reader.h"
#include "tiles/track_recorder.h"

namespace roamgrid::bench {
namespace {

namespace fs = std::filesystem;

const char* EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

const std::string& LogPath() {
  static const std::string path = [] {
    if (const char* given = std::getenv("ROAMGRID_IMPORT_LOG")) return std::string(given);
    const std::string sizeMb = EnvOr("ROAMGRID_IMPORT_LOG_MB", "200");
    const std::string profile = EnvOr("ROAMGRID_IMPORT_PROFILE", "mixed");
    const fs::path log =
        fs::temp_directory_path() / ("roamgrid-bench-nmea-" + profile + "-" + sizeMb + "MB.log");
    if (!fs::exists(log)) {
      const fs::path script = fs::path(__FILE__).parent_path() / "make_nmea_log.py";
      const fs::path partial = log.string() + ".part";
      const std::string command = "python3 '" + script.string() + "' --size-mb " + sizeMb +
                                  " --profile " + profile + " --output '" + partial.string() + "'";
      std::fprintf(stderr, "writing %s ...\n", log.c_str());
      if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "could not write the log with %s\n", script.c_str());
        std::exit(1);
      }
      fs::rename(partial, log);
    }
    return log.string();
  }();
  return path;
}

double Seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; }

double CpuSeconds(const rusage& usage) { return Seconds(usage.ru_utime) + Seconds(usage.ru_stime); }

using Clock = std::chrono::steady_clock;

struct Cost {
  double wallSeconds;
  double cpuSeconds;
};

// `wc -l LOG` in a child process, its output thrown away; CPU time is the
// child's own.
Cost CountLines(const std::string& path) {
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execlp("wc", "wc", "-l", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "wc -l failed\n");
    std::exit(1);
  }
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds(usage)};
}

void ReadWholeLogOnce() {
  static const bool done = [] {
    CountLines(LogPath());  // into the page cache, as for every run after it
    return true;
  }();
  (void)done;
}

// `useCpu`: report CPU time as the iteration's time, else wall time.
void BM_WcLines(benchmark::State& state, bool useCpu) {
  ReadWholeLogOnce();
  for (auto _ : state) {
    const Cost cost = CountLines(LogPath());
    state.SetIterationTime(useCpu ? cost.cpuSeconds : cost.wallSeconds);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(LogPath())));
}

// `connectMetres`: ImportOptions::connectMetres (0: the designed import).
void ImportLog(benchmark::State& state, bool useCpu, int connectMetres) {
  ReadWholeLogOnce();
  EnterScratchDirectory();
  ImportReport report;
  double tiles = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all("RGD");
    state.ResumeTiming();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    {
      // As roamgrid-cli imports: tiles in hand.
      TrackRecorder recorder;
      recorder.hand.SetLimits(kImportHand);
      ImportOptions options;
      options.connectMetres = connectMetres;
      if (!ImportNmeaLog(recorder, LogPath(), &report, options))
        state.SkipWithError("log not readable");
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    state.SetIterationTime(useCpu ? CpuSeconds(after) - CpuSeconds(before) : wall);
  }
  for (const auto& entry : fs::recursive_directory_iterator("RGD"))
    tiles += entry.is_regular_file() && entry.path().extension() == ".map";
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.SetBytesProcessed(int64_t(state.iterations()) * report.bytesRead);
  state.counters["fixes"] = double(report.fixes);
  state.counters["skipped"] = double(report.skipped);
  state.counters["line_cells"] = double(report.lineCells);
  state.counters["tiles"] = tiles;
  state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void BM_ImportNmeaLog(benchmark::State& state, bool useCpu) { ImportLog(state, useCpu, 0); }

// The same log with --connect at its default of 250 m.
void BM_ImportNmeaLogConnect(benchmark::State& state, bool useCpu) {
  ImportLog(state, useCpu, 250);
}

BENCHMARK_CAPTURE(BM_WcLines, wall, false)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WcLines, cpu, true)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportNmeaLog, wall, false)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportNmeaLog, cpu, true)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportNmeaLogConnect, wall, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportNmeaLogConnect, cpu, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

const bool kRatios[] = {
    RegisterRatio({"BM_ImportNmeaLog/cpu/manual_time", "BM_WcLines/cpu/manual_time", 3.0}),
    RegisterRatio({"BM_ImportNmeaLog/wall/manual_time", "BM_WcLines/wall/manual_time", 8.0}),
    // Joining the fixes of a drive costs at most 1.3 times the designed import.
    RegisterRatio(
        {"BM_ImportNmeaLogConnect/cpu/manual_time", "BM_ImportNmeaLog/cpu/manual_time", 1.3}),
};

}  // namespace
}  // namespace roamgrid::bench
