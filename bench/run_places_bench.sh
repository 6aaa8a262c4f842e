#!/usr/bin/env bash
# `roamgrid-cli places` against `roamgrid-cli stats` on the same store: about
# 10^6 visited cells in some thousands of tiles (walks from
# bench/make_coverage_log.py over a square of SIDE degrees round Basel, where
# France, Germany and Switzerland meet, so that many tiles cross a border).
# Reports the cold run (no region index: the outlines are read and every
# tile is worked out) once, and stats and the warm run (from the index
# cache) as the best of three wall times with their CPU seconds and peak
# memory, and warm / stats as a ratio.
#
#   bench/run_places_bench.sh [FIXES] [SIDE] [WALK]   (defaults 1050000, 2.5, 400:
#                                                     about 4000 tiles)
#
# Needs gmt-dcw. Uses build-cli-bench/bin/roamgrid-cli (or $ROAMGRID_CLI),
# building it in Release mode when missing.
set -euo pipefail
export LC_ALL=C
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fixes="${1:-1050000}"
side="${2:-2.5}"
walk="${3:-400}"
source "$root/bench/bench_cli.sh"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
export XDG_CACHE_HOME="$work/cache"
python3 "$root/bench/make_coverage_log.py" --fixes "$fixes" --side "$side" \
  --south "$(awk -v s="$side" 'BEGIN { print 47.59 - s / 2 }')" \
  --west "$(awk -v s="$side" 'BEGIN { print 7.59 - s / 2 }')" --walk "$walk" --output coverage.log
"$cli" import coverage.log >/dev/null
"$cli" stats | grep -E 'tile files|visited cells'

# "wall cpu maxrss_kb" of one run of "$@".
once() {
  local line wall user sys rss
  line=$(/usr/bin/time -f "%e %U %S %M" "$@" 2>&1 >/dev/null | tail -1)
  read -r wall user sys rss <<<"$line"
  echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }') $rss"
}
# The best (by wall time) of three runs of "$@".
best() {
  local best="" line
  for _ in 1 2 3; do
    line=$(once "$@")
    if [ -z "$best" ] || awk -v t="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(t < b) }'; then
      best="$line"
    fi
  done
  echo "$best"
}
show() {
  printf '%-24s %7s s wall %6s s cpu %8s KiB peak\n' "$1" "$2" "$3" "$4"
}

read -r cold_wall cold_cpu cold_rss <<<"$(once "$cli" places)"
read -r stats_wall stats_cpu stats_rss <<<"$(best "$cli" stats)"
read -r warm_wall warm_cpu warm_rss <<<"$(best "$cli" places)"
show "stats" "$stats_wall" "$stats_cpu" "$stats_rss"
show "places, cold index" "$cold_wall" "$cold_cpu" "$cold_rss"
show "places, warm index" "$warm_wall" "$warm_cpu" "$warm_rss"
awk -v w="$warm_wall" -v s="$stats_wall" -v wc="$warm_cpu" -v sc="$stats_cpu" 'BEGIN {
  printf "warm places / stats: %.2fx wall, %.2fx cpu (target: at most 2x)\n", w / s, wc / sc
}'
ls -l cache/roamgrid/places.idx | awk '{ printf "index cache: %.1f MB\n", $5 / 1e6 }'
"$cli" places | tail -n 4
