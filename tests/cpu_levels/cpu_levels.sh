#!/usr/bin/env bash
# The kernel levels below this processor's, emulated.
#   cpu_levels.sh QEMU VELVANE CHECKASM LIBRARY_TESTS
# On each emulated processor (one with AVX2 and no AVX-512, one at the SSE2
# level) velvane --version names the level it gets, checkasm and the
# library's tests pass, and velvane filters an NTSC and a PAL clip (dot pass
# on; fixed and automatic strength) to the bytes of this processor's own
# run. Natively, every --cpu-mask level gives those bytes too.
set -euo pipefail
qemu=$1 velvane=$2 checkasm=$3 library_tests=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }

# Short clips with grain and colour edges (where dots crawl), each field order.
ffmpeg -v error -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -vf "noise=alls=12:allf=t,setfield=bff" \
  -frames:v 6 -pix_fmt yuv422p ntsc.y4m
ffmpeg -v error -f lavfi -i "testsrc2=size=720x576:rate=25" -vf "noise=alls=12:allf=t,setfield=tff" \
  -frames:v 6 -pix_fmt yuv422p pal.y4m
# A small one for the averaging along the motion, whose work grows with the radius.
ffmpeg -v error -f lavfi -i "testsrc2=size=352x288:rate=25" -vf "noise=alls=12:allf=t,setfield=tff" \
  -frames:v 6 -pix_fmt yuv422p cif.y4m

# filter NAME [RUNNER ...] -- [OPTION ...]: every clip at both strengths, and the small one averaged
# along the motion, into NAME-*.y4m
filter() {
  local name=$1 runner=() options=()
  shift
  while [ "$1" != -- ]; do runner+=("$1"); shift; done
  shift
  options=("$@")
  for clip in ntsc pal; do
    # PAL's fixed run: thresholds of their own where the picture moves, so
    # that each row goes to the averaging kernel in runs of segments.
    local fixed=()
    [ "$clip" = pal ] && fixed=(--luma-high 30 --moving 2,3,1)
    "${runner[@]}" "$velvane" -q --threads 2 ${options[@]+"${options[@]}"} ${fixed[@]+"${fixed[@]}"} "$clip.y4m" \
      "$name-$clip-default.y4m"
    "${runner[@]}" "$velvane" -q --threads 2 ${options[@]+"${options[@]}"} --strength auto "$clip.y4m" \
      "$name-$clip-auto.y4m"
  done
  # The averaging along the motion: its search, compensation and weighting kernels.
  "${runner[@]}" "$velvane" -q --threads 2 ${options[@]+"${options[@]}"} --mc-radius 2 cif.y4m "$name-cif-mc.y4m"
}
# same NAME: its frames are this processor's own
same() {
  local f
  for f in host-*.y4m; do
    cmp -s "$f" "$1-${f#host-}" || fail "$1: ${f#host-} differs from this processor's own run"
  done
  echo "$1: the same bytes as this processor's own run"
}

filter host env --
"$velvane" --version | grep '^kernels:'
cmp -s host-ntsc-default.y4m ntsc.y4m && fail "the filter left the NTSC clip as it was"
for level in c sse2 avx2; do
  filter "mask-$level" env -- --cpu-mask "$level"
  same "mask-$level"
done

# Each emulated processor: the level it must get, and one it must not.
for model in max:AVX2:avx512 Nehalem:SSE2:avx2; do
  IFS=: read -r cpu level above <<<"$model"
  run=("$qemu" -cpu "$cpu")
  got=$("${run[@]}" "$velvane" --version | grep '^kernels:')
  echo "$cpu: $got"
  case $got in "kernels: $level "* | "kernels: $level;"*) ;; *) fail "$cpu: expected $level kernels" ;; esac
  all=$("${run[@]}" "$velvane" --cpu-mask all --version | grep '^kernels:')
  [ "$all" = "$got" ] || fail "$cpu: --cpu-mask all gives '$all'"
  log=checkasm-$cpu.log
  "${run[@]}" "$checkasm" >"$log" 2>&1 || { cat "$log"; fail "$cpu: checkasm"; }
  grep -q "checkasm: $above not available here, skipped" "$log" ||
    { cat "$log"; fail "$cpu: checkasm ran ${above} kernels"; }
  tail -1 "$log"
  log=library-$cpu.log
  "${run[@]}" "$library_tests" --gtest_brief=1 >"$log" 2>&1 || { cat "$log"; fail "$cpu: the library's tests"; }
  tail -1 "$log"
  filter "$cpu" "${run[@]}" --
  same "$cpu"
done
