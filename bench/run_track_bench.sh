#!/usr/bin/env bash
# Import of a generated location history (Records.json) and of generated
# FIT files through roamgrid-cli, each beside its floor in the same run: a
# bare RapidJSON SAX parse with the importer's flags, and a plain read of
# the FIT file. Processor time (user + system, best of three: the wall time
# of a shared machine says more of its other users), their ratios, and the
# peak resident memory of every import (from /usr/bin/time). The store
# goes to tmpfs (/dev/shm) when there is one.
#
#   bench/run_track_bench.sh [JSON_MB [FIT_MB]]    (default 1024 and 256)
#
# Uses build-bench/bin (Release). Inputs are written once into $TMPDIR (or
# /tmp) and reused; they are never part of the tree.
set -euo pipefail
export LC_ALL=C
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
json_mb="${1:-1024}"
fit_mb="${2:-256}"
bin="$root/build-bench/bin"
if [ ! -x "$bin/roamgrid-cli" ] || [ ! -x "$bin/roamgrid_track_floor" ]; then
  cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DROAMGRID_GUI=OFF \
    -DROAMGRID_TESTS=OFF -DROAMGRID_BENCH=ON >/dev/null
  cmake --build "$root/build-bench" -j2 --target roamgrid-cli roamgrid_track_floor >/dev/null
fi
tmp="${TMPDIR:-/tmp}"
json="$tmp/roamgrid-bench-Records-${json_mb}MB.json"
fit="$tmp/roamgrid-bench-${fit_mb}MB.fit"
[ -f "$json" ] || { "$bin/roamgrid_track_floor" records "$json.part" "$json_mb" && mv "$json.part" "$json"; }
[ -f "$fit" ] || { "$bin/roamgrid_track_floor" fit "$fit.part" "$fit_mb" && mv "$fit.part" "$fit"; }

store_base=/dev/shm
[ -d "$store_base" ] || store_base="$tmp"
store="$(mktemp -d "$store_base/roamgrid-bench-store-XXXXXX")"
trap 'rm -rf "$store"' EXIT
for f in "$json" "$fit"; do cat "$f" >/dev/null; done  # into the page cache

measure() {
  local best="" rss=0 t u s m
  for _ in 1 2 3; do
    rm -rf "$store/RGD"
    /usr/bin/time -f '%U %S %M' -o "$store/time" "$@" >/dev/null 2>&1
    read -r u s m <"$store/time"
    t="$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')"
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best="$t"; fi
    [ "$m" -gt "$rss" ] && rss="$m"
  done
  echo "$best $rss"
}

read -r sax_t sax_m < <(measure "$bin/roamgrid_track_floor" sax "$json")
read -r json_t json_m < <(measure "$bin/roamgrid-cli" -C "$store" import --max-accuracy 0 "$json")
read -r read_t read_m < <(measure "$bin/roamgrid_track_floor" read "$fit")
read -r fit_t fit_m < <(measure "$bin/roamgrid-cli" -C "$store" import "$fit")
rm -rf "$store/RGD"
echo "json: $("$bin/roamgrid-cli" -C "$store" import "$json" | head -1)"
rm -rf "$store/RGD"
echo "fit:  $("$bin/roamgrid-cli" -C "$store" import "$fit" | head -1)"

awk -v sj="$(stat -c %s "$json")" -v sf="$(stat -c %s "$fit")" -v sx="$sax_t" -v jt="$json_t" \
  -v rd="$read_t" -v ft="$fit_t" -v jm="$json_m" -v fm="$fit_m" -v sm="$sax_m" 'BEGIN {
  printf "%-36s %8s %10s\n", "", "cpu s", "peak MiB"
  printf "%-36s %8.2f %10.1f\n", sprintf("bare SAX parse (%.0f MB)", sj / 1e6), sx, sm / 1024
  printf "%-36s %8.2f %10.1f\n", "import Records.json", jt, jm / 1024
  printf "%-36s %8.2f\n", sprintf("plain read (%.0f MB)", sf / 1e6), rd
  printf "%-36s %8.2f %10.1f\n", "import FIT", ft, fm / 1024
  printf "JSON import / bare SAX:     %5.2f   (target <= 1.4)\n", jt / sx
  printf "FIT import / plain read:    %5.2f   (target <= 2)\n", ft / rd
}'
