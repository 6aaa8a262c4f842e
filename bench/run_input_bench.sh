#!/usr/bin/env bash
# Import of a compressed log and of a GPX track through roamgrid-cli,
# each beside its floor in the same run: `gzip -dc FILE > /dev/null` for
# the compressed log, a bare expat parse that only counts elements for the
# GPX track (and `wc -l` for the plain log). Wall time (best of three),
# their ratios, and the peak resident memory of every import (from
# /usr/bin/time -v). The store goes to tmpfs (/dev/shm) when there is one,
# so that the file system's cost does not hide the code's.
#
#   bench/run_input_bench.sh [SIZE_MB]    (default 200; the plain log's size)
#
# Uses build-bench/bin (Release, building roamgrid-cli and
# roamgrid_expat_count when missing). Inputs are written once into $TMPDIR
# (or /tmp) and reused.
set -euo pipefail
export LC_ALL=C
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
size_mb="${1:-200}"
bin="$root/build-bench/bin"
if [ ! -x "$bin/roamgrid-cli" ] || [ ! -x "$bin/roamgrid_expat_count" ]; then
  cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DROAMGRID_GUI=OFF \
    -DROAMGRID_TESTS=OFF -DROAMGRID_BENCH=ON >/dev/null
  cmake --build "$root/build-bench" -j2 --target roamgrid-cli roamgrid_expat_count >/dev/null
fi
tmp="${TMPDIR:-/tmp}"
log="$tmp/roamgrid-bench-nmea-drive-${size_mb}MB.log"
if [ ! -f "$log" ]; then
  python3 "$root/bench/make_nmea_log.py" --size-mb "$size_mb" --profile drive --output "$log.part"
  mv "$log.part" "$log"
fi
[ -f "$log.gz" ] || gzip -6 -c "$log" >"$log.gz"
gpx="${log%.log}.gpx"
[ -f "$gpx" ] || python3 "$root/bench/make_gpx_track.py" "$log" "$gpx"

store_base=/dev/shm
[ -d "$store_base" ] || store_base="$tmp"
store="$(mktemp -d "$store_base/roamgrid-bench-store-XXXXXX")"
trap 'rm -rf "$store"' EXIT
for f in "$log" "$log.gz" "$gpx"; do cat "$f" >/dev/null; done  # into the page cache

# Best wall time of three runs of "$@" (seconds) and the largest peak RSS
# (KiB), as "WALL RSS"; output of the command thrown away.
measure() {
  local best="" rss=0 t m
  for _ in 1 2 3; do
    rm -rf "$store/RGD"
    /usr/bin/time -f '%e %M' -o "$store/time" "$@" >/dev/null 2>&1
    read -r t m <"$store/time"
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best="$t"; fi
    [ "$m" -gt "$rss" ] && rss="$m"
  done
  echo "$best $rss"
}

read -r wc_t wc_m < <(measure wc -l "$log")
read -r plain_t plain_m < <(measure "$bin/roamgrid-cli" -C "$store" import "$log")
read -r gunzip_t gunzip_m < <(measure gzip -dc "$log.gz")
read -r gz_t gz_m < <(measure "$bin/roamgrid-cli" -C "$store" import "$log.gz")
read -r expat_t expat_m < <(measure "$bin/roamgrid_expat_count" "$gpx")
read -r gpx_t gpx_m < <(measure "$bin/roamgrid-cli" -C "$store" import "$gpx")
rm -rf "$store/RGD"
echo "plain: $("$bin/roamgrid-cli" -C "$store" import "$log")"
rm -rf "$store/RGD"
echo "gzip:  $("$bin/roamgrid-cli" -C "$store" import "$log.gz")"
rm -rf "$store/RGD"
echo "gpx:   $("$bin/roamgrid-cli" -C "$store" import "$gpx")"

awk -v sp="$(stat -c %s "$log")" -v sz="$(stat -c %s "$log.gz")" -v sg="$(stat -c %s "$gpx")" \
  -v wc="$wc_t" -v pl="$plain_t" -v gu="$gunzip_t" -v gz="$gz_t" -v ex="$expat_t" -v gp="$gpx_t" \
  -v plm="$plain_m" -v gzm="$gz_m" -v gpm="$gpx_m" 'BEGIN {
  printf "%-36s %8s %10s\n", "", "wall s", "peak MiB"
  printf "%-36s %8.2f\n", sprintf("wc -l (%.0f MB)", sp / 1e6), wc
  printf "%-36s %8.2f %10.1f\n", "import plain log", pl, plm / 1024
  printf "%-36s %8.2f\n", sprintf("gzip -dc > /dev/null (%.0f MB)", sz / 1e6), gu
  printf "%-36s %8.2f %10.1f\n", "import compressed log", gz, gzm / 1024
  printf "%-36s %8.2f\n", sprintf("expat element count (%.0f MB)", sg / 1e6), ex
  printf "%-36s %8.2f %10.1f\n", "import GPX track", gp, gpm / 1024
  printf "plain import / wc -l:       %5.2f\n", pl / wc
  printf "gzip import / gzip -dc:     %5.2f   (target <= 1.3)\n", gz / gu
  printf "GPX import / expat count:   %5.2f   (target <= 1.5)\n", gp / ex
}'
