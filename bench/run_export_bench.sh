#!/usr/bin/env bash
# Region export against `roamgrid-cli stats` on a store of about 10^6
# visited cells (walks over 0.5 x 0.5 degree, about a hundred tiles, from
# bench/make_coverage_log.py): wall and CPU seconds (best of three) and peak
# memory (maximum resident set, /usr/bin/time -v) of GeoJSON and GeoTIFF
# exports of a region holding all of them, and their ratios to stats.
#
#   bench/run_export_bench.sh [FIXES]      (default 1050000)
#
# Uses build-cli-bench/bin/roamgrid-cli (or $ROAMGRID_CLI), building it in
# Release mode when missing.
set -euo pipefail
export LC_ALL=C
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fixes="${1:-1050000}"
source "$root/bench/bench_cli.sh"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$root/bench/make_coverage_log.py" --fixes "$fixes" --output coverage.log
"$cli" import coverage.log >/dev/null
"$cli" stats | grep -E 'tile files|visited cells'
box=35.4,139.4,35.9,139.9

# "wall cpu maxrss_kb" of the best (by wall time) of three runs of "$@".
measure() {
  local best="" line
  for _ in 1 2 3; do
    line=$(/usr/bin/time -f "%e %U %S %M" "$@" 2>&1 >/dev/null | tail -1)
    read -r wall user sys rss <<<"$line"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    if [ -z "$best" ] || awk -v t="$wall" -v b="${best%% *}" 'BEGIN { exit !(t < b) }'; then
      best="$wall $cpu $rss"
    fi
  done
  echo "$best"
}

read -r stats_wall stats_cpu stats_rss <<<"$(measure "$cli" stats)"
printf '%-28s %7s s wall %6s s cpu %7s KiB peak\n' "stats" "$stats_wall" "$stats_cpu" "$stats_rss"
for run in "geojson:all.geojson" "geotiff zoom 0:all.tif" "geotiff zoom 1:--zoom 1 all.tif" \
           "geotiff zoom 2:--zoom 2 all.tif"; do
  name=${run%%:*}
  read -r -a args <<<"${run#*:}"
  read -r wall cpu rss <<<"$(measure "$cli" export --overwrite --bbox "$box" "${args[@]}")"
  printf '%-28s %7s s wall %6s s cpu %7s KiB peak   %5.1fx stats (wall)\n' "$name" "$wall" "$cpu" \
    "$rss" "$(awk -v a="$wall" -v b="$stats_wall" 'BEGIN { print a / b }')"
done
ls -l all.geojson | awk '{ printf "GeoJSON size: %.1f MB\n", $5 / 1e6 }'
