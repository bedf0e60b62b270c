#!/usr/bin/env bash
# The host's record layout is held by static_asserts in velvane/filter.h that
# apply to 32-bit builds. Proves that the i686 compiler of Velvane.auf keeps
# them (so that, Velvane.auf having compiled, they hold), and that the x86-64
# compiler, with its native pointer sizes, leaves them out.
#   layout_asserts.sh INCLUDE_DIR I686_CXX [X86_64_CXX]
set -u
include=$1
cxx32=$2
cxx64=${3:-}
asserts=("FrameJob layout is the host's" "HostServices entries are the host's"
         "descriptor spans 228 bytes" "descriptor offsets are the host's")

kept() { # compiler -> the asserts it compiles, one a line
    printf '#include "velvane/filter.h"\n' |
        "$1" -std=c++17 -E -P -x c++ -I"$include" - | grep -oF "${asserts[@]/#/-e}" | sort -u
}

found=$(kept "$cxx32")
for a in "${asserts[@]}"; do
    if ! grep -qxF "$a" <<<"$found"; then
        echo "FAIL: the i686 build does not compile the layout static_assert \"$a\""
        exit 1
    fi
done
echo "i686: all ${#asserts[@]} layout static_asserts of filter.h are compiled in"
if [ -n "$cxx64" ]; then
    found=$(kept "$cxx64")
    if [ -n "$found" ]; then
        echo "FAIL: the x86-64 build compiles the 32-bit layout asserts: $found"
        exit 1
    fi
    echo "x86-64: the 32-bit layout asserts are left out"
fi
