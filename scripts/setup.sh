#!/usr/bin/env bash
# Installs the Debian packages a command needs. Safe to run again: it only
# asks apt when something is missing.
#
#   bash scripts/setup.sh [GROUP ...]
#   bash scripts/setup.sh --list [GROUP ...]   print the packages, install nothing
#
#   demo      what scripts/demo.sh needs: the compiler, CMake and the
#             libraries of the velvane command (libpng, CLI11, and FFmpeg's
#             libavformat, libavcodec, libavutil and libswscale for media
#             files, found with pkg-config)
#   test      what the tests need: demo's, plus GoogleTest, Google Benchmark,
#             ffmpeg (the round trips through it, and the media files they
#             make), python3 with numpy (the clip maker of bench/motion-set
#             is tested), qemu-x86_64 (the kernel levels below this
#             processor's, emulated), SIMDe (the AVX-512 kernels checked
#             with their intrinsics emulated), Chromium (the report page, headless)
#             and man-db (the installed manual page; the Debian package is
#             made with dpkg-dev, which build-essential brings)
#   fuzz      demo's, plus clang with libFuzzer
#   windows   demo's, plus the mingw-w64 cross compilers, Wine with Xvfb to
#             run the Windows build, a Japanese font for the picture of its
#             settings window, and the 32-bit compilers and qemu-i386 for the
#             host that runs Velvane.auf
#   compare   what bench/compare needs: demo's, plus ffmpeg, gnuplot for the
#             plot, mjpegtools (yuvycsnoise, a peer of the dot pass in
#             bench/compare and bench/strength), the profilers the speed
#             work uses (perf, callgrind), and photographs for the scenes of
#             bench/composite and bench/motion-set (mate-backgrounds), and
#             numpy, which bench/motion-set renders and measures with
#   batch     what the tests of velvane batch need: test's, plus GNU parallel
#             and a Slurm cluster of one node the tests start themselves
#             (slurmctld, slurmd, the client commands, munge)
#   all       test, batch, fuzz and windows: everything scripts/test.sh runs
#
# Without a group: all.
set -euo pipefail

demo=(build-essential cmake ninja-build libcli11-dev libpng-dev zlib1g-dev pkg-config
      libavformat-dev libavcodec-dev libavutil-dev libswscale-dev)
test=(libgtest-dev libgmock-dev libbenchmark-dev ffmpeg python3 python3-numpy qemu-user libsimde-dev chromium man-db)
fuzz=(clang libclang-rt-dev)
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
         wine64 xvfb xauth imagemagick zip fonts-ipafont-gothic qemu-user gcc-multilib g++-multilib)
batch=(ffmpeg python3 parallel slurmctld slurmd slurm-client munge)
compare=(ffmpeg gnuplot-nox fonts-dejavu-core mjpegtools linux-perf valgrind mate-backgrounds python3-numpy)

list=0
if [ "${1:-}" = "--list" ]; then list=1; shift; fi
[ $# -gt 0 ] || set -- all
packages=("${demo[@]}")
for group in "$@"; do
  case "$group" in
    demo) ;;
    test) packages+=("${test[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    windows) packages+=("${windows[@]}") ;;
    compare) packages+=("${compare[@]}") ;;
    batch) packages+=("${test[@]}" "${batch[@]}") ;;
    all) packages+=("${test[@]}" "${batch[@]}" "${fuzz[@]}" "${windows[@]}") ;;
    *) echo "setup: unknown group '$group' (known: demo, test, batch, fuzz, windows, compare, all)" >&2; exit 2 ;;
  esac
done

if [ "$list" = 1 ]; then
  printf '%s\n' "${packages[@]}" | sort -u
  exit 0
fi

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
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
