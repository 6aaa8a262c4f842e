#!/usr/bin/env bash
# Installs what is missing, builds the desktop program and roamgrid-cli in
# build/bin/ and starts the desktop program in the current working
# directory, where the store (RGD/) and Roamgrid.cfg live. Arguments go to
# the program (-C DIR, --user-store: see roamgrid --help).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROAMGRID_GUI=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target roamgrid roamgrid-cli
exec "$root/build/bin/roamgrid" "$@"
