#!/usr/bin/env bash
# The desktop program's start time with and without the map background:
# from the start of `roamgrid` to its window being mapped (viewable), the
# median of RUNS starts each way, under a window manager on an X server,
# with the shared libraries the process holds at that moment (the netCDF
# library and what it pulls in are loaded only to draw the background).
# Given a second, older binary, it runs in the same rounds for a
# before-and-after comparison.
#   xvfb-run -a -s '-screen 0 1024x768x24' bash bench/run_start_bench.sh build-test/bin/roamgrid [OLD]
set -euo pipefail
programs=("$(realpath "${1:?the roamgrid binary}")")
if [ $# -ge 2 ]; then programs+=("$(realpath "$2")"); fi
runs="${RUNS:-15}"
scratch="$(mktemp -d)"
trap 'kill "${wm:-}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -m 700 "$scratch/run"
openbox >/dev/null 2>&1 & wm=$!
sleep 1
# Tokyo Bay at 3.2 degrees: the widest view, the most background.
printf 'LAT: 13600\r\nLON: 55520\r\nSKP: 7\r\n' >"$scratch/Roamgrid.cfg"

# Prints the milliseconds until the window is viewable and the number of
# shared libraries mapped then.
start() {
  local begin end
  begin=$(date +%s%N)
  "$1" -C "$scratch" --background "$2" & local pid=$!
  until xwininfo -name Roamgrid 2>/dev/null | grep -q 'IsViewable'; do sleep 0.002; done
  end=$(date +%s%N)
  sleep 0.3  # the first paint, with its background, follows the mapping
  local libs
  libs=$(grep -o '/[^ ]*\.so[.0-9]*$' "/proc/$pid/maps" | sort -u | wc -l)
  kill "$pid"; wait "$pid" 2>/dev/null || true
  echo "$(((end - begin) / 1000000)) $libs"
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$(($# / 2 + 1))p"; }

# The ways alternate, so that other work on the machine weighs on all alike.
declare -A times libs
for ((i = 0; i < runs; i++)); do
  for p in "${!programs[@]}"; do
    for mode in none coast; do
      read -r ms count < <(start "${programs[$p]}" "$mode")
      times[$p.$mode]+="$ms "
      libs[$p.$mode]=$count
    done
  done
done
echo "load $(cut -d' ' -f1 /proc/loadavg)"
for p in "${!programs[@]}"; do
  for mode in none coast; do
    # shellcheck disable=SC2086
    echo "${programs[$p]} --background $mode: median $(median ${times[$p.$mode]}) ms to a mapped" \
      "window, ${libs[$p.$mode]} shared libraries (${times[$p.$mode]% })"
  done
done
