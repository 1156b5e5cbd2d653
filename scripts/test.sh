#!/usr/bin/env bash
# Installs what is missing, checks the include order, builds the sanitizer build and runs every
# test, then runs the tests of threaded code again under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
python3 tools/check_includes.py
BUILD=${BUILD_DIR:-build/asan}
TSAN_BUILD=${TSAN_BUILD_DIR:-build/tsan}
JOBS=${JOBS:-$(nproc)}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDORVALE_SANITIZE=ON -DDORVALE_BENCH=OFF
cmake --build "$BUILD" -j "$JOBS"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" --timeout 300

cmake -S . -B "$TSAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDORVALE_TSAN=ON -DDORVALE_BENCH=OFF
cmake --build "$TSAN_BUILD" -j "$JOBS" --target tsan_tests
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}:suppressions=$PWD/tools/tsan.supp"
ctest --test-dir "$TSAN_BUILD" --output-on-failure -j "$JOBS" --timeout 300

