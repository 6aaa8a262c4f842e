#!/usr/bin/env bash
# The desktop program's start time with and without the map background:
# from the start of `roamgrid` to its window being mapped (viewable), the
# median of RUNS starts each way, under a window manager on an X server.
#   xvfb-run -a -s '-screen 0 1024x768x24' bash bench/run_start_bench.sh build-test/bin/roamgrid
set -euo pipefail
program="$(realpath "${1:?the roamgrid binary}")"
runs="${RUNS:-15}"
scratch="$(mktemp -d)"
trap 'kill "${wm:-}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -m 700 "$scratch/run"
openbox >/dev/null 2>&1 & wm=$!
sleep 1
# Tokyo Bay at 3.2 degrees: the widest view, the most background.
printf 'LAT: 13600\r\nLON: 55520\r\nSKP: 7\r\n' >"$scratch/Roamgrid.cfg"

start_ms() {  # prints the milliseconds until the window is viewable
  local begin end
  begin=$(date +%s%N)
  "$program" -C "$scratch" --background "$1" & local pid=$!
  until xwininfo -name Roamgrid 2>/dev/null | grep -q 'IsViewable'; do sleep 0.002; done
  end=$(date +%s%N)
  kill "$pid"; wait "$pid" 2>/dev/null || true
  echo $(((end - begin) / 1000000))
}

# The two ways alternate, so that other work on the machine weighs on both alike.
none=()
coast=()
for ((i = 0; i < runs; i++)); do
  none+=("$(start_ms none)")
  coast+=("$(start_ms coast)")
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$(($# / 2 + 1))p"; }
echo "--background none:  median $(median "${none[@]}") ms to a mapped window (${none[*]})"
echo "--background coast: median $(median "${coast[@]}") ms to a mapped window (${coast[*]})"

