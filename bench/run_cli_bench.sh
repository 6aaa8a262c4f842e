#!/usr/bin/env bash
# Import of a large generated NMEA log through `roamgrid-cli import`, beside
# plain reads of the same file, reported in MB/s (10^6 bytes) and as ratios.
# The log is read once beforehand so that every run reads from the page
# cache; each import starts from an empty store. Best of three runs.
#
#   bench/run_cli_bench.sh [SIZE_MB]      (default 200)
#
# Uses build-cli-bench/bin/roamgrid-cli (or $ROAMGRID_CLI), building it in
# Release mode when missing.
set -euo pipefail
export LC_ALL=C
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
size_mb="${1:-200}"
source "$root/bench/bench_cli.sh"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
log="$work/drive.log"
python3 "$root/bench/make_nmea_log.py" --size-mb "$size_mb" --output "$log"
bytes=$(stat -c %s "$log")
cat "$log" >/dev/null  # into the page cache

now() { date +%s.%N; }
# Best wall time of three runs of "$@", in seconds.
best_of_three() {
  local best="" start end t
  for _ in 1 2 3; do
    [ -n "${before_each:-}" ] && eval "$before_each"
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best="$t"; fi
  done
  echo "$best"
}

read_all() { cat "$log" >/dev/null; }
count_lines() { wc -l <"$log"; }
import_log() { "$cli" -C "$work/store" import "$log"; }

t_cat=$(best_of_three read_all)
t_wc=$(best_of_three count_lines)
mkdir -p "$work/store"
before_each='rm -rf "$work/store/RGD"'
t_import=$(best_of_three import_log)
before_each=''
result="$(import_log)"  # into the now existing store: the same tiles again

awk -v bytes="$bytes" -v tc="$t_cat" -v tw="$t_wc" -v ti="$t_import" -v result="$result" 'BEGIN {
  mb = bytes / 1e6
  printf "log: %.1f MB (%s)\n", mb, result
  printf "%-26s %8.3f s %9.1f MB/s\n", "cat > /dev/null", tc, mb / tc
  printf "%-26s %8.3f s %9.1f MB/s\n", "wc -l", tw, mb / tw
  printf "%-26s %8.3f s %9.1f MB/s\n", "roamgrid-cli import", ti, mb / ti
  printf "import time / cat time:   %.1f\n", ti / tc
  printf "import time / wc -l time: %.1f\n", ti / tw
}'
