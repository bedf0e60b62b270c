#!/usr/bin/env bash
# Installs what is needed, builds the command-line host and runs the built-in
# demo: a generated interlaced clip with noise and dot interference, filtered
# with the defaults; clips, before/after pictures and PSNR figures land in DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target velvane
./build/cli/velvane demo "${1:-out/demo}"
