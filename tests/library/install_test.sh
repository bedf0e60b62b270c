#!/usr/bin/env bash
# The library and the command as a user outside the tree gets them:
# `cmake --install` into a temporary prefix, then the guide's example built
# against that copy with pkg-config and with find_package (each with the
# shared library, and the pkg-config one also with the static archive); every
# build must filter a small clip to the same bytes as the example built in
# the tree. The installed velvane filters the clip to the bytes of the
# build's, and its manual page opens with `man` and names every option of
# --help. Then `cpack -G DEB` makes the Debian package: its control fields,
# a dependency on the package of every library the command loads, its files,
# and the command run from it.
#   install_test.sh BUILD_DIR EXAMPLE_SOURCE IN_TREE_EXAMPLE IN_TREE_VELVANE
set -euo pipefail
build=$1 source=$2 reference=$3 tree_velvane=$4
for tool in man dpkg-shlibdeps; do
  command -v "$tool" >/dev/null ||
    exec sh "$(dirname "$0")/../support/missing_tool.sh" "$tool not found (man-db, dpkg-dev)" test
done
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

# Six 64 x 32 frames of 8-bit 4:2:2 with a pattern that moves, raw and as
# YUV4MPEG2.
python3 - "$work/in.yuv" "$work/in.y4m" <<'PY'
import sys
w, h, raw, y4m = 64, 32, bytearray(), bytearray(b"YUV4MPEG2 W64 H32 F30000:1001 Ib A10:11 C422\n")
for n in range(6):
    frame = bytes((16 + (x * 3 + y * 5 + n * 7) % 219) for y in range(h) for x in range(w))
    frame += bytes((128 + ((x + n) % 9) * 4) for _ in range(2) for y in range(h) for x in range(w // 2))
    raw += frame
    y4m += b"FRAME\n" + frame
open(sys.argv[1], "wb").write(raw)
open(sys.argv[2], "wb").write(y4m)
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

fail() { echo "install_test: $*" >&2; exit 1; }
version=$("$prefix/bin/velvane" --version | sed -n '1s/^velvane //p')
[ -n "$version" ] || fail "the installed velvane gives no version"
"$prefix/bin/velvane" -q --strength custom "$work/in.y4m" "$work/installed.y4m"
"$tree_velvane" -q --strength custom "$work/in.y4m" "$work/tree.y4m"
cmp "$work/installed.y4m" "$work/tree.y4m"
! cmp -s "$work/installed.y4m" "$work/in.y4m" || fail "the installed velvane left the clip as it was"

# Wide enough that no option is broken over two lines.
MANPATH=$prefix/share/man MANWIDTH=1000 man velvane >"$work/man.txt" 2>/dev/null || fail "man velvane finds no page"
grep -q "velvane - reduce noise" "$work/man.txt" || fail "the manual page has no NAME line"
grep -q "^velvane $version" <(tail -1 "$work/man.txt" | sed 's/^ *//') || fail "the manual page is not of version $version"
for option in $({ "$prefix/bin/velvane" --help; "$prefix/bin/velvane" demo --help; } |
                grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u); do
  grep -qF -- "$option" "$work/man.txt" || fail "the manual page does not mention $option"
done

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(echo "$work"/deb/velvane_*.deb)
[ -f "$deb" ] || fail "cpack made no velvane_*.deb"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = velvane ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "no Maintainer or Description"
# Each library the command loads, by the Debian package that has it.
depends=" $(field Depends | sed 's/([^)]*)//g; s/[,|]/ /g') "
for soname in $(objdump -p "$prefix/bin/velvane" | awk '$1 == "NEEDED" {print $2}'); do
  # The copy it loads (x86_64-linux-gnu/libstdc++.so.6, not lib32's).
  path=$(ldd "$prefix/bin/velvane" | awk -v s="$soname" '$1 == s {print $3} index($1, "/" s) {print $1}')
  package=$(dpkg -S "*/$(basename "$(dirname "$path")")/$soname" | sed -n '1s/[:,].*//p')
  [ -n "$package" ] || fail "no package has $soname"
  [[ $depends == *" $package "* ]] || fail "Depends ($(field Depends)) lacks $package, which has $soname"
done
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
for f in ./usr/bin/velvane ./usr/share/man/man1/velvane.1.gz ./usr/share/doc/velvane/copyright \
         ./usr/lib/libvelvane.so.0 ./usr/lib/libvelvane.a ./usr/include/velvane/velvane.h ./usr/lib/pkgconfig/velvane.pc; do
  grep -qxF "$f" "$work/contents" || fail "the package lacks $f"
done
dpkg-deb -x "$deb" "$work/root"
"$work/root/usr/bin/velvane" -q --strength custom "$work/in.y4m" "$work/packaged.y4m"
cmp "$work/packaged.y4m" "$work/tree.y4m"
echo "install_test: pkg-config, the static archive and find_package all build and filter alike;" \
     "the installed and the packaged velvane filter as the build's, and man velvane opens"
