#!/usr/bin/env bash
# Bounded fuzzing of every libFuzzer target, side by side, each for
# VELVANE_FUZZ_SECONDS (default 60). Each starts from its seed corpus and the
# inputs that once broke something; what it learns stays in
# build-fuzz/corpus/. A crash, a hang or an oversized allocation fails the
# run, and the input is copied into fuzz/regressions/<target>/, where the
# replay tests of the normal and sanitizer builds run it from then on.
#   scripts/fuzz.sh [target ...]     (targets: y4m stream frame_call media; all by default)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${VELVANE_FUZZ_SECONDS:-60}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do t=${f#fuzz/fuzz_}; targets+=("${t%.cpp}"); done
fi

command -v clang++ >/dev/null || bash scripts/setup.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

run() {
  local t=$1 work=build-fuzz/corpus/$1 art=build-fuzz/artifacts/$1/
  mkdir -p "$work" "$art"
  # -malloc_limit_mb: no single allocation may exceed 256 MiB (the largest
  # frame the command takes is a few MiB), so a header that claims a huge
  # frame fails here instead of being allocated.
  build-fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=30 -malloc_limit_mb=256 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$art" "$work" fuzz/corpus/"$t" fuzz/regressions/"$t" \
    > build-fuzz/fuzz_"$t".log 2>&1
}

pids=()
for t in "${targets[@]}"; do
  [ -f fuzz/fuzz_"$t".cpp ] || { echo "fuzz: no target '$t'" >&2; exit 2; }
  rm -rf build-fuzz/artifacts/"$t"
  run "$t" & pids+=($!)
done

status=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  log=build-fuzz/fuzz_$t.log
  if wait "${pids[$i]}"; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    corpus=$(grep -o 'corp: [0-9]*/[0-9a-zA-Z]*' "$log" | tail -1 | cut -d' ' -f2)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    echo "fuzz: $t: ${execs:-?} executions in ${seconds} s, corpus ${corpus:-?} (units/bytes), ${cov:-?} edges covered"
  else
    status=1
    echo "fuzz: $t FAILED; the end of its log ($log):" >&2
    tail -n 60 "$log" >&2
    for f in build-fuzz/artifacts/"$t"/*; do
      [ -f "$f" ] || continue
      cp "$f" fuzz/regressions/"$t"/
      echo "fuzz: kept $(basename "$f") as fuzz/regressions/$t/$(basename "$f") (base64 below, to keep it from CI)" >&2
      base64 -w 0 "$f" >&2; echo >&2
    done
  fi
done
exit $status
