#!/usr/bin/env bash
# Each group of setup.sh holds what its tests run, and the demo's holds no
# more than the demo needs.
#   setup_groups.sh SETUP
set -euo pipefail
setup=$1
fail() { echo "FAIL: $*"; exit 1; }
list() { bash "$setup" --list "$@" | tr '\n' ' '; }
has() { # GROUP PACKAGE...
  local group=$1 p packages
  shift
  packages=" $(list "$group")"
  for p in "$@"; do
    case $packages in *" $p "*) ;; *) fail "the group '$group' lacks $p" ;; esac
  done
}
lacks() { # GROUP PACKAGE...
  local group=$1 p packages
  shift
  packages=" $(list "$group")"
  for p in "$@"; do
    case $packages in *" $p "*) fail "the group '$group' holds $p" ;; esac
  done
}

demo=(build-essential cmake libavformat-dev)
has demo "${demo[@]}"
lacks demo wine64 g++-mingw-w64-i686 qemu-user clang ffmpeg chromium
# all: the Windows builds and their runs, the emulated processors, the fuzzers, the test tools.
has all "${demo[@]}" g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb qemu-user gcc-multilib g++-multilib \
  clang libclang-rt-dev libgtest-dev ffmpeg chromium
has windows wine64 qemu-user
has fuzz clang
has compare mjpegtools valgrind mate-backgrounds python3-numpy
has test python3-numpy
lacks fuzz wine64
# Groups add up, and an unknown one is refused.
[ "$(list fuzz windows)" = "$(bash "$setup" --list fuzz windows demo | tr '\n' ' ')" ] || fail "groups do not add up"
if bash "$setup" --list nosuchgroup >/dev/null 2>&1; then fail "an unknown group was taken"; fi
echo "setup groups hold what their tests need"
