#!/usr/bin/env bash
# Installs what is needed, builds everything (native, sanitizer and Windows
# cross builds) and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELVANE_SANITIZE=ON -DVELVANE_CROSS=OFF -DVELVANE_BENCH=OFF
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE nosan
