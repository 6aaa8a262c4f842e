#!/usr/bin/env bash
# Installs what is missing, builds Roamgrid for installation (Release, with
# Debian's hardening flags, no tests) in build-package/, writes the Debian
# package dist/roamgrid_<version>_<arch>.deb and checks it: lintian (no
# errors allowed; warnings are shown), desktop-file-validate on its menu
# entry and appstreamcli on its metainfo. Fails when a check fails.
#   scripts/package.sh
# Install it with:  apt install ./dist/roamgrid_*.deb
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh" --package

build="$root/build-package"
dist="$root/dist"
# The flags Debian builds its own packages with (hardening: PIE, RELRO and
# immediate binding, fortified functions, stack protector).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
export CPPFLAGS="$(dpkg-buildflags --get CPPFLAGS)"
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
rm -rf "$build/cpack"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DROAMGRID_GUI=ON -DROAMGRID_TESTS=OFF -DROAMGRID_BENCH=OFF -DROAMGRID_FUZZ=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target roamgrid roamgrid-cli roamgrid_icons roamgrid_docs
(cd "$build" && cpack -G DEB >/dev/null)

debs=("$build"/cpack/roamgrid_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package.sh: expected one package in $build/cpack" >&2
  exit 1
fi
mkdir -p "$dist"
deb="$dist/$(basename "${debs[0]}")"
rm -f "$dist"/roamgrid_*.deb
cp "${debs[0]}" "$deb"

echo "== lintian"
# Errors fail the build; the one remaining warning is explained in README.md.
lintian --tag-display-limit 0 --fail-on error "$deb"

echo "== desktop-file-validate and appstreamcli validate"
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml

echo "== no run path in the programs and plugins; the plugins found from the programs"
plugins=("$unpacked"/usr/lib/*/roamgrid/libroamgrid-*.so)
for file in "$unpacked"/usr/bin/* "${plugins[@]}"; do
  if readelf -d "$file" | grep -qE '\((RPATH|RUNPATH)\)'; then
    echo "package.sh: $file carries a run path" >&2
    exit 1
  fi
done
for name in netcdf geotiff zip http; do
  if [ ! -f "$(dirname "${plugins[0]}")/libroamgrid-$name.so" ]; then
    echo "package.sh: libroamgrid-$name.so is not in the package" >&2
    exit 1
  fi
done
# The packaged layout: the CLI loads the GeoTIFF writer and libzip from
# ../lib/<arch>/roamgrid beside it.
mkdir "$unpacked/store"
"$unpacked/usr/bin/roamgrid-cli" -C "$unpacked/store" export check.tif >/dev/null
"$unpacked/usr/bin/roamgrid-cli" -C "$unpacked/store" export check.kmz >/dev/null

echo "$deb"
