#!/usr/bin/env bash
# Velvane.auf under the 32-bit test host, in qemu-i386.
#
#   auf32.sh QEMU HOST MODULE loader
#   auf32.sh QEMU HOST MODULE run CPU AVX2 STACK X87 OUT REFERENCE
#
# `run` lets the host play one session on the emulated processor CPU with the
# stack pointer at STACK modulo 16 at every call into the module and the x87
# unit at X87 bits of precision, then has
# REFERENCE (velvane_reference_frames) compare its frames and settings window
# calls with the native module's. Files: OUT.frames, OUT.calls, OUT.native.
set -u
qemu=$1 host=$2 module=$3 mode=$4
case $mode in
loader)
    exec "$qemu" "$host" loader-tests "$module"
    ;;
run)
    cpu=$5 avx2=$6 stack=$7 x87=$8 out=$9 reference=${10}
    # Old results must not stand in for a run that did not happen.
    rm -f "$out.frames" "$out.calls"
    "$qemu" -cpu "$cpu" "$host" run "$module" --stack "$stack" --avx2 "$avx2" --x87 "$x87" \
        "$out.frames" "$out.calls" || exit 1
    "$reference" "$out.native" "$out.frames" "$out.calls"
    rc=$?
    # The host ran, so there are frames to compare: no skipping here.
    [ $rc -eq 77 ] && exit 1
    exit $rc
    ;;
*)
    echo "usage: $0 QEMU HOST MODULE loader|run ..." >&2
    exit 2
    ;;
esac
