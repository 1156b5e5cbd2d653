#!/usr/bin/env bash
# Installs what is missing, builds the release build and starts the client in the console. Any
# arguments (a script file) go to the client and are read from the caller's directory.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
bash "$ROOT/scripts/deps.sh" >&2
BUILD=${BUILD_DIR:-$ROOT/build/release}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVALE_TESTS=OFF -DDORVALE_BENCH=OFF >&2
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target dorvale >&2
exec "$BUILD/src/main/dorvale" "$@"
