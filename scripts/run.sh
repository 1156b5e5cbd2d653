#!/usr/bin/env bash
# Installs what is missing, builds the release build and starts the client in the console.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh >&2
BUILD=${BUILD_DIR:-build/release}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVALE_TESTS=OFF -DDORVALE_BENCH=OFF >&2
cmake --build "$BUILD" -j "$(nproc)" >&2
if [ -x "$BUILD/src/main/dorvale" ]; then
  exec "$BUILD/src/main/dorvale" "$@"
fi
echo "The client is not built yet: only the platform runtime exists so far."
