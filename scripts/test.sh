#!/usr/bin/env bash
# Installs what is needed, builds everything (native, sanitizer, Windows cross
# and fuzz builds), runs the tests in the normal and the sanitizer build, then
# fuzzes each target for a bounded time (VELVANE_FUZZ_SECONDS, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer (the
# Windows builds' checks run under Wine in the normal build only).
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

bash scripts/fuzz.sh
