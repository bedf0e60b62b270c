#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzzing (clang with
# libFuzzer), the Windows cross builds and the comparison need (a Japanese
# font, so that the Windows test host's picture of the settings window shows
# the Shift-JIS labels).
# Safe to run again: it only asks apt when something is missing.
# Optional groups, named as arguments, add packages only some commands need:
#   compare   the plot of bench/compare (gnuplot), mjpegtools (yuvycsnoise, a
#             peer of the dot pass in bench/compare and bench/strength) and the
#             profilers the speed work uses (perf, valgrind's callgrind)
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libpng-dev zlib1g-dev
  ffmpeg
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb xauth imagemagick zip
  fonts-ipafont-gothic
  python3
)

for group in "$@"; do
  case "$group" in
    compare) packages+=(gnuplot-nox fonts-dejavu-core mjpegtools linux-perf valgrind) ;;
    *) echo "setup: unknown group '$group' (known: compare)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
