#!/usr/bin/env bash
# Installs what building, running and testing Roamgrid needs on Debian 12,
# and only what is missing. Uses sudo when not run as root.
#   scripts/setup.sh          packages for building and running
#   scripts/setup.sh --test   also a decimal-comma locale for the number tests,
#                             gpsd with its clients for the live-receiver test,
#                             GDAL's tools that check exported GeoTIFFs, and
#                             gpsbabel, whose GeoJSON and TCX the import reads
#   scripts/setup.sh --bench  also Google Benchmark
#   scripts/setup.sh --fuzz   also clang for the fuzz targets
#   scripts/setup.sh --package  also the tools that build and check the
#                               Debian package (lintian, desktop-file-utils,
#                               appstream, dpkg-dev)
set -euo pipefail

packages=(build-essential cmake pkg-config qt6-base-dev libgl-dev libgtest-dev fonts-ipafont-gothic
  zlib1g-dev libexpat1-dev libnetcdf-dev gmt-gshhg-low gmt-gshhg-high rapidjson-dev libzip-dev
  libtiff-dev libgeotiff-dev libpng-dev libsqlite3-dev gmt-dcw libmicrohttpd-dev libjs-leaflet)
want_locale=0
for arg in "$@"; do
  case "$arg" in
    --test) packages+=(locales gpsd gpsd-clients gdal-bin gpsbabel chromium); want_locale=1 ;;
    --bench) packages+=(libbenchmark-dev python3) ;;
    --fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    --package) packages+=(dpkg-dev fakeroot file lintian desktop-file-utils appstream) ;;
    *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq -o DPkg::Lock::Timeout=600
  # Another apt run holding the lock is waited for rather than failed on.
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
    --no-install-recommends "${missing[@]}"
fi

# The number tests also run under a locale that writes a decimal comma.
if [ "$want_locale" -eq 1 ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ -f /etc/locale.gen ] && grep -q '^# *de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    as_root sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  elif [ -f /etc/locale.gen ] && ! grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  fi
  as_root locale-gen >/dev/null
fi
