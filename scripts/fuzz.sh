#!/usr/bin/env bash
# Fuzzes each target for SECONDS (120 by default) from a copy of its corpus, JOBS targets at once
# (every core by default), then names every input that made a target fail: a crash, or a run of
# more than 10 seconds.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# A target's new inputs are kept in build/fuzz/runs/TARGET/corpus; copy those worth keeping, and
# every failing input with its mend, into fuzz/corpus/TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-120}
[ $# -gt 0 ] && shift
case "$SECONDS_EACH" in ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2; exit 2;; esac
bash scripts/deps.sh
FUZZ_BUILD=${FUZZ_BUILD_DIR:-build/fuzz}
JOBS=${JOBS:-$(nproc)}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for definition in fuzz/*.cmake; do targets+=("$(basename "$definition" .cmake)"); done
fi
for target in "${targets[@]}"; do
  [ -f "fuzz/$target.cmake" ] || { echo "scripts/fuzz.sh: no fuzz target named $target" >&2; exit 2; }
done
CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDORVALE_FUZZ=ON \
  -DDORVALE_BENCH=OFF >/dev/null
cmake --build "$FUZZ_BUILD" -j "$JOBS" --target "${targets[@]}"

fuzz_one() {
  local target=$1 run="$FUZZ_BUILD/runs/$1"
  rm -rf "$run" && mkdir -p "$run/corpus" "$run/found"
  cp -r "fuzz/corpus/$target/." "$run/corpus/"
  local dict=() asan=${ASAN_OPTIONS:-}
  [ -f "fuzz/$target.dict" ] && dict=("-dict=fuzz/$target.dict")
  # Debian's libvorbis leaks a few KB inside libsndfile on some malformed Ogg headers; that is
  # outside this project, so leaks are not looked for in the sound target alone (in the
  # sanitizer's options: fork mode does not hand -detect_leaks to its jobs).
  [ "$target" = sound_data ] && asan="${asan:+$asan:}detect_leaks=0"
  # -fork keeps fuzzing past a failure, so one run finds every kind of failure, not the first; a
  # slow input is written to found/ as a crash is.
  ASAN_OPTIONS=$asan "$FUZZ_BUILD/fuzz/$target" "$run/corpus" "${dict[@]}" -max_total_time="$SECONDS_EACH" \
    -timeout=10 -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -artifact_prefix="$run/found/" \
    >"$run/log" 2>&1 || true
}
export -f fuzz_one
export FUZZ_BUILD SECONDS_EACH
printf '%s\n' "${targets[@]}" | xargs -P "$JOBS" -I{} bash -c 'fuzz_one {}'

failed=0
for target in "${targets[@]}"; do
  found=$(find "$FUZZ_BUILD/runs/$target/found" -type f | sort)
  if [ -n "$found" ]; then
    failed=1
    echo "fuzz target $target failed on:"
    printf '  %s\n' $found
  else
    echo "fuzz target $target: nothing found in ${SECONDS_EACH} s (log: $FUZZ_BUILD/runs/$target/log)"
  fi
done
exit $failed
