#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for SECONDS.
# Fails when any target finds a crash, a leak or a broken check; the input
# is kept as build-fuzz/artifacts/<target>-crash-...
#   scripts/fuzz.sh SECONDS [TARGET...]
# The corpus grows in build-fuzz/corpus/<target>/ across runs; seeds are
# written afresh by make_fuzz_seeds with the system's own writers, and the
# inputs kept in tests/reliability/fuzz_inputs/<target>/ run first.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}"
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_tile_load fuzz_nmea_log fuzz_home_config fuzz_bmp_merge fuzz_gpx_log fuzz_gzip_log
    fuzz_json_log fuzz_fit_log fuzz_gshhg_bins
    fuzz_overview_cache fuzz_dcw_outlines)
fi

bash "$root/scripts/setup.sh" --fuzz
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DROAMGRID_FUZZ=ON -DROAMGRID_GUI=OFF -DROAMGRID_TESTS=OFF -DROAMGRID_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target make_fuzz_seeds "${targets[@]}"

rm -rf "$build/seeds"
"$build/bin/make_fuzz_seeds" "$build/seeds"
mkdir -p "$build/artifacts"

# Longest input worth trying: a tile file is at most 114691 bytes, an image
# 602166; logs and home files need no more than a few pieces of a line, a
# GPX document a few elements and entities, a gzip stream a few blocks; the
# crude GSHHG shorelines are some 90 KB of variables, an outline some
# thousands of points.
max_len() {
  case "$1" in
    fuzz_tile_load) echo 120000 ;;
    fuzz_nmea_log) echo 8192 ;;
    fuzz_home_config) echo 1024 ;;
    fuzz_bmp_merge) echo 602200 ;;
    fuzz_gpx_log) echo 16384 ;;
    fuzz_gzip_log) echo 16384 ;;
    fuzz_json_log) echo 16384 ;;
    fuzz_fit_log) echo 8192 ;;
    fuzz_gshhg_bins) echo 100000 ;;
    fuzz_overview_cache) echo 16384 ;;
    fuzz_dcw_outlines) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  dirs=("$corpus" "$build/seeds/$target")
  kept="$root/tests/reliability/fuzz_inputs/$target"
  if [ -d "$kept" ]; then dirs+=("$kept"); fi
  log="$build/$target.log"
  echo "== $target: ${seconds}s"
  status=0
  nice -n 10 "$build/bin/$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
    -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "${dirs[@]}" >"$log" 2>&1 || status=$?
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | sed 's/^/   /' || true
  if [ "$status" -ne 0 ]; then
    echo "   FAILED (exit $status); see $log"
    grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" | head -20 | sed 's/^/   /' || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz.sh: failures in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: all targets ran ${seconds}s without a finding"
