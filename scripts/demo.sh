#!/usr/bin/env bash
# Installs what the demo needs (the compiler, CMake and the command's
# libraries, nothing for the tests or the Windows builds), builds the
# command-line host and runs the built-in demo: a generated interlaced clip
# with noise and dot interference, filtered with the defaults; clips,
# before/after pictures, PSNR figures and a report page land in DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh demo
# Without the tests, benchmarks and Windows builds, which need packages the
# demo does not install; the default preset turns them on again.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELVANE_TESTS=OFF -DVELVANE_BENCH=OFF -DVELVANE_CROSS=OFF
cmake --build build -j "$(nproc)" --target velvane
dir=${1:-out/demo}
./build/cli/velvane demo "$dir"
# The page on a run: the noisy clip again, with automatic strength and the dot
# pass, into FFV1 in Matroska.
./build/cli/velvane -q --strength auto --report "$dir/report.html" "$dir/noisy.y4m" "$dir/filtered-auto.mkv"
echo "report: $dir/report.html"
