#!/usr/bin/env bash
# The library as a program outside the tree sees it: `cmake --install` into a
# temporary prefix, then the guide's example built against that copy with
# pkg-config and with find_package (each with the shared library, and the
# pkg-config one also with the static archive); every build must filter a
# small clip to the same bytes as the example built in the tree.
#   install_test.sh BUILD_DIR EXAMPLE_SOURCE IN_TREE_EXAMPLE
set -euo pipefail
build=$1 source=$2 reference=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig

cc -Wall -Werror "$source" $(pkg-config --cflags --libs velvane) -Wl,-rpath,"$prefix/lib" -o "$work/with-pc"
cc -Wall -Werror "$source" $(pkg-config --cflags velvane) "$prefix/lib/libvelvane.a" \
   $(pkg-config --libs-only-other --static velvane) -lstdc++ -lm -lpthread -o "$work/with-archive"
if ldd "$work/with-archive" | grep -q libvelvane; then
  echo "install_test: the static build still loads libvelvane.so" >&2; exit 1
fi

mkdir "$work/project"
cp "$source" "$work/project/example.c"
cat > "$work/project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(uses_velvane C)
find_package(velvane 0.1 REQUIRED)
add_executable(example example.c)
target_link_libraries(example PRIVATE velvane::velvane)
set_target_properties(example PROPERTIES BUILD_RPATH_USE_ORIGIN OFF)
CMAKE
cmake -S "$work/project" -B "$work/project/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/project/build" >/dev/null

# Six 64 x 32 frames of 8-bit 4:2:2 with a pattern that moves.
python3 - "$work/in.yuv" <<'PY'
import sys
w, h, out = 64, 32, bytearray()
for n in range(6):
    out += bytes((16 + (x * 3 + y * 5 + n * 7) % 219) for y in range(h) for x in range(w))
    out += bytes((128 + ((x + n) % 9) * 4) for _ in range(2) for y in range(h) for x in range(w // 2))
open(sys.argv[1], "wb").write(out)
PY
"$reference" 64 32 < "$work/in.yuv" > "$work/reference.yuv"
[ "$(stat -c %s "$work/reference.yuv")" -eq "$(stat -c %s "$work/in.yuv")" ]
for p in "$work/with-pc" "$work/with-archive" "$work/project/build/example"; do
  "$p" 64 32 < "$work/in.yuv" | cmp - "$work/reference.yuv"
done
# Settings by the library's description: a switch by either of its names, and
# automatic strength telling what it measured.
"$work/with-pc" 64 32 no-dot=1 < "$work/in.yuv" > "$work/no-dot.yuv"
"$work/with-pc" 64 32 dot_removal=0 < "$work/in.yuv" | cmp - "$work/no-dot.yuv"
! cmp -s "$work/no-dot.yuv" "$work/reference.yuv"
"$work/with-pc" 64 32 strength=auto < "$work/in.yuv" 2> "$work/auto.txt" > /dev/null
grep -q "frame 0: noise" "$work/auto.txt"
if "$work/with-pc" 64 32 no-such=1 < /dev/null 2>/dev/null; then exit 1; fi
echo "install_test: pkg-config, the static archive and find_package all build and filter alike"
