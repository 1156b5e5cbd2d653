#!/usr/bin/env bash
# Installs what is missing, builds the release build and starts the client in the console. Without
# DORVALE_BACKEND_URL it runs the client on the sample backend, which it starts first (its state
# kept beside the client's data) and stops when the client ends. Any arguments (a script file) go
# to the client and are read from the caller's directory.
# NO_BUILD=1 runs the binaries already in BUILD_DIR, installing and building nothing (the tests do).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build/release}
build() {
  [ "${NO_BUILD:-}" = 1 ] && return
  bash "$ROOT/scripts/deps.sh" >&2
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVALE_TESTS=OFF -DDORVALE_BENCH=OFF >&2
  cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target "$@" >&2
}
# The data directory is private to its owner, as the client would make it (missing parents too);
# the default one is closed also when an earlier run left it readable by everyone. A directory the
# user named keeps its mode (it may be shared): what the programs write in it is private.
DATA=${DORVALE_DATA_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/dorvale}
(umask 077 && mkdir -p "$DATA")
[ -n "${DORVALE_DATA_DIR:-}" ] || chmod 700 "$DATA"
if [ -n "${DORVALE_BACKEND_URL:-}" ]; then
  build dorvale
  exec "$BUILD/src/main/dorvale" "$@"
fi
build dorvale sample_backend

STATE=$DATA/sample_backend
LOG=$STATE/requests.log
# The backend makes its directory and request log private itself and refuses what it did not make
# there (a shell redirect would follow a link planted in the log's place). Its lines about itself
# come here with its banner, so nothing is read back from a file in that directory.
exec {BACKEND}< <(umask 077; exec "$BUILD/tools/sample_backend/sample_backend" --data "$STATE" --request-log 2>&1 </dev/null)
SERVER=$! RELAY=""
trap 'kill "$SERVER" 2>/dev/null || true; wait "$SERVER" 2>/dev/null || true
  [ -z "$RELAY" ] || wait "$RELAY" 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM
PORT="" DEMO="" REASON=""
while read -r word rest <&"$BACKEND"; do
  case $word in
    DEMO) DEMO=$rest ;;
    LISTENING) PORT=$rest; break ;;
    # Its own reason comes last.
    sample_backend:) REASON=$rest ;;
  esac
done
if [ -z "$PORT" ]; then
  STATUS=0
  wait "$SERVER" || STATUS=$?
  if [ "$STATUS" -eq 3 ]; then
    # Its own advice names --data, which this script sets from DORVALE_DATA_DIR.
    HOLDER=unknown
    [[ $REASON =~ \(process\ ([0-9]+)\) ]] && HOLDER=${BASH_REMATCH[1]}
    echo "The sample backend did not start: another one (process $HOLDER) is already running on $STATE;" \
      "stop it, or give this run other data with DORVALE_DATA_DIR=DIR." >&2
    exit 1
  fi
  # The log is named only when it is the user's own file, not a link planted in its place.
  SEE=""
  if [ -f "$LOG" ] && [ ! -L "$LOG" ] && [ -O "$LOG" ]; then SEE="; see $LOG"; fi
  echo "The sample backend did not start${REASON:+: $REASON}$SEE" >&2
  exit 1
fi
# What it says later (why it stopped) comes here as it comes; read on, it never waits on a full pipe.
cat <&"$BACKEND" >&2 &
RELAY=$!
exec {BACKEND}<&-
echo "Sample backend at http://127.0.0.1:$PORT/BrevantTest/ (state in $STATE)." >&2
case $DEMO in
  *" "*) echo "Sign in with e-mail ${DEMO% *} and password ${DEMO#* }." >&2 ;;
  *) echo "Sign in with e-mail $DEMO and its password (the demo password was changed)." >&2 ;;
esac
echo "The backend's request log is $LOG; the client's developer log is $(dirname "$STATE")/dorvale.log." >&2
# Facebook's dialog and Graph calls and the Zedodo provider go to the sample backend's stand-ins
# too (Facebook for a sample app id), unless set.
export DORVALE_FACEBOOK_DIALOG_URL=${DORVALE_FACEBOOK_DIALOG_URL:-http://127.0.0.1:$PORT/facebook/dialog/oauth}
export DORVALE_FACEBOOK_GRAPH_URL=${DORVALE_FACEBOOK_GRAPH_URL:-http://127.0.0.1:$PORT/facebook/graph/}
export DORVALE_FACEBOOK_APP_ID=${DORVALE_FACEBOOK_APP_ID:-dorvale-sample-app}
export DORVALE_ZEDODO_URL=${DORVALE_ZEDODO_URL:-http://127.0.0.1:$PORT/zedodo}
DORVALE_BACKEND_URL="http://127.0.0.1:$PORT/BrevantTest/" "$BUILD/src/main/dorvale" "$@"
