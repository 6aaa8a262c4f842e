#!/usr/bin/env bash
# Installs what is missing, builds Roamgrid and starts the desktop program in
# the current working directory, where the store (RGD/) and Roamgrid.cfg live.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROAMGRID_GUI=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target roamgrid
exec "$root/build/bin/roamgrid" "$@"
