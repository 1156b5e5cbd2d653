#!/usr/bin/env bash
# Builds the release build with the benchmarks and runs each of them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
BUILD=${BUILD_DIR:-build/bench}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVALE_TESTS=ON -DDORVALE_BENCH=ON
cmake --build "$BUILD" -j "$(nproc)"
for b in "$BUILD"/bench/*_bench; do
  [ -x "$b" ] && "$b"
done
