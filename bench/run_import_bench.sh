#!/usr/bin/env bash
# Import of a large generated NMEA log (GGA, RMC, GSA, GSV at 1 Hz, CR LF)
# beside `wc -l` of the same file in the same run: CPU time (user + system)
# and wall time of both, their ratios, and the peak resident memory of the
# benchmark process. Each import starts from an empty store.
#
#   bench/run_import_bench.sh [SIZE_MB [PROFILE...]]   (default: 200 mixed)
#
# PROFILE is a track of make_nmea_log.py: mixed, drive or walk. Logs are
# written once into $TMPDIR (or /tmp) and reused by later runs; the store
# goes to a scratch folder there too. Uses build-bench/bin/roamgrid_bench
# (or $ROAMGRID_BENCH_BIN), building it in Release mode when missing.
set -euo pipefail
export LC_ALL=C
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
size_mb="${1:-200}"
shift || true
profiles=("$@")
[ ${#profiles[@]} -eq 0 ] && profiles=(mixed)
bench="${ROAMGRID_BENCH_BIN:-$root/build-bench/bin/roamgrid_bench}"
if [ ! -x "$bench" ]; then
  cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DROAMGRID_GUI=OFF \
    -DROAMGRID_TESTS=OFF -DROAMGRID_BENCH=ON >/dev/null
  cmake --build "$root/build-bench" -j2 --target roamgrid_bench >/dev/null
fi
tmp="${TMPDIR:-/tmp}"

for profile in "${profiles[@]}"; do
  log="$tmp/roamgrid-bench-nmea-$profile-${size_mb}MB.log"
  if [ ! -f "$log" ]; then
    echo "writing $log ..."
    python3 "$root/bench/make_nmea_log.py" --size-mb "$size_mb" --profile "$profile" \
      --output "$log.part"
    mv "$log.part" "$log"
  fi
  echo "== $profile track: $log ($(stat -c %s "$log") bytes, $(wc -l <"$log") lines)"
  timing="$(mktemp)"
  ROAMGRID_IMPORT_LOG="$log" /usr/bin/time -v -o "$timing" "$bench" \
    --benchmark_filter='BM_(ImportNmeaLog|ImportNmeaLogConnect|WcLines)/' --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=false --benchmark_color=false
  grep -E 'Maximum resident set size' "$timing" | sed 's/^\s*/peak memory of the benchmark process: /'
  rm -f "$timing"
done
