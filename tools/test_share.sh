#!/usr/bin/env bash
# Prints the non-blank lines of .h/.cpp files under tests/ against those under src/.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { find "$1" \( -name '*.h' -o -name '*.cpp' \) -print0 | xargs -0 cat | grep -c '[^[:space:]]'; }
tests=$(count tests)
src=$(count src)
awk -v t="$tests" -v s="$src" 'BEGIN { printf "test lines %d, source lines %d, ratio %.2f\n", t, s, t / s }'
