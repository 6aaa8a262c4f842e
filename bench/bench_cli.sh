# Sourced by the CLI benchmarks, with `root` set to the source folder: sets
# `cli` to $ROAMGRID_CLI or the Release roamgrid-cli of build-cli-bench/,
# building it first when it is missing.
cli="${ROAMGRID_CLI:-$root/build-cli-bench/bin/roamgrid-cli}"
if [ ! -x "$cli" ]; then
  cmake -S "$root" -B "$root/build-cli-bench" -DCMAKE_BUILD_TYPE=Release -DROAMGRID_GUI=OFF \
    -DROAMGRID_TESTS=OFF >/dev/null
  cmake --build "$root/build-cli-bench" -j2 --target roamgrid-cli >/dev/null
fi
